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

namespace py = pybind11;

namespace {

enum class Type { s, d, c, z };

// The element type of an array, which must be native.
Type type_of(const py::array& a, const char* name) {
  const py::dtype t = a.dtype();
  if (!t.attr("isnative").cast<bool>())
    throw py::value_error(std::string(name) + ": non-native byte order");
  const char kind = t.kind();
  const auto size = t.itemsize();
  if (kind == 'f' && size == 4) return Type::s;
  if (kind == 'f' && size == 8) return Type::d;
  if (kind == 'c' && size == 8) return Type::c;
  if (kind == 'c' && size == 16) return Type::z;
  throw py::type_error(std::string(name) +
                       ": float32, float64, complex64 "
                       "or complex128 elements are needed");
}

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
    throw py::value_error(std::string(name) +
                          ": more than 2^31 - 1 rows "
                          "or columns");
  rows = static_cast<std::int32_t>(a.shape(0));
  cols = static_cast<std::int32_t>(a.shape(1));
  return type_of(a, name);
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
  T* a() const {
    return static_cast<T*>(ab);
  }
  template <class T>
  T* x() const {
    return static_cast<T*>(b);
  }
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
      return pband_solve_s(n, hb, nrhs, m.a<float>(), rows, m.x<float>(), ldb,
                           threads);
    case Type::d:
      return pband_solve_d(n, hb, nrhs, m.a<double>(), rows, m.x<double>(), ldb,
                           threads);
    case Type::c:
      return pband_solve_c(n, hb, nrhs, m.a<C>(), rows, m.x<C>(), ldb, threads);
    case Type::z:
      return pband_solve_z(n, hb, nrhs, m.a<Z>(), rows, m.x<Z>(), ldb, threads);
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
      return pband_cholesky_c(n, hb, m.a<pband_complex_float>(), rows, threads);
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
      return pband_cholesky_solve_c(n, hb, nrhs, m.a<C>(), rows, m.x<C>(), ldb,
                                    threads);
    case Type::z:
      return pband_cholesky_solve_z(n, hb, nrhs, m.a<Z>(), rows, m.x<Z>(), ldb,
                                    threads);
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
py::tuple solve_batch(py::array ab, py::array b, std::int32_t threads) {
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
        status =
            pband_solve_batch_c(count, n, hb, nrhs, m.a<C>(), la, stride_ab,
                                m.x<C>(), lb, stride_b, each, threads);
        break;
      case Type::z:
        status =
            pband_solve_batch_z(count, n, hb, nrhs, m.a<Z>(), la, stride_ab,
                                m.x<Z>(), lb, stride_b, each, threads);
        break;
    }
  }
  return py::make_tuple(status, statuses);
}

}  // namespace

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

PYBIND11_MODULE(_pband, m) {
  m.doc() = "Compiled core of pband; use the functions of the package.";
  m.def("solve", &solve, py::arg("ab"), py::arg("b"), py::arg("threads"));
  m.def("cholesky", &cholesky, py::arg("ab"), py::arg("threads"));
  m.def("cholesky_solve", &cholesky_solve, py::arg("cb"), py::arg("b"),
        py::arg("threads"));
  m.def("solve_batch", &solve_batch, py::arg("ab"), py::arg("b"),
        py::arg("threads"));
  m.def("factor_size", &factor_size, py::arg("ab"));
  m.def("factor", &factor, py::arg("ab"), py::arg("factor"),
        py::arg("threads"));
  m.def("solve_factored", &solve_factored, py::arg("ab"), py::arg("factor"),
        py::arg("b"), py::arg("threads"));
  m.def("inverse_band", &inverse_band, py::arg("l"), py::arg("z"));
  m.def("status_message", &pband_status_message, py::arg("status"));
  m.def("version", &pband_version);
}
