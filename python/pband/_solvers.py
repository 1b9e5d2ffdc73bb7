"""The public solvers: SciPy's arguments, layouts, results and
exceptions, for one system or a batch of them, over the compiled core."""

import numpy as np
from numpy.linalg import LinAlgError

from . import _batch
from . import _factorize
from . import _layout as _l
from . import _pband
from ._threads import threads_for_call


def _not_positive_definite(band, lower, dtype, hermitian, where=None):
    """The error for a failed pivot: the leading minor that is not
    positive definite, found by factoring the band in natural order."""
    order = 0
    if band is not None and (dtype.kind == "f" or hermitian):
        low = _l.lower_form(band, dtype, lower, False, hermitian)
        order = _pband.cholesky(low, 1, hermitian)
    if order > 0:
        text = f"the leading minor of order {order} is not positive definite"
    else:
        text = "the matrix is not positive definite"
    if where is not None:
        text += f" (system {tuple(int(i) for i in where)} of the batch)"
    return LinAlgError(text)


def _solve(ab, b, lower, overwrite_ab, overwrite_b, check_finite, threads,
           call):
    a1 = _l.validated(ab, check_finite)
    b1 = _l.validated(b, check_finite)
    _l.check_band(a1, "ab")
    if b1.ndim < 1:
        raise ValueError("b must have at least one dimension")
    batch = _batch.batch_shape(a1, b1, "ab")
    dtype = _l.result_dtype(a1, b1)
    hermitian = _l.is_hermitian(dtype, call)
    t = threads_for_call(threads)
    lower = bool(lower)
    if batch:
        x, failed = _batch.solve(a1, b1, batch, dtype, lower, t, hermitian)
        if failed is not None:
            a = np.broadcast_to(a1, batch + a1.shape[-2:])[failed]
            raise _not_positive_definite(a, lower, dtype, hermitian, failed)
        return x
    overwrite_b = overwrite_b or _l.datacopied(b1, b)
    overwrite_ab = overwrite_ab or _l.datacopied(a1, ab)
    x = _l.output(b1, dtype, overwrite_b)
    if a1.shape[1] == 0:
        return x
    low = _l.lower_form(a1, dtype, lower, overwrite_ab, hermitian)
    status = _pband.solve(low, _l.columns(x), t, hermitian)
    if status > 0:
        # Solved in place, the band is gone and cannot name the minor.
        raise _not_positive_definite(None if low is a1 else a1, lower, dtype,
                                     hermitian)
    if status < 0:
        raise ValueError(_pband.status_message(status))
    return x


def _solve_refined(ab, b, lower, check_finite, threads):
    """solveh_banded with refine=True: the stored factor's solve, then
    refinement with the original matrix."""
    a1 = _l.validated(ab, check_finite)
    b1 = _l.validated(b, check_finite)
    if a1.ndim != 2 or b1.ndim not in (1, 2):
        raise ValueError("refine=True takes one system: ab of shape "
                         "(hb + 1, n) and b of (n,) or (n, k)")
    dtype = _l.result_dtype(a1, b1)
    _l.real_only(dtype, "solveh_banded(refine=True)")
    try:
        f = _factorize.factorize(a1.astype(dtype), lower, False, threads)
    except LinAlgError:
        raise _not_positive_definite(a1, lower, dtype, False) from None
    x = f.solve(b1, threads=threads)
    return f.refine(b1, x, threads)[0]


def solveh_banded(ab, b, overwrite_ab=False, overwrite_b=False, lower=False,
                  check_finite=True, threads=None, refine=False):
    """Solve a @ x = b for a Hermitian positive definite band matrix.

    As ``scipy.linalg.solveh_banded``, by block cyclic reduction on
    several threads: real input is symmetric, complex input Hermitian
    (a = a.conj().T). The band is held in upper form,
    ``ab[hb + i - j, j] == a[i, j]`` (i <= j), or with ``lower=True`` in
    lower form, ``ab[i - j, j] == a[i, j]`` (i >= j). A diagonal element's
    imaginary part is not read, as LAPACK does.

    Parameters
    ----------
    ab : (..., hb + 1, n) array_like
        The band of a; leading dimensions are a batch of matrices.
    b : (..., n) or (..., n, k) array_like
        Right-hand sides. A 1-D b is one vector; with more dimensions the
        last two are one system's (n, k) and the leading ones a batch,
        broadcast against ab's.
    overwrite_ab, overwrite_b : bool, optional
        Let the solve use ab or b as scratch (one system only).
    lower : bool, optional
        Whether ab is in lower form (default: upper form).
    check_finite : bool, optional
        Check that the input holds no infinities or NaNs.
    threads : int or None, optional
        Threads of the team; None: `get_num_threads`.
    refine : bool, optional
        Improve x by iterative refinement as LAPACK's ``?pbrfs`` (one
        real system only; ab and b are then left alone).

    Returns
    -------
    x : ndarray
        The solutions, of the broadcast batch shape and b's core shape.

    Raises
    ------
    numpy.linalg.LinAlgError
        When a matrix is not positive definite; the message names the
        leading minor of order k that is not (and the system of a batch).
    ValueError
        For incompatible shapes, zero-size batches, infinities or NaNs
        under `check_finite`, or `threads` below 1.
    TypeError
        For complex input with ``refine=True``.

    Examples
    --------
    >>> import numpy as np
    >>> import pband
    >>> ab = np.array([[0., -1., -1.], [2., 2., 2.]])  # upper form
    >>> pband.solveh_banded(ab, np.array([1., 0., 1.]))
    array([1., 1., 1.])
    >>> pband.solveh_banded(np.stack([ab, 2 * ab]), np.ones(3)).shape
    (2, 3)
    >>> h = np.array([[0, 1j], [2, 2]])  # upper form: a[0, 1] = 1j
    >>> x = pband.solveh_banded(h, np.array([2 + 1j, 2 - 1j]))
    >>> bool(np.allclose(x, [1, 1]))
    True
    """
    if refine:
        return _solve_refined(ab, b, lower, check_finite, threads)
    return _solve(ab, b, lower, overwrite_ab, overwrite_b, check_finite,
                  threads, "solveh_banded")


def solve_symmetric_banded(ab, b, *, lower=True, overwrite_ab=False,
                           overwrite_b=False, check_finite=True,
                           threads=None):
    """Solve a @ x = b for a symmetric band matrix a = a.T.

    Real a must be positive definite; complex a is complex symmetric
    (nothing is conjugated) with non-zero pivots. Arguments, layouts,
    batches, dtype rules and results as `solveh_banded`, but complex input
    is complex symmetric, not Hermitian, and the lower form is the
    default.

    Parameters
    ----------
    ab : (..., hb + 1, n) array_like
        The band of a, in lower form unless ``lower=False``.
    b : (..., n) or (..., n, k) array_like
        Right-hand sides, as for `solveh_banded`.
    lower : bool, optional
        Whether ab is in lower form (the default).
    overwrite_ab, overwrite_b : bool, optional
        Let the solve use ab or b as scratch (one system only).
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
    numpy.linalg.LinAlgError
        When a pivot fails (real: not positive; complex: zero).
    ValueError
        As for `solveh_banded`.

    Examples
    --------
    >>> import numpy as np
    >>> import pband
    >>> ab = np.array([[2 + 1j, 2 + 1j], [1j, 0]])  # lower form
    >>> x = pband.solve_symmetric_banded(ab, np.array([2 + 2j, 2 + 2j]))
    >>> np.round(x, 12)
    array([1.+0.j, 1.+0.j])
    """
    return _solve(ab, b, lower, overwrite_ab, overwrite_b, check_finite,
                  threads, "solve_symmetric_banded")
