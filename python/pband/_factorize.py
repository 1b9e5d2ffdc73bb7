"""A stored parallel factor of one band matrix, for many solves with it,
with its log-determinant and the band of its inverse (what smoothing
methods read for degrees of freedom and cross-validation)."""

import cmath
import math

import numpy as np
from numpy.linalg import LinAlgError

from . import _layout as _l
from . import _pband
from ._threads import threads_for_call


class BandFactorization:
    """The block cyclic reduction factor of a symmetric band matrix.

    Made by `factorize`; holds its own copies of the band, so the caller's
    array may change afterwards. Real matrices are positive definite,
    complex ones complex symmetric (a = a.T, nothing conjugated).

    Attributes
    ----------
    n : int
        The order of the matrix.
    hb : int
        Its half bandwidth.
    dtype : numpy.dtype
        The element type the factor is computed in.
    """

    def __init__(self, low, lower, threads):
        self.n = low.shape[1]
        self.hb = low.shape[0] - 1
        self.dtype = low.dtype
        self._lower = lower
        # The original band: the natural-order factor of inverse_bands and
        # the residuals of refinement are taken from it.
        self._band = low.copy(order="F")
        status, self._anorm = _pband.norm1(low, threads_for_call(threads))
        if status != 0:
            raise ValueError(_pband.status_message(status))
        size = _pband.factor_size(low)
        if size < 0:
            raise ValueError(_pband.status_message(size))
        self._factor = np.empty(size, dtype=low.dtype)
        status = _pband.factor(low, self._factor, threads_for_call(threads))
        if status > 0:
            raise LinAlgError(
                "the matrix is not positive definite" if low.dtype.kind != "c"
                else "a pivot of the complex symmetric matrix is zero")
        if status < 0:
            raise ValueError(_pband.status_message(status))
        self._low = low

    def solve(self, b, overwrite_b=False, check_finite=True, threads=None):
        """Solve a @ x = b with the stored factor.

        Every solve gives the bits of ``solve_symmetric_banded`` of the
        same system on the factor's team, and runs in parallel.

        Parameters
        ----------
        b : (n,) or (n, k) array_like
            Right-hand sides.
        overwrite_b : bool, optional
            Let the solve write x into b when it already is of the
            factor's dtype and in Fortran order.
        check_finite : bool, optional
            Check that b holds no infinities or NaNs.
        threads : int or None, optional
            Threads of the team; None: `get_num_threads`.

        Returns
        -------
        x : ndarray
            Of b's shape and the factor's dtype.

        Raises
        ------
        ValueError
            When b's first dimension is not n, b has more than two
            dimensions, or holds infinities or NaNs under `check_finite`.
        TypeError
            For complex b with a real factor.

        Examples
        --------
        >>> import numpy as np
        >>> import pband
        >>> f = pband.factorize(np.array([[2., 2., 2.], [-1., -1., 0.]]),
        ...                     lower=True)
        >>> f.solve(np.array([1., 0., 1.]))
        array([1., 1., 1.])
        """
        b1 = _l.validated(b, check_finite)
        if b1.ndim not in (1, 2) or b1.shape[0] != self.n:
            raise ValueError(
                f"b must have shape ({self.n},) or ({self.n}, k), not "
                f"{b1.shape}")
        if b1.dtype.kind == "c" and self.dtype.kind != "c":
            raise TypeError("complex b with a real factor")
        x = _l.output(b1, self.dtype, overwrite_b and b1 is b)
        if x.size == 0:
            return x
        status = _pband.solve_factored(self._low, self._factor, _l.columns(x),
                                       threads_for_call(threads))
        if status != 0:
            raise ValueError(_pband.status_message(status))
        return x

    def rcond(self, threads=None):
        """An estimate of the reciprocal condition number of a.

        1 / (||a||_1 ||inv(a)||_1) by Higham's 1-norm estimator over
        solves with the stored factor (LAPACK's ``?pbcon`` method), within
        a small factor of the true value; the same bits on every team.

        Parameters
        ----------
        threads : int or None, optional
            Threads of the team; None: `get_num_threads`.

        Returns
        -------
        float

        Raises
        ------
        ValueError
            For `threads` below 1.

        Examples
        --------
        >>> import numpy as np
        >>> import pband
        >>> f = pband.factorize(np.array([[2., 2.], [-1., 0.]]), lower=True)
        >>> round(f.rcond(), 12)  # 1 / (3 * 1)
        0.333333333333
        """
        status, value = _pband.rcond(self._low, self._factor, self._anorm,
                                     threads_for_call(threads))
        if status != 0:
            raise ValueError(_pband.status_message(status))
        return value

    def refine(self, b, x, threads=None):
        """Improve a solution of a @ x = b, with error bounds.

        Iterative refinement as LAPACK's ``?pbrfs``, every right-hand side
        at once: residuals with the original matrix, corrections with the
        stored factor, at most 5 steps.

        Parameters
        ----------
        b : (n,) or (n, k) array_like
            The right-hand sides.
        x : (n,) or (n, k) array_like
            A solution to improve, of b's shape.
        threads : int or None, optional
            Threads of the team; None: `get_num_threads`.

        Returns
        -------
        x : ndarray
            The refined solution, of b's shape.
        ferr, berr : (k,) ndarray
            Per right-hand side, a bound on the forward error relative to
            the largest element of x, and the componentwise backward error.

        Raises
        ------
        ValueError
            When b or x do not have n rows or differ in shape.

        Examples
        --------
        >>> import numpy as np
        >>> import pband
        >>> f = pband.factorize(np.array([[2., 2.], [-1., 0.]]), lower=True)
        >>> x, ferr, berr = f.refine(np.array([1., 1.]), np.array([0.9, 1.]))
        >>> np.round(x, 12), bool(berr[0] < 1e-15)
        (array([1., 1.]), True)
        """
        b1 = _l.validated(b, True)
        x1 = _l.validated(x, True)
        if b1.ndim not in (1, 2) or b1.shape[0] != self.n:
            raise ValueError(
                f"b must have shape ({self.n},) or ({self.n}, k), not "
                f"{b1.shape}")
        if x1.shape != b1.shape:
            raise ValueError(f"x must have b's shape {b1.shape}, not "
                             f"{x1.shape}")
        bb = np.array(b1, dtype=self.dtype, order="F", copy=True)
        xx = np.array(x1, dtype=self.dtype, order="F", copy=True)
        status, ferr, berr = _pband.refine(
            self._band, self._low, self._factor, _l.columns(bb),
            _l.columns(xx), threads_for_call(threads))
        if status != 0:
            raise ValueError(_pband.status_message(status))
        return xx, ferr, berr

    def logdet(self):
        """The logarithm of the determinant of a.

        Real: log det a (a is positive definite, so det a > 0). Complex
        symmetric: the principal logarithm of det a, the product of the
        squared pivots.

        Returns
        -------
        float or complex

        Examples
        --------
        >>> import numpy as np
        >>> import pband
        >>> f = pband.factorize(np.array([[4., 9.]]), lower=True)
        >>> round(f.logdet(), 12) == round(float(np.log(36.)), 12)
        True
        """
        pivots = self._low[0, :]
        if self.dtype.kind != "c":
            return float(2.0 * np.sum(np.log(pivots.astype(np.float64))))
        total = complex(2.0 * np.sum(np.log(pivots.astype(np.complex128))))
        # The principal value: the imaginary part within (-pi, pi].
        angle = math.remainder(total.imag, 2.0 * math.pi)
        if angle == -math.pi:
            angle = math.pi
        return complex(total.real, angle)

    def inverse_bands(self):
        """The band of the inverse of a, in the form a was given.

        Elements of inv(a) within hb of the diagonal, computed from the
        natural-order Cholesky factor in O(n hb^2) without forming the
        inverse.

        Returns
        -------
        (hb + 1, n) ndarray
            In upper form, or lower form when `factorize` was called with
            ``lower=True``.

        Examples
        --------
        >>> import numpy as np
        >>> import pband
        >>> ab = np.array([[2., 2., 2.], [-1., -1., 0.]])
        >>> z = pband.factorize(ab, lower=True).inverse_bands()
        >>> np.round(z, 12)
        array([[0.75, 1.  , 0.75],
               [0.5 , 0.5 , 0.  ]])
        """
        low = self._band.copy(order="F")
        status = _pband.cholesky(low, 1)
        if status != 0:
            raise LinAlgError(
                f"the leading minor of order {status} is not positive "
                "definite")
        z = np.zeros_like(low, order="F")
        status = _pband.inverse_band(low, z)
        if status != 0:
            raise ValueError(_pband.status_message(status))
        if self._lower:
            return z
        up = np.zeros_like(z)
        for d in range(min(self.hb + 1, self.n)):
            up[self.hb - d, d:] = z[d, :self.n - d]
        return up


def factorize(ab, lower=False, check_finite=True, threads=None):
    """Factor a symmetric band matrix once, in parallel, for many solves.

    Parameters
    ----------
    ab : (hb + 1, n) array_like
        The band in SciPy's upper form, or lower form with ``lower=True``.
        Real: symmetric positive definite; complex: complex symmetric.
    lower : bool, optional
        Whether ab is in lower form (default: upper form).
    check_finite : bool, optional
        Check that the input holds no infinities or NaNs.
    threads : int or None, optional
        Threads of the team; None: `get_num_threads`.

    Returns
    -------
    BandFactorization
        With ``solve(b)``, ``rcond()``, ``refine(b, x)``, ``logdet()``
        and ``inverse_bands()``.

    Raises
    ------
    numpy.linalg.LinAlgError
        When a real a is not positive definite, or a pivot of a complex
        one is zero.
    ValueError
        For a band that is not 2-D, infinities or NaNs under
        `check_finite`, or `threads` below 1.

    Examples
    --------
    >>> import numpy as np
    >>> import pband
    >>> f = pband.factorize(np.array([[0., -1., -1.], [2., 2., 2.]]))
    >>> f.solve(np.array([[1., 2.], [0., 0.], [1., 2.]]))
    array([[1., 2.],
           [1., 2.],
           [1., 2.]])
    """
    a1 = _l.validated(ab, check_finite)
    if a1.ndim != 2:
        raise ValueError(f"ab must be a 2-D array, not of shape {a1.shape}")
    _l.check_band(a1, "ab")
    dtype = _l.result_dtype(a1)
    low = _l.lower_form(a1, dtype, lower, False)
    if low is a1:
        low = low.copy(order="F")
    return BandFactorization(low, lower, threads)


def rcond_banded(ab, lower=False, check_finite=True, threads=None):
    """An estimate of the reciprocal condition number of a band matrix.

    ``factorize(ab, lower).rcond()``: 1 / (||a||_1 ||inv(a)||_1), within
    a small factor of the true value.

    Parameters
    ----------
    ab : (hb + 1, n) array_like
        The band in upper form, or lower form with ``lower=True``.
    lower : bool, optional
        Whether ab is in lower form (default: upper form).
    check_finite : bool, optional
        Check that the input holds no infinities or NaNs.
    threads : int or None, optional
        Threads of the team; None: `get_num_threads`.

    Returns
    -------
    float

    Raises
    ------
    numpy.linalg.LinAlgError
        When a is not positive definite (complex: a pivot is zero).
    ValueError
        As `factorize`.

    Examples
    --------
    >>> import numpy as np
    >>> import pband
    >>> round(pband.rcond_banded(np.array([[4., 4., 4.]])), 12)
    1.0
    """
    return factorize(ab, lower, check_finite, threads).rcond(threads)


def solveh_banded_mixed(ab, b, lower=False, check_finite=True, threads=None):
    """Solve a @ x = b in double precision with a single precision factor.

    As LAPACK's ``dsposv``: the factor in single precision, refinement in
    double until the residual is at the level of double precision (at most
    30 steps); when that fails, the double solve instead. ab and b are
    not changed.

    Parameters
    ----------
    ab : (hb + 1, n) array_like
        A real symmetric positive definite band, upper form, or lower
        form with ``lower=True``.
    b : (n,) or (n, k) array_like
        Right-hand sides.
    lower : bool, optional
        Whether ab is in lower form (default: upper form).
    check_finite : bool, optional
        Check that the input holds no infinities or NaNs.
    threads : int or None, optional
        Threads of the team; None: `get_num_threads`.

    Returns
    -------
    x : ndarray of float64
        Of b's shape.
    iter : int
        The refinement steps; -2 (a value overflowed single precision),
        -3 (the single factor failed) or -31 (no convergence) when the
        double solve was used instead.

    Raises
    ------
    numpy.linalg.LinAlgError
        When a is not positive definite.
    ValueError
        For incompatible shapes, infinities or NaNs under `check_finite`,
        or `threads` below 1.
    TypeError
        For complex input, as `solveh_banded`.

    Examples
    --------
    >>> import numpy as np
    >>> import pband
    >>> ab = np.array([[0., -1., -1.], [2., 2., 2.]])  # upper form
    >>> x, it = pband.solveh_banded_mixed(ab, np.array([1., 0., 1.]))
    >>> np.round(x, 12), it >= 0
    (array([1., 1., 1.]), True)
    """
    a1 = _l.validated(ab, check_finite)
    b1 = _l.validated(b, check_finite)
    if a1.ndim != 2:
        raise ValueError(f"ab must be a 2-D array, not of shape {a1.shape}")
    _l.check_band(a1, "ab")
    if b1.ndim not in (1, 2) or b1.shape[0] != a1.shape[1]:
        raise ValueError(
            f"b must have shape ({a1.shape[1]},) or ({a1.shape[1]}, k), "
            f"not {b1.shape}")
    _l.real_only(_l.result_dtype(a1, b1), "solveh_banded_mixed")
    low = _l.lower_form(a1, np.dtype(np.float64), lower, False)
    bb = np.array(b1, dtype=np.float64, order="F", copy=True)
    x = np.zeros_like(bb, order="F")
    if x.size == 0:
        return x, 0
    status, it = _pband.solve_mixed(low, _l.columns(bb), _l.columns(x),
                                    threads_for_call(threads))
    if status > 0:
        raise LinAlgError("the matrix is not positive definite")
    if status < 0:
        raise ValueError(_pband.status_message(status))
    return x, int(it)
