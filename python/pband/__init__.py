"""Parallel solution of symmetric positive definite band systems.

The functions take SciPy's arguments and band layouts, give results of the
same types and shapes and raise the same exceptions as their namesakes in
``scipy.linalg``:

- ``solveh_banded(ab, b, ...)``: A x = b for Hermitian positive definite
  A (real symmetric, or complex Hermitian as SciPy reads complex input),
  by block cyclic reduction on several threads;
- ``cholesky_banded(ab, ...)`` and ``cho_solve_banded((c, lower), b, ...)``:
  factor once in natural column order and solve many; factors pass to and
  from SciPy's functions of the same names;
- ``factorize(ab, ...)``: a stored parallel factor for many solves with
  one matrix, with its condition estimate, refinement with error bounds,
  log-determinant and the band of its inverse; ``rcond_banded`` and
  ``solveh_banded_mixed`` (a single precision factor refined in double);
- ``solve_symmetric_banded(ab, b, ...)``: complex symmetric (A = A.T,
  nothing conjugated) as well as real systems.

``ab`` has shape (hb + 1, n): the upper form holds a[i, j] (i <= j) in
``ab[hb + i - j, j]``, the lower form a[i, j] (i >= j) in ``ab[i - j, j]``.
The solvers take leading batch dimensions as SciPy does: ``ab`` of shape
(..., hb + 1, n) and ``b`` of (..., n, k) are stacks of systems whose
leading dimensions broadcast. Every function takes ``threads``: None uses
``get_num_threads()`` (every processor the process may run on unless
``set_num_threads`` said otherwise), an integer that many threads (at most
32). The GIL is released while the library works. The same arguments give
the same bits whatever ran before; see the API reference for the
thread-count rule.
"""

from numpy.linalg import LinAlgError

from . import _pband
from ._factor import cho_solve_banded, cholesky_banded
from ._factorize import (BandFactorization, factorize, rcond_banded,
                         solveh_banded_mixed)
from ._solvers import solve_symmetric_banded, solveh_banded
from ._threads import get_num_threads, set_num_threads
from ._threads import register_with_threadpoolctl as _register

__all__ = [
    "solveh_banded",
    "solve_symmetric_banded",
    "cholesky_banded",
    "cho_solve_banded",
    "factorize",
    "BandFactorization",
    "rcond_banded",
    "solveh_banded_mixed",
    "get_num_threads",
    "set_num_threads",
    "LinAlgError",
]
__version__: str = _pband.version()

_register()
