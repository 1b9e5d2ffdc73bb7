// The arrays the compiled core takes: their element type (native byte
// order, one of the four), Fortran order and shapes, shared by its
// binding sources.
#pragma once

#include <cstdint>
#include <limits>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <string>

namespace pband_py {

namespace py = pybind11;

enum class Type { s, d, c, z };

// The element type of an array, which must be native.
inline Type type_of(const py::array& a, const char* name) {
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
inline Type element_type(const py::array& a, const char* name, bool writable,
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
inline Type system_type(const py::array& ab, bool ab_writable,
                        const py::array& b, std::int32_t& rows, std::int32_t& n,
                        std::int32_t& nrhs) {
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

}  // namespace pband_py
