// The compiled core of the Python package pband: the C interface on NumPy
// arrays that the package has already put into its layout (Fortran order,
// lower band form, one native element type). Each call releases the GIL
// while it solves.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "pband/pband.h"

namespace py = pybind11;

namespace {

enum class Type { s, d, c, z };

// The element type of an array, which must be native and Fortran
// ordered; `rows` and `cols` are its two dimensions.
Type element_type(const py::array& a, const char* name, bool writable,
                  std::int32_t& rows, std::int32_t& cols) {
  if (a.ndim() != 2 || !(a.flags() & py::array::f_style))
    throw py::value_error(std::string(name) +
                          ": a 2-D array in Fortran order is needed");
  if (writable && !a.writeable())
    throw py::value_error(std::string(name) + ": read-only array");
  constexpr auto most = py::ssize_t(std::numeric_limits<std::int32_t>::max());
  if (a.shape(0) > most || a.shape(1) > most)
    throw py::value_error(std::string(name) + ": more than 2^31 - 1 rows "
                          "or columns");
  rows = static_cast<std::int32_t>(a.shape(0));
  cols = static_cast<std::int32_t>(a.shape(1));
  const py::dtype t = a.dtype();
  if (!t.attr("isnative").cast<bool>())
    throw py::value_error(std::string(name) + ": non-native byte order");
  const char kind = t.kind();
  const auto size = t.itemsize();
  if (kind == 'f' && size == 4) return Type::s;
  if (kind == 'f' && size == 8) return Type::d;
  if (kind == 'c' && size == 8) return Type::c;
  if (kind == 'c' && size == 16) return Type::z;
  throw py::type_error(std::string(name) + ": float32, float64, complex64 "
                       "or complex128 elements are needed");
}

// Two arrays of one element type: the band and the right-hand sides.
Type system_type(const py::array& ab, bool ab_writable, const py::array& b,
                 std::int32_t& rows, std::int32_t& n, std::int32_t& nrhs) {
  const Type t = element_type(ab, "ab", ab_writable, rows, n);
  std::int32_t b_rows = 0;
  if (element_type(b, "b", true, b_rows, nrhs) != t)
    throw py::type_error("ab and b must have the same element type");
  if (b_rows != n)
    throw py::value_error("b must have as many rows as ab has columns");
  return t;
}

// The arrays' memory, taken while the GIL is held.
struct Memory {
  void* ab;
  void* b;
  template <class T>
  T* a() const { return static_cast<T*>(ab); }
  template <class T>
  T* x() const { return static_cast<T*>(b); }
};

// Factor-and-solve by cyclic reduction; returns the C status.
int solve(py::array ab, py::array b, std::int32_t threads) {
  std::int32_t rows = 0, n = 0, nrhs = 0;
  const Type t = system_type(ab, true, b, rows, n, nrhs);
  const std::int32_t hb = rows - 1, ldb = std::max(n, 1);
  const Memory m{ab.mutable_data(), b.mutable_data()};
  py::gil_scoped_release unlocked;
  using C = pband_complex_float;
  using Z = pband_complex_double;
  switch (t) {
    case Type::s:
      return pband_solve_s(n, hb, nrhs, m.a<float>(), rows, m.x<float>(),
                           ldb, threads);
    case Type::d:
      return pband_solve_d(n, hb, nrhs, m.a<double>(), rows, m.x<double>(),
                           ldb, threads);
    case Type::c:
      return pband_solve_c(n, hb, nrhs, m.a<C>(), rows, m.x<C>(), ldb,
                           threads);
    case Type::z:
      return pband_solve_z(n, hb, nrhs, m.a<Z>(), rows, m.x<Z>(), ldb,
                           threads);
  }
  return -1;
}

// Natural-order factorization in place; returns the C status (> 0: the
// failing column).
int cholesky(py::array ab, std::int32_t threads) {
  std::int32_t rows = 0, n = 0;
  const Type t = element_type(ab, "ab", true, rows, n);
  const std::int32_t hb = rows - 1;
  const Memory m{ab.mutable_data(), nullptr};
  py::gil_scoped_release unlocked;
  switch (t) {
    case Type::s:
      return pband_cholesky_s(n, hb, m.a<float>(), rows, threads);
    case Type::d:
      return pband_cholesky_d(n, hb, m.a<double>(), rows, threads);
    case Type::c:
      return pband_cholesky_c(n, hb, m.a<pband_complex_float>(), rows,
                              threads);
    case Type::z:
      return pband_cholesky_z(n, hb, m.a<pband_complex_double>(), rows,
                              threads);
  }
  return -1;
}

// Solves with a factor from cholesky; cb is only read.
int cholesky_solve(py::array cb, py::array b, std::int32_t threads) {
  std::int32_t rows = 0, n = 0, nrhs = 0;
  const Type t = system_type(cb, false, b, rows, n, nrhs);
  const std::int32_t hb = rows - 1, ldb = std::max(n, 1);
  const Memory m{const_cast<void*>(cb.data()), b.mutable_data()};
  py::gil_scoped_release unlocked;
  using C = pband_complex_float;
  using Z = pband_complex_double;
  switch (t) {
    case Type::s:
      return pband_cholesky_solve_s(n, hb, nrhs, m.a<float>(), rows,
                                    m.x<float>(), ldb, threads);
    case Type::d:
      return pband_cholesky_solve_d(n, hb, nrhs, m.a<double>(), rows,
                                    m.x<double>(), ldb, threads);
    case Type::c:
      return pband_cholesky_solve_c(n, hb, nrhs, m.a<C>(), rows, m.x<C>(),
                                    ldb, threads);
    case Type::z:
      return pband_cholesky_solve_z(n, hb, nrhs, m.a<Z>(), rows, m.x<Z>(),
                                    ldb, threads);
  }
  return -1;
}

}  // namespace

PYBIND11_MODULE(_pband, m) {
  m.doc() = "Compiled core of pband; use the functions of the package.";
  m.def("solve", &solve, py::arg("ab"), py::arg("b"), py::arg("threads"));
  m.def("cholesky", &cholesky, py::arg("ab"), py::arg("threads"));
  m.def("cholesky_solve", &cholesky_solve, py::arg("cb"), py::arg("b"),
        py::arg("threads"));
  m.def("status_message", &pband_status_message, py::arg("status"));
  m.def("version", &pband_version);
}
