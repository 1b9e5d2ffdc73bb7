"""Argument checks and layouts shared by the solvers: SciPy's dtype rules
and validation, and the lower band form in Fortran order that the
compiled core takes, for one system or a stack of them."""

import numpy as np

from . import _pband

# Result types as scipy.linalg ranks its arguments for LAPACK: the
# highest score wins, float64 with complex64 gives complex128, and an
# unknown type is computed in float64.
_SCORE = {**{c: 1 for c in "?bBhHef"}, **{c: 2 for c in "iIlLqQdg"},
          "F": 3, "D": 4, "G": 4}
_TYPE = {1: np.float32, 2: np.float64, 3: np.complex64, 4: np.complex128}


def result_dtype(*arrays):
    scores = [_SCORE.get(a.dtype.char, 5) for a in arrays]
    best = max(scores)
    if best == 3 and 2 in scores:
        best = 4
    return np.dtype(_TYPE.get(best, np.float64))


def validated(a, check_finite):
    # As scipy.linalg checks the arguments of its solvers.
    if np.ma.isMaskedArray(a):
        raise ValueError("masked arrays are not supported")
    a = np.asarray_chkfinite(a) if check_finite else np.asarray(a)
    if a.dtype == object:
        raise ValueError("object arrays are not supported")
    return a


def datacopied(arr, original):
    # True when arr was made afresh from original, so it may be overwritten.
    if arr is original:
        return False
    if not isinstance(original, np.ndarray) and hasattr(original, "__array__"):
        return False
    return arr.base is None


def check_band(a, name):
    if a.ndim < 2 or a.shape[-2] < 1:
        raise ValueError(
            f"{name} must be an array of shape (..., hb + 1, n), not "
            f"{a.shape}")


def real_only(dtype, call):
    if dtype.kind == "c":
        raise TypeError(
            f"pband.{call} takes real matrices: its complex tools are "
            "complex symmetric (A = A.T, nothing conjugated), while "
            "complex input here would read as Hermitian. Solve Hermitian "
            "systems with pband.solveh_banded, complex symmetric ones with "
            "pband.solve_symmetric_banded.")


def usable(a, dtype):
    return (a.dtype == dtype and a.flags.f_contiguous and a.flags.writeable)


def lower_form(a, dtype, lower, overwrite, hermitian=False):
    """The band in lower form, Fortran order, of `dtype`; `a` itself when
    it may be overwritten and already is that."""
    if lower:
        if overwrite and usable(a, dtype):
            return a
        if (a.ndim == 2 and a.dtype == dtype and a.flags.c_contiguous
                and a.shape[0] > 1 and a.dtype.isnative):
            low = np.empty(a.shape, dtype=dtype, order="F")
            _pband.fortran_copy(a, low)
            return low
        return np.array(a, dtype=dtype, order="F", copy=True)
    rows, n = a.shape
    low = np.zeros((rows, n), dtype=dtype, order="F")
    fill_lower(low, a, lower, hermitian)
    return low


def fill_lower(low, a, lower, hermitian=False):
    """Writes band a (..., rows, n) in lower form into low of the same
    shape; corner positions of the upper form become zero. The upper form
    of a Hermitian band holds the conjugates of the lower form's elements."""
    if lower:
        low[...] = a
        return
    rows, n = a.shape[-2:]
    hb = rows - 1
    # a[j + d, j] = a[j, j + d] (its conjugate when Hermitian), held in row
    # hb - d of the upper form
    for d in range(min(rows, n)):
        upper = a[..., hb - d, d:]
        low[..., d, :n - d] = np.conj(upper) if hermitian else upper
        low[..., d, n - d:] = 0


def is_hermitian(dtype, call):
    """Whether a call reads its complex input as Hermitian, as SciPy's
    namesakes do; solve_symmetric_banded reads it as complex symmetric."""
    return dtype.kind == "c" and call != "solve_symmetric_banded"


def stack_of_bands(count, rows, n, dtype):
    """count empty bands (rows, n), each in Fortran order, one after
    another: the layout the batch solve takes."""
    return np.empty((count, n, rows), dtype=dtype).transpose(0, 2, 1)


def output(b, dtype, overwrite):
    """b's values in Fortran order: b itself when it may be overwritten
    and already is that, else a copy."""
    if overwrite and usable(b, dtype):
        return b
    return np.array(b, dtype=dtype, order="F", copy=True)


def columns(x):
    n = x.shape[0]
    nrhs = int(np.prod(x.shape[1:], dtype=np.int64))
    return x.reshape((n, nrhs), order="F")
