// The compiled core of the Python package pband: the C interface on NumPy
// arrays that the package has already put into its layout (Fortran order,
// lower band form, one native element type). Each call releases the GIL
// while it solves.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <string>

#include "pband/pband.h"
#include "python/module_arrays.hpp"

namespace pband_py {
void add_factor_bindings(py::module_& m);
}

namespace py = pybind11;

namespace {

using namespace pband_py;

// Rows of a C-ordered band written into a Fortran-ordered one, a block of
// columns at a time so that the columns written stay in cache.
template <class E>
void transpose_rows(const E* from, E* to, std::int64_t rows,
                    std::int64_t cols) {
  constexpr std::int64_t kBlock = 512;
  for (std::int64_t j0 = 0; j0 < cols; j0 += kBlock) {
    const std::int64_t j1 = std::min(cols, j0 + kBlock);
    for (std::int64_t r = 0; r < rows; ++r) {
      const E* row = from + r * cols;
      for (std::int64_t j = j0; j < j1; ++j) to[j * rows + r] = row[j];
    }
  }
}

// to[...] = from for a C-ordered `from` and a Fortran-ordered `to` of the
// same shape and element type: NumPy's copy between the two orders steps
// through memory element by element, several times slower for a band's
// few long rows.
void fortran_copy(py::array from, py::array to) {
  std::int32_t rows = 0, cols = 0;
  const Type t = element_type(to, "target", true, rows, cols);
  if (from.ndim() != 2 || !(from.flags() & py::array::c_style) ||
      from.shape(0) != rows || from.shape(1) != cols ||
      type_of(from, "source") != t)
    throw py::value_error(
        "source: a C-ordered array of the target's shape and type is needed");
  const void* src = from.data();
  void* dst = to.mutable_data();
  py::gil_scoped_release unlocked;
  struct Pair {
    double re, im;
  };
  switch (t) {
    case Type::s:
      return transpose_rows(static_cast<const float*>(src),
                            static_cast<float*>(dst), rows, cols);
    case Type::d:
    case Type::c:
      return transpose_rows(static_cast<const double*>(src),
                            static_cast<double*>(dst), rows, cols);
    case Type::z:
      return transpose_rows(static_cast<const Pair*>(src),
                            static_cast<Pair*>(dst), rows, cols);
  }
}

// Factor-and-solve by cyclic reduction; returns the C status. Complex
// bands are Hermitian when `hermitian`, else complex symmetric; a real
// band is both.
int solve(py::array ab, py::array b, std::int32_t threads, bool hermitian) {
  std::int32_t rows = 0, n = 0, nrhs = 0;
  const Type t = system_type(ab, true, b, rows, n, nrhs);
  const std::int32_t hb = rows - 1, ldb = std::max(n, 1);
  const Memory m{ab.mutable_data(), b.mutable_data()};
  py::gil_scoped_release unlocked;
  using C = pband_complex_float;
  using Z = pband_complex_double;
  switch (t) {
    case Type::s:
      return pband_solve_s(n, hb, nrhs, m.a<float>(), rows, m.x<float>(), ldb,
                           threads);
    case Type::d:
      return pband_solve_d(n, hb, nrhs, m.a<double>(), rows, m.x<double>(), ldb,
                           threads);
    case Type::c:
      return (hermitian ? pband_solve_hermitian_c : pband_solve_c)(
          n, hb, nrhs, m.a<C>(), rows, m.x<C>(), ldb, threads);
    case Type::z:
      return (hermitian ? pband_solve_hermitian_z : pband_solve_z)(
          n, hb, nrhs, m.a<Z>(), rows, m.x<Z>(), ldb, threads);
  }
  return -1;
}

// Natural-order factorization in place; returns the C status (> 0: the
// failing column).
int cholesky(py::array ab, std::int32_t threads, bool hermitian) {
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
      return (hermitian ? pband_cholesky_hermitian_c : pband_cholesky_c)(
          n, hb, m.a<pband_complex_float>(), rows, threads);
    case Type::z:
      return (hermitian ? pband_cholesky_hermitian_z : pband_cholesky_z)(
          n, hb, m.a<pband_complex_double>(), rows, threads);
  }
  return -1;
}

// Solves with a factor from cholesky; cb is only read.
int cholesky_solve(py::array cb, py::array b, std::int32_t threads,
                   bool hermitian) {
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
      return (hermitian ? pband_cholesky_solve_hermitian_c
                        : pband_cholesky_solve_c)(n, hb, nrhs, m.a<C>(), rows,
                                                  m.x<C>(), ldb, threads);
    case Type::z:
      return (hermitian ? pband_cholesky_solve_hermitian_z
                        : pband_cholesky_solve_z)(n, hb, nrhs, m.a<Z>(), rows,
                                                  m.x<Z>(), ldb, threads);
  }
  return -1;
}

// One dimension of a stack, in elements: its stride, which must be a
// whole number of elements.
std::int64_t element_stride(const py::array& a, int dim, const char* name) {
  const auto size = static_cast<py::ssize_t>(a.itemsize());
  if (a.strides(dim) % size != 0)
    throw py::value_error(std::string(name) + ": unaligned strides");
  return a.strides(dim) / size;
}

// A stack (count, rows, cols) whose every matrix is in Fortran order:
// its element type, its leading dimension and the stride between
// matrices.
Type stack_type(const py::array& a, const char* name, std::int64_t& ld,
                std::int64_t& stride) {
  if (a.ndim() != 3)
    throw py::value_error(std::string(name) + ": a 3-D stack is needed");
  if (!a.writeable())
    throw py::value_error(std::string(name) + ": read-only array");
  if (a.shape(1) > 1 && element_stride(a, 1, name) != 1)
    throw py::value_error(std::string(name) +
                          ": each matrix must be in "
                          "Fortran order");
  ld = a.shape(2) > 1 ? element_stride(a, 2, name) : a.shape(1);
  stride = a.shape(0) > 1 ? element_stride(a, 0, name) : 0;
  return type_of(a, name);
}

// Many systems of one shape; returns (the C status, each system's).
py::tuple solve_batch(py::array ab, py::array b, std::int32_t threads,
                      bool hermitian) {
  std::int64_t ldab = 0, stride_ab = 0, ldb = 0, stride_b = 0;
  const Type t = stack_type(ab, "ab", ldab, stride_ab);
  if (stack_type(b, "b", ldb, stride_b) != t)
    throw py::type_error("ab and b must have the same element type");
  constexpr auto most = std::int64_t(std::numeric_limits<std::int32_t>::max());
  if (ab.shape(0) != b.shape(0) || ab.shape(2) != b.shape(1))
    throw py::value_error("ab and b must hold as many systems of one order");
  if (ab.shape(0) > most || ab.shape(1) > most || ab.shape(2) > most ||
      b.shape(2) > most || ldab > most || ldb > most)
    throw py::value_error("more than 2^31 - 1 systems, rows or columns");
  const auto count = static_cast<std::int32_t>(ab.shape(0));
  const auto n = static_cast<std::int32_t>(ab.shape(2));
  const auto hb = static_cast<std::int32_t>(ab.shape(1) - 1);
  const auto nrhs = static_cast<std::int32_t>(b.shape(2));
  const auto la = static_cast<std::int32_t>(ldab);
  const auto lb = static_cast<std::int32_t>(std::max<std::int64_t>(ldb, 1));
  py::array_t<std::int32_t> statuses(count);
  std::int32_t* each = statuses.mutable_data();
  const Memory m{ab.mutable_data(), b.mutable_data()};
  int status = -1;
  {
    py::gil_scoped_release unlocked;
    using C = pband_complex_float;
    using Z = pband_complex_double;
    switch (t) {
      case Type::s:
        status =
            pband_solve_batch_s(count, n, hb, nrhs, m.a<float>(), la, stride_ab,
                                m.x<float>(), lb, stride_b, each, threads);
        break;
      case Type::d:
        status = pband_solve_batch_d(count, n, hb, nrhs, m.a<double>(), la,
                                     stride_ab, m.x<double>(), lb, stride_b,
                                     each, threads);
        break;
      case Type::c:
        status = (hermitian ? pband_solve_batch_hermitian_c
                            : pband_solve_batch_c)(count, n, hb, nrhs, m.a<C>(),
                                                   la, stride_ab, m.x<C>(), lb,
                                                   stride_b, each, threads);
        break;
      case Type::z:
        status = (hermitian ? pband_solve_batch_hermitian_z
                            : pband_solve_batch_z)(count, n, hb, nrhs, m.a<Z>(),
                                                   la, stride_ab, m.x<Z>(), lb,
                                                   stride_b, each, threads);
        break;
    }
  }
  return py::make_tuple(status, statuses);
}

}  // namespace

PYBIND11_MODULE(_pband, m) {
  pband_py::add_factor_bindings(m);
  m.doc() = "Compiled core of pband; use the functions of the package.";
  m.def("solve", &solve, py::arg("ab"), py::arg("b"), py::arg("threads"),
        py::arg("hermitian") = false);
  m.def("cholesky", &cholesky, py::arg("ab"), py::arg("threads"),
        py::arg("hermitian") = false);
  m.def("cholesky_solve", &cholesky_solve, py::arg("cb"), py::arg("b"),
        py::arg("threads"), py::arg("hermitian") = false);
  m.def("solve_batch", &solve_batch, py::arg("ab"), py::arg("b"),
        py::arg("threads"), py::arg("hermitian") = false);
  m.def("status_message", &pband_status_message, py::arg("status"));
  m.def("fortran_copy", &fortran_copy, py::arg("source"), py::arg("target"));
  m.def("version", &pband_version);
}
