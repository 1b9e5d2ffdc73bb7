"""Factor once in natural column order, solve many: the Cholesky factor
of a band matrix and the solve with it, as SciPy's functions of the same
names (complex input Hermitian); factors pass to and from SciPy's."""

import numpy as np
from numpy.linalg import LinAlgError

from . import _batch
from . import _layout as _l
from . import _pband
from ._threads import threads_for_call


def cholesky_banded(ab, overwrite_ab=False, lower=False, check_finite=True,
                    threads=None):
    """Cholesky factor of a Hermitian positive definite band matrix.

    As ``scipy.linalg.cholesky_banded``, factored in natural column order
    on several threads: real input is symmetric, complex input Hermitian
    (a = L @ L.conj().T with a real positive diagonal, as LAPACK's
    ``?pbtrf``).

    Parameters
    ----------
    ab : (hb + 1, n) array_like
        The band in upper form, or in lower form with ``lower=True``.
    overwrite_ab : bool, optional
        Let the factor be written into ab.
    lower : bool, optional
        Whether ab is in lower form (default: upper form).
    check_finite : bool, optional
        Check that the input holds no infinities or NaNs.
    threads : int or None, optional
        Threads of the team; None: `get_num_threads`.

    Returns
    -------
    c : (hb + 1, n) ndarray
        L (lower) or U = L.conj().T (upper) in ab's form; the unused
        corner positions as they were in ab.

    Raises
    ------
    numpy.linalg.LinAlgError
        When a is not positive definite; SciPy's message names the
        leading minor.
    ValueError
        For a band that is not 2-D, infinities or NaNs under
        `check_finite`, or `threads` below 1.
    Examples
    --------
    >>> import numpy as np
    >>> import pband
    >>> pband.cholesky_banded(np.array([[4., 4.], [2., 0.]]), lower=True)
    array([[2.        , 1.73205081],
           [1.        , 0.        ]])
    """
    a1 = np.asarray_chkfinite(ab) if check_finite else np.asarray(ab)
    if a1.ndim != 2:
        raise ValueError(
            f"ab must be a 2-D array of shape (hb + 1, n), not {a1.shape}")
    _l.check_band(a1, "ab")
    dtype = _l.result_dtype(a1)
    hermitian = dtype.kind == "c"
    t = threads_for_call(threads)
    lower = bool(lower)
    rows, n = a1.shape
    if lower:
        c = _l.lower_form(a1, dtype, True, overwrite_ab)
        status = _pband.cholesky(c, t, hermitian) if n > 0 else 0
    else:
        low = _l.lower_form(a1, dtype, False, False, hermitian)
        status = _pband.cholesky(low, t, hermitian) if n > 0 else 0
        c = _l.output(a1, dtype, overwrite_ab)
        hb = rows - 1
        if status == 0:
            for d in range(min(rows, n)):
                lower_d = low[d, :n - d]
                c[hb - d, d:] = np.conj(lower_d) if hermitian else lower_d
    if status > 0:
        raise LinAlgError("%d-th leading minor not positive definite" % status)
    if status < 0:
        raise ValueError(_pband.status_message(status))
    return c


def cho_solve_banded(cb_and_lower, b, overwrite_b=False, check_finite=True,
                     threads=None):
    """Solve a @ x = b given the Cholesky factor of the band matrix a.

    As ``scipy.linalg.cho_solve_banded`` (complex factors Hermitian).

    Parameters
    ----------
    cb_and_lower : tuple (cb, lower)
        cb, of shape (..., hb + 1, n), from `cholesky_banded` (pband's or
        SciPy's); leading dimensions are a batch of factors. lower says
        whether it is L in lower form or U in upper form.
    b : (..., n) or (..., n, k) array_like
        Right-hand sides, batched and broadcast as for `solveh_banded`.
    overwrite_b : bool, optional
        Let the solve use b as scratch (one system only).
    check_finite : bool, optional
        Check that the input holds no infinities or NaNs.
    threads : int or None, optional
        Threads of the team; None: `get_num_threads`.

    Returns
    -------
    x : ndarray
        The solutions, of the broadcast batch shape and b's core shape.

    Raises
    ------
    ValueError
        For incompatible shapes, zero-size batches, infinities or NaNs
        under `check_finite`, or `threads` below 1.
    Examples
    --------
    >>> import numpy as np
    >>> import pband
    >>> ab = np.array([[4., 4.], [2., 0.]])
    >>> c = pband.cholesky_banded(ab, lower=True)
    >>> pband.cho_solve_banded((c, True), np.array([6., 6.]))
    array([1., 1.])
    """
    (cb, lower) = cb_and_lower
    cb = _l.validated(cb, check_finite)
    b1 = _l.validated(b, check_finite)
    _l.check_band(cb, "cb")
    if b1.ndim < 1:
        raise ValueError("b must have at least one dimension")
    batch = _batch.batch_shape(cb, b1, "cb")
    dtype = _l.result_dtype(cb, b1)
    hermitian = dtype.kind == "c"
    t = threads_for_call(threads)
    lower = bool(lower)
    if batch:
        return _batch.cholesky_solve(cb, b1, batch, dtype, lower, t,
                                     hermitian)
    x = _l.output(b1, dtype, overwrite_b)
    if cb.shape[1] == 0:
        return x
    if lower and cb.dtype == dtype and cb.flags.f_contiguous:
        low = cb
    else:
        low = _l.lower_form(cb, dtype, lower, False, hermitian)
    status = _pband.cholesky_solve(low, _l.columns(x), t, hermitian)
    if status != 0:
        raise ValueError(_pband.status_message(status))
    return x
