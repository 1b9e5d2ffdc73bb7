// Equilibration of a symmetric band matrix in lower band storage, as
// LAPACK's ?pbequ (the scale factors) and ?laqsb (the scaling). Arguments
// come checked: 0 <= hb < n (or n = 0), ldab > hb, s of n elements.
#pragma once

#include <complex>
#include <cstdint>

namespace pband {

// What the scale factors found: status 0, or the first column (1-based)
// whose diagonal is not positive (complex: zero).
template <class R>
struct ScaleFactors {
  std::int64_t status = 0;
  R scond = 1;
  R amax = 0;
};

ScaleFactors<float> band_scale_factors_r4(const float* ab, std::int64_t n,
                                          std::int64_t ldab, float* s);
ScaleFactors<double> band_scale_factors_r8(const double* ab, std::int64_t n,
                                           std::int64_t ldab, double* s);
ScaleFactors<float> band_scale_factors_c8(const std::complex<float>* ab,
                                          std::int64_t n, std::int64_t ldab,
                                          float* s);
ScaleFactors<double> band_scale_factors_c16(const std::complex<double>* ab,
                                            std::int64_t n, std::int64_t ldab,
                                            double* s);

// A := diag(s)·A·diag(s) when the factors ask for it; true when it did.
bool band_scale_r4(float* ab, std::int64_t n, std::int64_t hb,
                   std::int64_t ldab, const float* s, float scond, float amax);
bool band_scale_r8(double* ab, std::int64_t n, std::int64_t hb,
                   std::int64_t ldab, const double* s, double scond,
                   double amax);
bool band_scale_c8(std::complex<float>* ab, std::int64_t n, std::int64_t hb,
                   std::int64_t ldab, const float* s, float scond, float amax);
bool band_scale_c16(std::complex<double>* ab, std::int64_t n, std::int64_t hb,
                    std::int64_t ldab, const double* s, double scond,
                    double amax);

}  // namespace pband
