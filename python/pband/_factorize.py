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
        # The original band, for the natural-order factor of inverse_bands.
        self._band = low.copy(order="F")
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
        With ``solve(b)``, ``logdet()`` and ``inverse_bands()``.

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
