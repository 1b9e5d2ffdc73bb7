"""Parallel solution of symmetric positive definite band systems.

The functions take SciPy's arguments and band layouts, give results of the
same types and shapes and raise the same exceptions as their namesakes in
``scipy.linalg``:

- ``solveh_banded(ab, b, ...)``: A x = b for real symmetric positive
  definite A, by block cyclic reduction on several threads;
- ``cholesky_banded(ab, ...)`` and ``cho_solve_banded((c, lower), b, ...)``:
  factor once in natural column order and solve many; factors pass to and
  from SciPy's functions of the same names (real types);
- ``solve_symmetric_banded(ab, b, ...)``: complex symmetric (A = A.T,
  nothing conjugated) as well as real systems.

``ab`` has shape (hb + 1, n): the upper form holds a[i, j] (i <= j) in
``ab[hb + i - j, j]``, the lower form a[i, j] (i >= j) in ``ab[i - j, j]``.
Every function takes ``threads``: None uses every processor the process may
run on, an integer that many threads (at most 32). The GIL is released
while the library works. The same arguments give the same bits whatever
ran before; see the API reference for the thread-count rule.
"""

import operator

import numpy as np
from numpy.linalg import LinAlgError

from . import _pband

__all__ = [
    "solveh_banded",
    "solve_symmetric_banded",
    "cholesky_banded",
    "cho_solve_banded",
    "LinAlgError",
]
__version__ = _pband.version()

# Result types as scipy.linalg ranks its arguments for LAPACK: the
# highest score wins, float64 with complex64 gives complex128, and an
# unknown type is computed in float64.
_SCORE = {**{c: 1 for c in "?bBhHef"}, **{c: 2 for c in "iIlLqQdg"},
          "F": 3, "D": 4, "G": 4}
_TYPE = {1: np.float32, 2: np.float64, 3: np.complex64, 4: np.complex128}


def _result_dtype(*arrays):
    scores = [_SCORE.get(a.dtype.char, 5) for a in arrays]
    best = max(scores)
    if best == 3 and 2 in scores:
        best = 4
    return np.dtype(_TYPE.get(best, np.float64))


def _validated(a, check_finite):
    # As scipy.linalg checks the arguments of its solvers.
    if np.ma.isMaskedArray(a):
        raise ValueError("masked arrays are not supported")
    a = np.asarray_chkfinite(a) if check_finite else np.asarray(a)
    if a.dtype == object:
        raise ValueError("object arrays are not supported")
    return a


def _datacopied(arr, original):
    # True when arr was made afresh from original, so it may be overwritten.
    if arr is original:
        return False
    if not isinstance(original, np.ndarray) and hasattr(original, "__array__"):
        return False
    return arr.base is None


def _threads(threads):
    if threads is None:
        return 0
    t = operator.index(threads)
    if t < 1:
        raise ValueError("threads must be None or a positive integer")
    return t


def _check_band(a, name):
    if a.ndim != 2 or a.shape[0] < 1:
        raise ValueError(
            f"{name} must be a 2-D array of shape (hb + 1, n), not {a.shape}")


def _check_rhs(a, b, name):
    if b.ndim < 1:
        raise ValueError("b must have at least one dimension")
    if a.shape[-1] != b.shape[0]:
        raise ValueError(f"shapes of {name} and b are not compatible.")


def _real_only(dtype, call):
    if dtype.kind == "c":
        raise TypeError(
            f"pband.{call} takes real matrices: scipy.linalg.{call} reads "
            "complex ones as Hermitian, while pband's complex solver is "
            "complex symmetric (A = A.T, nothing conjugated). For a complex "
            "symmetric matrix use pband.solve_symmetric_banded(ab, b, "
            "lower=True).")


def _usable(a, dtype):
    return (a.dtype == dtype and a.flags.f_contiguous and a.flags.writeable)


def _lower_form(a, dtype, lower, overwrite):
    """The band in lower form, Fortran order, of `dtype`; `a` itself when
    it may be overwritten and already is that."""
    if lower:
        if overwrite and _usable(a, dtype):
            return a
        return np.array(a, dtype=dtype, order="F", copy=True)
    rows, n = a.shape
    hb = rows - 1
    low = np.zeros((rows, n), dtype=dtype, order="F")
    # a[j + d, j] = a[j, j + d], held in row hb - d of the upper form
    for d in range(min(rows, n)):
        low[d, :n - d] = a[hb - d, d:]
    return low


def _output(b, dtype, overwrite):
    """b's values in Fortran order: b itself when it may be overwritten
    and already is that, else a copy."""
    if overwrite and _usable(b, dtype):
        return b
    return np.array(b, dtype=dtype, order="F", copy=True)


def _columns(x):
    n = x.shape[0]
    nrhs = int(np.prod(x.shape[1:], dtype=np.int64))
    return x.reshape((n, nrhs), order="F")


def _solve(a1, b1, dtype, lower, overwrite_ab, overwrite_b, threads):
    t = _threads(threads)
    x = _output(b1, dtype, overwrite_b)
    if a1.shape[1] == 0:
        return x
    ab = _lower_form(a1, dtype, lower, overwrite_ab)
    status = _pband.solve(ab, _columns(x), t)
    if status > 0:
        raise LinAlgError("the matrix is not positive definite")
    if status < 0:
        raise ValueError(_pband.status_message(status))
    return x


def solveh_banded(ab, b, overwrite_ab=False, overwrite_b=False, lower=False,
                  check_finite=True, threads=None):
    """Solve a x = b for a real symmetric positive definite band matrix a.

    As ``scipy.linalg.solveh_banded`` for real input, by block cyclic
    reduction on ``threads`` threads. ``ab`` is (hb + 1, n) in upper form,
    or in lower form with ``lower=True``; ``b`` is (n,) or (n, k) (more
    dimensions are columns too). Returns x of b's shape.

    Raises ``numpy.linalg.LinAlgError`` when a is not positive definite,
    ``ValueError`` for incompatible shapes or (with ``check_finite``)
    infinities or NaNs, and ``TypeError`` for complex input: SciPy's complex
    form is Hermitian, pband's complex symmetric, which
    ``solve_symmetric_banded`` solves.
    """
    a1 = _validated(ab, check_finite)
    b1 = _validated(b, check_finite)
    _check_band(a1, "ab")
    _check_rhs(a1, b1, "ab")
    overwrite_b = overwrite_b or _datacopied(b1, b)
    overwrite_ab = overwrite_ab or _datacopied(a1, ab)
    dtype = _result_dtype(a1, b1)
    _real_only(dtype, "solveh_banded")
    return _solve(a1, b1, dtype, bool(lower), overwrite_ab, overwrite_b,
                  threads)


def solve_symmetric_banded(ab, b, *, lower=True, overwrite_ab=False,
                           overwrite_b=False, check_finite=True,
                           threads=None):
    """Solve a x = b for a symmetric band matrix a = a.T: real positive
    definite, or complex symmetric (nothing is conjugated) with non-zero
    pivots.

    Arguments, layouts, dtype rules and results as ``solveh_banded``, but
    complex input is taken as complex symmetric and the lower form is the
    default. ``LinAlgError`` when a pivot fails (real: not positive;
    complex: zero).
    """
    a1 = _validated(ab, check_finite)
    b1 = _validated(b, check_finite)
    _check_band(a1, "ab")
    _check_rhs(a1, b1, "ab")
    overwrite_b = overwrite_b or _datacopied(b1, b)
    overwrite_ab = overwrite_ab or _datacopied(a1, ab)
    dtype = _result_dtype(a1, b1)
    return _solve(a1, b1, dtype, bool(lower), overwrite_ab, overwrite_b,
                  threads)


def cholesky_banded(ab, overwrite_ab=False, lower=False, check_finite=True,
                    threads=None):
    """Cholesky factor of a real symmetric positive definite band matrix.

    As ``scipy.linalg.cholesky_banded`` for real input: returns c of ab's
    shape in the same form, with L (lower) or U = L.T (upper) in the band
    and the unused corner positions as they were in ab. Factored in natural
    column order on ``threads`` threads. ``LinAlgError`` names the leading
    minor that is not positive definite.
    """
    a1 = np.asarray_chkfinite(ab) if check_finite else np.asarray(ab)
    _check_band(a1, "ab")
    dtype = _result_dtype(a1)
    _real_only(dtype, "cholesky_banded")
    t = _threads(threads)
    lower = bool(lower)
    rows, n = a1.shape
    if lower:
        c = _lower_form(a1, dtype, True, overwrite_ab)
        status = _pband.cholesky(c, t) if n > 0 else 0
    else:
        low = _lower_form(a1, dtype, False, False)
        status = _pband.cholesky(low, t) if n > 0 else 0
        c = _output(a1, dtype, overwrite_ab)
        hb = rows - 1
        if status == 0:
            for d in range(min(rows, n)):
                c[hb - d, d:] = low[d, :n - d]
    if status > 0:
        raise LinAlgError("%d-th leading minor not positive definite" % status)
    if status < 0:
        raise ValueError(_pband.status_message(status))
    return c


def cho_solve_banded(cb_and_lower, b, overwrite_b=False, check_finite=True,
                     threads=None):
    """Solve a x = b given the Cholesky factor of the band matrix a.

    As ``scipy.linalg.cho_solve_banded`` for real input: ``(cb, lower)``
    from ``cholesky_banded`` (this one or SciPy's), b of shape (n,) or
    (n, k); returns x of b's shape.
    """
    (cb, lower) = cb_and_lower
    if check_finite:
        cb = np.asarray_chkfinite(cb)
        b1 = np.asarray_chkfinite(b)
    else:
        cb = np.asarray(cb)
        b1 = np.asarray(b)
    _check_band(cb, "cb")
    _check_rhs(cb, b1, "cb")
    dtype = _result_dtype(cb, b1)
    _real_only(dtype, "cho_solve_banded")
    t = _threads(threads)
    x = _output(b1, dtype, overwrite_b)
    if cb.shape[1] == 0:
        return x
    if lower and cb.dtype == dtype and cb.flags.f_contiguous:
        low = cb
    else:
        low = _lower_form(cb, dtype, bool(lower), False)
    status = _pband.cholesky_solve(low, _columns(x), t)
    if status != 0:
        raise ValueError(_pband.status_message(status))
    return x
