// The accuracy routines of each element type: the 1-norm, the product
// A·X and the residual B − A·X of a symmetric band matrix in lower band
// storage. Arguments come checked: 0 <= hb < n (or n = 0), ldab > hb.
#pragma once

#include <complex>
#include <cstdint>

namespace pband {

// One call's arrays, column-major. x, b and out have nrhs columns; b is
// null for the product. out may be b itself (with ldo = ldb): each row
// reads its b before it writes.
template <class T>
struct BandCall {
  const T* ab = nullptr;
  std::int64_t n = 0, hb = 0, ldab = 1, nrhs = 0;
  const T* x = nullptr;
  std::int64_t ldx = 1;
  const T* b = nullptr;
  std::int64_t ldb = 1;
  T* out = nullptr;
  std::int64_t ldo = 1;
};

// team: the threads asked for, 1 … 32; fewer run when the work is small.
float band_norm1_r4(const BandCall<float>& call, std::int32_t team);
double band_norm1_r8(const BandCall<double>& call, std::int32_t team);
float band_norm1_c8(const BandCall<std::complex<float>>& call,
                    std::int32_t team);
double band_norm1_c16(const BandCall<std::complex<double>>& call,
                      std::int32_t team);

// out := A·x, or out := b − A·x when call.b is set.
void band_product_r4(const BandCall<float>& call, std::int32_t team);
void band_product_r8(const BandCall<double>& call, std::int32_t team);
void band_product_c8(const BandCall<std::complex<float>>& call,
                     std::int32_t team);
void band_product_c16(const BandCall<std::complex<double>>& call,
                      std::int32_t team);

// out(i, q) := |b(i, q)| + Σ_k |A(i, k)|·|x(k, q)|, the scale of a
// residual's rounding error (b may be null: no |b| term). Complex
// moduli are |re| + |im|, as LAPACK's refinement measures them. out is
// real, n × nrhs with leading dimension ldo.
void band_abs_product_r4(const BandCall<float>& call, float* out,
                         std::int64_t ldo, std::int32_t team);
void band_abs_product_r8(const BandCall<double>& call, double* out,
                         std::int64_t ldo, std::int32_t team);
void band_abs_product_c8(const BandCall<std::complex<float>>& call, float* out,
                         std::int64_t ldo, std::int32_t team);
void band_abs_product_c16(const BandCall<std::complex<double>>& call,
                          double* out, std::int64_t ldo, std::int32_t team);

}  // namespace pband
