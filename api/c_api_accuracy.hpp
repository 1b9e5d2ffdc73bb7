// The accuracy calls of the C interface written once over the element
// type: argument checks in argument order, the band narrowed to the
// matrix, the team asked for. Private: included only through
// c_api_members.hpp.
#pragma once

#include <algorithm>
#include <cstdint>

#include "accuracy/band_accuracy.hpp"
#include "api/c_api.hpp"
#include "kernels/element_traits.hpp"

namespace pband::api {

// The accuracy routines of one element type.
template <class T>
struct AccuracyEntries {
  RealOf<T> (*norm1)(const BandCall<T>& call, std::int32_t team);
  void (*product)(const BandCall<T>& call, std::int32_t team);
};

// Arguments 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab: the band every call reads.
inline int check_band(std::int32_t n, std::int32_t hb, std::int32_t nrhs,
                      const void* ab, std::int32_t ldab) {
  if (n < 0) return -1;
  if (hb < 0) return -2;
  if (nrhs < 0) return -3;
  if (ab == nullptr && n > 0) return -4;
  if (ldab < std::int64_t(hb) + 1) return -5;
  return 0;
}

// An n × nrhs array at argument position `at`, its leading dimension at
// at + 1; 0 when both are acceptable.
inline int check_block(std::int32_t n, std::int32_t nrhs, const void* a,
                       std::int32_t ld, int at) {
  if (a == nullptr && n > 0 && nrhs > 0) return -at;
  if (ld < std::max<std::int32_t>(1, n)) return -(at + 1);
  return 0;
}

template <class T>
BandCall<T> band_call(std::int32_t n, std::int32_t hb, std::int32_t nrhs,
                      const T* ab, std::int32_t ldab) {
  BandCall<T> c;
  c.ab = ab;
  c.n = n;
  c.hb = effective_hb(n, hb);
  c.ldab = ldab;
  c.nrhs = nrhs;
  return c;
}

// Arguments 1 n, 2 hb, 3 ab, 4 ldab, 5 anorm, 6 threads.
template <class T>
int norm1(const AccuracyEntries<T>& e, std::int32_t n, std::int32_t hb,
          const T* ab, std::int32_t ldab, RealOf<T>* anorm,
          std::int32_t threads) {
  if (n < 0) return -1;
  if (hb < 0) return -2;
  if (ab == nullptr && n > 0) return -3;
  if (ldab < std::int64_t(hb) + 1) return -4;
  if (anorm == nullptr) return -5;
  *anorm = e.norm1(band_call(n, hb, 1, ab, ldab), team_for(threads));
  return 0;
}

// Arguments 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab, 6 x, 7 ldx, 8 y, 9 ldy,
// 10 threads.
template <class T>
int multiply(const AccuracyEntries<T>& e, std::int32_t n, std::int32_t hb,
             std::int32_t nrhs, const T* ab, std::int32_t ldab, const T* x,
             std::int32_t ldx, T* y, std::int32_t ldy, std::int32_t threads) {
  int bad = check_band(n, hb, nrhs, ab, ldab);
  if (bad == 0) bad = check_block(n, nrhs, x, ldx, 6);
  if (bad == 0) bad = check_block(n, nrhs, y, ldy, 8);
  if (bad != 0) return bad;
  BandCall<T> c = band_call(n, hb, nrhs, ab, ldab);
  c.x = x;
  c.ldx = ldx;
  c.out = y;
  c.ldo = ldy;
  e.product(c, team_for(threads));
  return 0;
}

// Arguments 1 n, 2 hb, 3 nrhs, 4 ab, 5 ldab, 6 x, 7 ldx, 8 b, 9 ldb,
// 10 r, 11 ldr, 12 threads. r may be b itself only with ldr = ldb: a
// shifted alias would read rows already overwritten.
template <class T>
int residual(const AccuracyEntries<T>& e, std::int32_t n, std::int32_t hb,
             std::int32_t nrhs, const T* ab, std::int32_t ldab, const T* x,
             std::int32_t ldx, const T* b, std::int32_t ldb, T* r,
             std::int32_t ldr, std::int32_t threads) {
  int bad = check_band(n, hb, nrhs, ab, ldab);
  if (bad == 0) bad = check_block(n, nrhs, x, ldx, 6);
  if (bad == 0) bad = check_block(n, nrhs, b, ldb, 8);
  if (bad == 0) bad = check_block(n, nrhs, r, ldr, 10);
  if (bad == 0 && r == b && r != nullptr && ldr != ldb) bad = -11;
  if (bad != 0) return bad;
  BandCall<T> c = band_call(n, hb, nrhs, ab, ldab);
  c.x = x;
  c.ldx = ldx;
  c.b = b;
  c.ldb = ldb;
  c.out = r;
  c.ldo = ldr;
  e.product(c, team_for(threads));
  return 0;
}

}  // namespace pband::api
