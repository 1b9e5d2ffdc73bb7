// The compiled core's stored factor and accuracy tools: the factor and
// its solves, the 1-norm, the condition estimate, refinement with error
// bounds, mixed precision and the band of the inverse, on arrays the
// package has put into its layout. Each call releases the GIL.
#include <algorithm>
#include <cstdint>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "pband/pband.h"
#include "python/module_arrays.hpp"

namespace pband_py {
namespace {

// Elements of the stored factor of ab (lower form), or a negative status.
std::int64_t factor_size(py::array ab) {
  std::int32_t rows = 0, n = 0;
  const Type t = element_type(ab, "ab", false, rows, n);
  const std::int32_t hb = rows - 1;
  switch (t) {
    case Type::s:
      return pband_factor_workspace_s(n, hb, rows);
    case Type::d:
      return pband_factor_workspace_d(n, hb, rows);
    case Type::c:
      return pband_factor_workspace_c(n, hb, rows);
    case Type::z:
      return pband_factor_workspace_z(n, hb, rows);
  }
  return -1;
}

// The stored cyclic-reduction factor of ab (lower form), factored in
// place, into f (factor_size elements of ab's type); the C status.
int factor(py::array ab, py::array f, std::int32_t threads) {
  std::int32_t rows = 0, n = 0;
  const Type t = element_type(ab, "ab", true, rows, n);
  if (f.ndim() != 1 || type_of(f, "factor") != t || !f.writeable() ||
      !(f.flags() & py::array::c_style))
    throw py::type_error("factor: a writable 1-D array of ab's type");
  const std::int32_t hb = rows - 1;
  const std::int64_t size = static_cast<std::int64_t>(f.shape(0));
  void* ap = ab.mutable_data();
  void* fp = f.mutable_data();
  py::gil_scoped_release unlocked;
  using C = pband_complex_float;
  using Z = pband_complex_double;
  switch (t) {
    case Type::s:
      return pband_factor_s(n, hb, static_cast<float*>(ap), rows,
                            static_cast<float*>(fp), size, threads);
    case Type::d:
      return pband_factor_d(n, hb, static_cast<double*>(ap), rows,
                            static_cast<double*>(fp), size, threads);
    case Type::c:
      return pband_factor_c(n, hb, static_cast<C*>(ap), rows,
                            static_cast<C*>(fp), size, threads);
    case Type::z:
      return pband_factor_z(n, hb, static_cast<Z*>(ap), rows,
                            static_cast<Z*>(fp), size, threads);
  }
  return -1;
}

// Solves with a stored factor; ab and f are only read.
int solve_factored(py::array ab, py::array f, py::array b,
                   std::int32_t threads) {
  std::int32_t rows = 0, n = 0, nrhs = 0;
  const Type t = system_type(ab, false, b, rows, n, nrhs);
  if (f.ndim() != 1 || type_of(f, "factor") != t)
    throw py::type_error("factor: a 1-D array of ab's element type");
  const std::int32_t hb = rows - 1, ldb = std::max(n, 1);
  const std::int64_t size = static_cast<std::int64_t>(f.shape(0));
  const void* ap = ab.data();
  const void* fp = f.data();
  void* bp = b.mutable_data();
  py::gil_scoped_release unlocked;
  using C = pband_complex_float;
  using Z = pband_complex_double;
  switch (t) {
    case Type::s:
      return pband_solve_factored_s(n, hb, nrhs, static_cast<const float*>(ap),
                                    rows, static_cast<const float*>(fp), size,
                                    static_cast<float*>(bp), ldb, threads);
    case Type::d:
      return pband_solve_factored_d(n, hb, nrhs, static_cast<const double*>(ap),
                                    rows, static_cast<const double*>(fp), size,
                                    static_cast<double*>(bp), ldb, threads);
    case Type::c:
      return pband_solve_factored_c(n, hb, nrhs, static_cast<const C*>(ap),
                                    rows, static_cast<const C*>(fp), size,
                                    static_cast<C*>(bp), ldb, threads);
    case Type::z:
      return pband_solve_factored_z(n, hb, nrhs, static_cast<const Z*>(ap),
                                    rows, static_cast<const Z*>(fp), size,
                                    static_cast<Z*>(bp), ldb, threads);
  }
  return -1;
}

// The band of A⁻¹ into z from a natural-order factor l (both lower form).
int inverse_band(py::array l, py::array z) {
  std::int32_t rows = 0, n = 0, z_rows = 0, z_n = 0;
  const Type t = element_type(l, "l", false, rows, n);
  if (element_type(z, "z", true, z_rows, z_n) != t || z_rows != rows ||
      z_n != n)
    throw py::value_error("z: l's shape and element type are needed");
  const void* lp = l.data();
  void* zp = z.mutable_data();
  const std::int32_t hb = rows - 1;
  py::gil_scoped_release unlocked;
  using C = pband_complex_float;
  using Z = pband_complex_double;
  switch (t) {
    case Type::s:
      return pband_inverse_band_s(n, hb, static_cast<const float*>(lp), rows,
                                  static_cast<float*>(zp), rows);
    case Type::d:
      return pband_inverse_band_d(n, hb, static_cast<const double*>(lp), rows,
                                  static_cast<double*>(zp), rows);
    case Type::c:
      return pband_inverse_band_c(n, hb, static_cast<const C*>(lp), rows,
                                  static_cast<C*>(zp), rows);
    case Type::z:
      return pband_inverse_band_z(n, hb, static_cast<const Z*>(lp), rows,
                                  static_cast<Z*>(zp), rows);
  }
  return -1;
}

// The accuracy tools' entries of one element type of the C header.
template <class C>
struct Tools;
#define PBAND_PY_TOOLS(C, R, L)                       \
  template <>                                         \
  struct Tools<C> {                                   \
    using Elem = C;                                   \
    using Real = R;                                   \
    static constexpr auto norm1 = &pband_norm1_##L;   \
    static constexpr auto rcond = &pband_rcond_##L;   \
    static constexpr auto refine = &pband_refine_##L; \
  };
PBAND_PY_TOOLS(float, float, s)
PBAND_PY_TOOLS(double, double, d)
PBAND_PY_TOOLS(pband_complex_float, float, c)
PBAND_PY_TOOLS(pband_complex_double, double, z)
#undef PBAND_PY_TOOLS

// f(Tools<C>{}) for the element type t.
template <class F>
auto with_tools(Type t, F&& f) {
  switch (t) {
    case Type::s:
      return f(Tools<float>{});
    case Type::d:
      return f(Tools<double>{});
    case Type::c:
      return f(Tools<pband_complex_float>{});
    case Type::z:
      break;
  }
  return f(Tools<pband_complex_double>{});
}

template <class K>
const typename K::Elem* in(const py::array& a) {
  return static_cast<const typename K::Elem*>(a.data());
}
template <class K>
typename K::Elem* out(py::array& a) {
  return static_cast<typename K::Elem*>(a.mutable_data());
}

// ‖A‖₁ of ab (lower form): (status, norm).
py::tuple norm1(py::array ab, std::int32_t threads) {
  std::int32_t rows = 0, n = 0;
  const Type t = element_type(ab, "ab", false, rows, n);
  return with_tools(t, [&](auto k) {
    using K = decltype(k);
    typename K::Real value = 0;
    int status = 0;
    {
      py::gil_scoped_release unlocked;
      status = K::norm1(n, rows - 1, in<K>(ab), rows, &value, threads);
    }
    return py::make_tuple(status, double(value));
  });
}

// The condition estimate from a stored factor: (status, rcond).
py::tuple rcond(py::array ab, py::array f, double anorm, std::int32_t threads) {
  std::int32_t rows = 0, n = 0;
  const Type t = element_type(ab, "ab", false, rows, n);
  if (f.ndim() != 1 || type_of(f, "factor") != t)
    throw py::type_error("factor: a 1-D array of ab's element type");
  const auto size = static_cast<std::int64_t>(f.shape(0));
  return with_tools(t, [&](auto k) {
    using K = decltype(k);
    typename K::Real value = 0;
    int status = 0;
    {
      py::gil_scoped_release unlocked;
      status = K::rcond(n, rows - 1, in<K>(ab), rows, in<K>(f), size,
                        typename K::Real(anorm), &value, threads);
    }
    return py::make_tuple(status, double(value));
  });
}

// Refines x (n × nrhs, Fortran order) of a·x = b with the stored factor
// (af, f) of a: (status, ferr, berr).
py::tuple refine(py::array a, py::array af, py::array f, py::array b,
                 py::array x, std::int32_t threads) {
  std::int32_t rows = 0, n = 0, nrhs = 0, x_rows = 0, x_cols = 0;
  const Type t = system_type(a, false, b, rows, n, nrhs);
  std::int32_t af_rows = 0, af_n = 0;
  if (element_type(af, "af", false, af_rows, af_n) != t || af_rows != rows ||
      af_n != n)
    throw py::value_error("af: a's shape and element type are needed");
  if (element_type(x, "x", true, x_rows, x_cols) != t || x_rows != n ||
      x_cols != nrhs)
    throw py::value_error("x: b's shape and element type are needed");
  if (f.ndim() != 1 || type_of(f, "factor") != t)
    throw py::type_error("factor: a 1-D array of a's element type");
  const auto size = static_cast<std::int64_t>(f.shape(0));
  const std::int32_t ld = std::max(n, 1);
  return with_tools(t, [&](auto k) {
    using K = decltype(k);
    using R = typename K::Real;
    py::array_t<R> ferr(nrhs), berr(nrhs);
    R* fe = ferr.mutable_data();
    R* be = berr.mutable_data();
    int status = 0;
    {
      py::gil_scoped_release unlocked;
      status = K::refine(n, rows - 1, nrhs, in<K>(a), rows, in<K>(af), rows,
                         in<K>(f), size, in<K>(b), ld, out<K>(x), ld, fe, be,
                         threads);
    }
    return py::make_tuple(status, ferr, berr);
  });
}

// Mixed precision: x of a·x = b (double or complex double): (status, iter).
py::tuple solve_mixed(py::array ab, py::array b, py::array x,
                      std::int32_t threads) {
  std::int32_t rows = 0, n = 0, nrhs = 0, x_rows = 0, x_cols = 0;
  const Type t = system_type(ab, false, b, rows, n, nrhs);
  if (t != Type::d && t != Type::z)
    throw py::type_error("float64 or complex128 elements are needed");
  if (element_type(x, "x", true, x_rows, x_cols) != t || x_rows != n ||
      x_cols != nrhs)
    throw py::value_error("x: b's shape and element type are needed");
  const std::int32_t ld = std::max(n, 1);
  std::int32_t iter = 0;
  int status = 0;
  const void* ap = ab.data();
  const void* bp = b.data();
  void* xp = x.mutable_data();
  {
    py::gil_scoped_release unlocked;
    if (t == Type::d)
      status = pband_solve_mixed_ds(
          n, rows - 1, nrhs, static_cast<const double*>(ap), rows,
          static_cast<const double*>(bp), ld, static_cast<double*>(xp), ld,
          &iter, threads);
    else
      status = pband_solve_mixed_zc(
          n, rows - 1, nrhs, static_cast<const pband_complex_double*>(ap), rows,
          static_cast<const pband_complex_double*>(bp), ld,
          static_cast<pband_complex_double*>(xp), ld, &iter, threads);
  }
  return py::make_tuple(status, iter);
}

}  // namespace

void add_factor_bindings(py::module_& m) {
  m.def("factor_size", &factor_size, py::arg("ab"));
  m.def("factor", &factor, py::arg("ab"), py::arg("factor"),
        py::arg("threads"));
  m.def("solve_factored", &solve_factored, py::arg("ab"), py::arg("factor"),
        py::arg("b"), py::arg("threads"));
  m.def("inverse_band", &inverse_band, py::arg("l"), py::arg("z"));
  m.def("norm1", &norm1, py::arg("ab"), py::arg("threads"));
  m.def("rcond", &rcond, py::arg("ab"), py::arg("factor"), py::arg("anorm"),
        py::arg("threads"));
  m.def("refine", &refine, py::arg("a"), py::arg("af"), py::arg("factor"),
        py::arg("b"), py::arg("x"), py::arg("threads"));
  m.def("solve_mixed", &solve_mixed, py::arg("ab"), py::arg("b"), py::arg("x"),
        py::arg("threads"));
}

}  // namespace pband_py
