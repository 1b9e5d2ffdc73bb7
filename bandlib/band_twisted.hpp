// The two-way natural-order solve: the top half of the band factored from
// the first column down, the bottom half from the last column up, each by
// one thread, meeting in a dense system of 2·hb unknowns. It does the
// arithmetic of one Cholesky solve, where cyclic reduction does two to
// three times as much, and the split depends on n alone, so the bits are
// the same on one thread as on two.
//
// With A11 = L1·L1ᵀ and J·A22·J = L2·L2ᵀ (J reverses the order, R2 = J·L2·J):
//   A = diag(L1, R2) · [I C; Cᵀ I] · diag(L1, R2)ᵀ,  C = L1⁻¹·A12·R2⁻ᵀ,
// and C is non-zero only where the last hb rows of the top meet the first
// hb columns of the bottom. (Hermitian: every ᵀ is ᴴ.)
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "bandlib/band_row_blocks.hpp"
#include "bandlib/band_tuning.hpp"
#include "kernels/element_traits.hpp"
#include "kernels/subnormals.hpp"
#include "runtime/team.hpp"
#include "runtime/workers.hpp"

namespace pband::detail {

// The first row of the bottom half is split + 1 (rows counted from 1).
inline std::int64_t twisted_split(std::int64_t n) { return n / 2; }

// A two-way factor, in elements: the bottom half's band in reversed order
// and the seam's four hb × hb matrices. Its solves add the bottom half's
// right-hand sides in reversed order.
inline std::int64_t twisted_factor_elements(std::int64_t n, std::int64_t hb) {
  return (n - twisted_split(n)) * (hb + 1) + 4 * hb * hb;
}
inline std::int64_t twisted_rhs_elements(std::int64_t n, std::int64_t nrhs) {
  return (n - twisted_split(n)) * nrhs;
}

// Factors columns 1 … n of a band in place on one thread, pivot block by
// pivot block as the band routines' sweep does; false when a pivot fails.
template <class T>
bool factor_alone(T* A, std::int64_t n, std::int64_t kd, std::int64_t nb) {
  Flags flags = {0, 0};
  std::int32_t parity = 1;
  for (std::int64_t a = 1; a <= n; a += nb) {
    const std::int64_t m = std::max<std::int64_t>(a - nb, 1);
    const std::int64_t g = std::min(a + kd, n);
    for (std::int64_t t = a; t <= g;) {
      const std::int64_t w = t == a ? nb : 2 * nb;
      const std::int64_t o = std::min(n, t + w - 1);
      forward_row_block<T>(A, nullptr, kd, a, m, a - 1, t, o, RealOf<T>(0),
                           flags, parity);
      t += w;
    }
    if (flags[parity - 1].load(std::memory_order_relaxed) != 0) return false;
    parity = 3 - parity;
  }
  return true;
}

// L·y = b and Lᵀ·x = y on one column of n rows.
template <class T>
void forward_alone(const T* L, std::int64_t n, std::int64_t kd, T* b) {
  substitute_forward_block(L, b, kd, 1, 1, 1, n);
}
template <class T>
void backward_alone(const T* L, std::int64_t n, std::int64_t kd, T* b) {
  backward_row_block(L, b, kd, n, n, 1, n);
}

// The one-way factor (factor), its solve (solve) or both, on the calling
// thread: the band routines' order with no team. Status 1 when a pivot
// fails, else 0.
template <class T>
std::int32_t one_way_run(T* A, std::int64_t n, std::int64_t hb, T* B,
                         std::int64_t nrhs, bool factor, bool solve) {
  // As every solve of the library's calls.
  const FlushSubnormals flush(true);
  if (factor && !factor_alone(A, n, hb, band_block_width(hb))) return 1;
  for (std::int64_t q = 0; solve && q < nrhs; ++q) {
    forward_alone(A, n, hb, B + q * n);
    backward_alone(A, n, hb, B + q * n);
  }
  return 0;
}

// Everything the threads of one two-way run share. It factors, solves
// with the factor, or both.
template <class T>
struct TwistedRun {
  T* A = nullptr;   // the band, stride hb + 1; its top half becomes L1
  T* B = nullptr;   // nrhs columns of n rows
  T* W = nullptr;   // twisted_factor_elements: the rest of the factor
  T* Bw = nullptr;  // twisted_rhs_elements
  std::int64_t n = 0, hb = 0, nrhs = 0, nb = 1;
  bool factor = true, solve = true;
  Team team;
  std::atomic<std::int32_t> claims[2] = {0, 0};
  std::atomic<std::int32_t> failed = 0;

  std::int64_t top() const { return twisted_split(n); }
  std::int64_t bottom() const { return n - top(); }
  T* reversed_band() const { return W; }
  T* reversed_rhs() const { return Bw; }
  T* seam() const { return W + bottom() * (hb + 1); }
};

// Copies the bottom half's band into `to` in reversed order: its element
// (i, j), j ≤ i, becomes (N + 1 − j, N + 1 − i) of the reversed matrix.
template <class T>
void reverse_bottom(const TwistedRun<T>& r, T* to) {
  using Tr = ElementTraits<T>;
  const std::int64_t N = r.bottom(), s = r.hb + 1;
  const T* from = r.A + r.top() * s;
  for (std::int64_t jr = 0; jr < N; ++jr) {  // column jr of the reversal
    const std::int64_t rows = std::min(r.hb, N - 1 - jr);
    for (std::int64_t d = 0; d <= rows; ++d)
      to[jr * s + d] = Tr::mirror(from[(N - 1 - jr - d) * s + d]);
  }
}

// Phase 1 of one half: the factor, then the forward substitutions.
template <class T>
void twisted_forward(TwistedRun<T>& r, int half) {
  const std::int64_t top = r.top(), N = r.bottom();
  T* L = half == 0 ? r.A : r.reversed_band();
  const std::int64_t rows = half == 0 ? top : N;
  if (r.factor) {
    if (half == 1) reverse_bottom(r, r.reversed_band());
    if (!factor_alone(L, rows, r.hb, r.nb)) {
      r.failed.store(1, std::memory_order_relaxed);
      return;
    }
  }
  if (!r.solve) return;
  for (std::int64_t q = 0; q < r.nrhs; ++q) {
    T* y = r.B + q * r.n;
    if (half == 1) {
      y = r.reversed_rhs() + q * N;
      std::reverse_copy(r.B + q * r.n + top, r.B + (q + 1) * r.n, y);
    }
    forward_alone(L, rows, r.hb, y);
  }
}

// Phase 2 of one half: the back substitutions; the bottom's land in B.
template <class T>
void twisted_backward(TwistedRun<T>& r, int half) {
  const std::int64_t top = r.top(), N = r.bottom();
  for (std::int64_t q = 0; q < r.nrhs; ++q) {
    if (half == 0) {
      backward_alone(r.A, top, r.hb, r.B + q * r.n);
    } else {
      T* y = r.reversed_rhs() + q * N;
      backward_alone(r.reversed_band(), N, r.hb, y);
      std::reverse_copy(y, y + N, r.B + q * r.n + top);
    }
  }
}

// The seam, between the phases: with h = hb, the top's last h unknowns z1
// and the reversed bottom's last h unknowns z2 solve
//   [I Cr; Crᵀ I]·[w1; w2] = [z1; z2],  Cr = L1ₛ⁻¹·A12·J·L2ₛ⁻ᵀ,
// where L1ₛ, L2ₛ are the trailing h × h triangles of the two factors.
// The factor's part forms Cr and factors S = I − Crᵀ·Cr (false when S is
// not positive definite); the solve's part finds w.
template <class T>
bool twisted_seam_factor(TwistedRun<T>& r) {
  using Tr = ElementTraits<T>;
  const std::int64_t h = r.hb, s = r.hb + 1, top = r.top(), N = r.bottom();
  T* L1 = r.seam();   // L1ₛ, dense column-major
  T* L2 = L1 + h * h; // L2ₛ
  T* Cr = L2 + h * h; // A12·J, then Cr
  T* S = Cr + h * h;  // I − Crᵀ·Cr in band form with hb − 1
  const T* band2 = r.reversed_band();
  for (std::int64_t j = 0; j < h; ++j)
    for (std::int64_t i = 0; i < h; ++i) {
      L1[j * h + i] = i >= j ? r.A[(top - h + j) * s + (i - j)] : Tr::zero();
      L2[j * h + i] = i >= j ? band2[(N - h + j) * s + (i - j)] : Tr::zero();
    }
  // A12(i, k) for top row top − h + i and bottom row top + k lies in the
  // lower band at column top − h + i, offset h − i + k (zero beyond hb);
  // column k of A12·J is column h − 1 − k of A12.
  for (std::int64_t k = 0; k < h; ++k)
    for (std::int64_t i = 0; i < h; ++i) {
      const std::int64_t kk = h - 1 - k, d = h - i + kk;
      Cr[k * h + i] = d <= r.hb ? Tr::mirror(r.A[(top - h + i) * s + d])
                                : Tr::zero();
    }
  // Cr ← L1ₛ⁻¹·Cr, column by column.
  for (std::int64_t k = 0; k < h; ++k) {
    T* c = Cr + k * h;
    for (std::int64_t i = 0; i < h; ++i) {
      const T ci = Tr::div(c[i], L1[i * h + i]);
      c[i] = ci;
      for (std::int64_t p = i + 1; p < h; ++p)
        c[p] = Tr::msub(c[p], L1[i * h + p], ci);
    }
  }
  // Cr ← Cr·L2ₛ⁻ᵀ: row by row, L2ₛ·(row)ᵀ = (row)ᵀ, as a forward solve.
  for (std::int64_t i = 0; i < h; ++i)
    for (std::int64_t k = 0; k < h; ++k) {
      T v = Cr[k * h + i];
      for (std::int64_t p = 0; p < k; ++p)
        v = Tr::msub(v, Cr[p * h + i], Tr::mirror(L2[p * h + k]));
      Cr[k * h + i] = Tr::div(v, Tr::mirror(L2[k * h + k]));
    }
  // S = I − Crᵀ·Cr, lower triangle, column q at S + q·h.
  for (std::int64_t q = 0; q < h; ++q)
    for (std::int64_t p = q; p < h; ++p) {
      T v = p == q ? T(1) : Tr::zero();
      for (std::int64_t k = 0; k < h; ++k)
        v = Tr::msub(v, Tr::mirror(Cr[p * h + k]), Cr[q * h + k]);
      S[q * h + (p - q)] = v;
    }
  Flags flags = {0, 0};
  DiagonalBlockEntry<T>::factor(S, static_cast<std::int32_t>(h - 1), 1,
                                static_cast<std::int32_t>(h), RealOf<T>(0),
                                flags, 1);
  return flags[0].load(std::memory_order_relaxed) == 0;
}

template <class T>
void twisted_seam_solve(TwistedRun<T>& r) {
  using Tr = ElementTraits<T>;
  const std::int64_t h = r.hb, top = r.top(), N = r.bottom();
  const T* Cr = r.seam() + 2 * h * h;
  const T* S = Cr + h * h;
  for (std::int64_t q = 0; q < r.nrhs; ++q) {
    T* z1 = r.B + q * r.n + top - h;
    T* z2 = r.reversed_rhs() + q * N + N - h;
    // z2 ← z2 − Crᵀ·z1, then S·w2 = z2, then z1 ← z1 − Cr·w2.
    for (std::int64_t p = 0; p < h; ++p) {
      T v = z2[p];
      for (std::int64_t k = 0; k < h; ++k)
        v = Tr::msub(v, Tr::mirror(Cr[p * h + k]), z1[k]);
      z2[p] = v;
    }
    forward_alone(S, h, h - 1, z2);
    backward_alone(S, h, h - 1, z2);
    for (std::int64_t p = 0; p < h; ++p) {
      const T w = z2[p];
      for (std::int64_t k = 0; k < h; ++k)
        z1[k] = Tr::msub(z1[k], Cr[p * h + k], w);
    }
  }
}

template <class T>
void twisted_worker(TwistedRun<T>& r) {
  const FlushSubnormals flush(true);
  // The launcher holds the mutex until it knows the team and has armed the
  // first phase end: no thread may arrive there before.
  if (r.team.mutex != 0) {
    mutex_lock(r.team.mutex);
    mutex_unlock(r.team.mutex);
  }
  for (int half; (half = r.claims[0].fetch_add(1)) < 2;)
    twisted_forward(r, half);
  end_phase(r.team, 1, [&] {
    if (r.failed.load(std::memory_order_relaxed) != 0) return;
    if (r.factor && !twisted_seam_factor(r))
      r.failed.store(1, std::memory_order_relaxed);
    else if (r.solve)
      twisted_seam_solve(r);
  });
  if (r.failed.load(std::memory_order_relaxed) != 0 || !r.solve) return;
  for (int half; (half = r.claims[1].fetch_add(1)) < 2;)
    twisted_backward(r, half);
}

// The two-way factor (factor), its solve (solve) or both, on at most two
// threads. A: n × n band, stride hb + 1 (its top half becomes L1; with
// factor only and when solving, it holds the factor's top); B: nrhs
// columns n apart; W: twisted_factor_elements; Bw: twisted_rhs_elements.
// Needs n ≥ 4·(hb + 1). Status 1 when a pivot fails (A, W and B are then
// undefined), else 0.
template <class T>
std::int32_t twisted_run(T* A, std::int64_t n, std::int64_t hb, T* B,
                         std::int64_t nrhs, T* W, T* Bw, bool factor,
                         bool solve, std::int32_t threads) {
  TwistedRun<T> r;
  r.A = A;
  r.B = B;
  r.W = W;
  r.Bw = Bw;
  r.n = n;
  r.hb = hb;
  r.nrhs = nrhs;
  r.nb = band_block_width(hb);
  r.factor = factor;
  r.solve = solve;
  auto go = [&](std::int32_t& w) {
    launch_worker(w, &twisted_worker<T>, r);
  };
  run_team(r.team, std::clamp<std::int32_t>(threads, 1, 2), go,
           [&] { twisted_worker(r); });
  return r.failed.load() != 0 ? 1 : 0;
}

}  // namespace pband::detail
