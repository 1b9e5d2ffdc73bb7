// The C interface's equilibration written once over the element type:
// argument checks in argument order, the band narrowed to the matrix.
// Private: included only through scaling_members.hpp.
#pragma once

#include <cstdint>

#include "accuracy/band_scaling.hpp"
#include "api/c_api.hpp"
#include "kernels/element_traits.hpp"

namespace pband::api {

template <class T>
struct ScalingEntries {
  ScaleFactors<RealOf<T>> (*factors)(const T* ab, std::int64_t n,
                                     std::int64_t ldab, RealOf<T>* s);
  bool (*scale)(T* ab, std::int64_t n, std::int64_t hb, std::int64_t ldab,
                const RealOf<T>* s, RealOf<T> scond, RealOf<T> amax);
};

// Arguments 1 n, 2 hb, 3 ab, 4 ldab, 5 s, 6 scond, 7 amax.
template <class T>
int scale_factors(const ScalingEntries<T>& e, std::int32_t n, std::int32_t hb,
                  const T* ab, std::int32_t ldab, RealOf<T>* s,
                  RealOf<T>* scond, RealOf<T>* amax) {
  if (n < 0) return -1;
  if (hb < 0) return -2;
  if (ab == nullptr && n > 0) return -3;
  if (ldab < std::int64_t(hb) + 1) return -4;
  if (s == nullptr && n > 0) return -5;
  if (scond == nullptr) return -6;
  if (amax == nullptr) return -7;
  const ScaleFactors<RealOf<T>> f = e.factors(ab, n, ldab, s);
  *amax = f.amax;
  if (f.status != 0) return static_cast<int>(f.status);
  *scond = f.scond;
  return 0;
}

// Arguments 1 n, 2 hb, 3 ab, 4 ldab, 5 s, 6 scond, 7 amax, 8 equed.
template <class T>
int equilibrate(const ScalingEntries<T>& e, std::int32_t n, std::int32_t hb,
                T* ab, std::int32_t ldab, const RealOf<T>* s, RealOf<T> scond,
                RealOf<T> amax, char* equed) {
  if (n < 0) return -1;
  if (hb < 0) return -2;
  if (ab == nullptr && n > 0) return -3;
  if (ldab < std::int64_t(hb) + 1) return -4;
  if (s == nullptr && n > 0) return -5;
  if (equed == nullptr) return -8;
  *equed =
      e.scale(ab, n, effective_hb(n, hb), ldab, s, scond, amax) ? 'Y' : 'N';
  return 0;
}

}  // namespace pband::api
