# Types of the pband package's public functions.
from typing import Any

import numpy as np
import numpy.typing as npt
from numpy.linalg import LinAlgError as LinAlgError

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
__version__: str

def solveh_banded(
    ab: npt.ArrayLike,
    b: npt.ArrayLike,
    overwrite_ab: bool = ...,
    overwrite_b: bool = ...,
    lower: bool = ...,
    check_finite: bool = ...,
    threads: int | None = ...,
    refine: bool = ...,
) -> npt.NDArray[Any]: ...
def solve_symmetric_banded(
    ab: npt.ArrayLike,
    b: npt.ArrayLike,
    *,
    lower: bool = ...,
    overwrite_ab: bool = ...,
    overwrite_b: bool = ...,
    check_finite: bool = ...,
    threads: int | None = ...,
) -> npt.NDArray[Any]: ...
def cholesky_banded(
    ab: npt.ArrayLike,
    overwrite_ab: bool = ...,
    lower: bool = ...,
    check_finite: bool = ...,
    threads: int | None = ...,
) -> npt.NDArray[np.inexact[Any]]: ...
def cho_solve_banded(
    cb_and_lower: tuple[npt.ArrayLike, bool],
    b: npt.ArrayLike,
    overwrite_b: bool = ...,
    check_finite: bool = ...,
    threads: int | None = ...,
) -> npt.NDArray[np.inexact[Any]]: ...
class BandFactorization:
    n: int
    hb: int
    dtype: np.dtype[Any]
    def __init__(self, low: npt.NDArray[Any], lower: bool,
                 threads: int | None) -> None: ...
    def solve(
        self,
        b: npt.ArrayLike,
        overwrite_b: bool = ...,
        check_finite: bool = ...,
        threads: int | None = ...,
    ) -> npt.NDArray[Any]: ...
    def rcond(self, threads: int | None = ...) -> float: ...
    def refine(
        self, b: npt.ArrayLike, x: npt.ArrayLike, threads: int | None = ...
    ) -> tuple[npt.NDArray[Any], npt.NDArray[Any], npt.NDArray[Any]]: ...
    def logdet(self) -> float | complex: ...
    def inverse_bands(self) -> npt.NDArray[Any]: ...

def factorize(
    ab: npt.ArrayLike,
    lower: bool = ...,
    check_finite: bool = ...,
    threads: int | None = ...,
) -> BandFactorization: ...
def rcond_banded(
    ab: npt.ArrayLike,
    lower: bool = ...,
    check_finite: bool = ...,
    threads: int | None = ...,
) -> float: ...
def solveh_banded_mixed(
    ab: npt.ArrayLike,
    b: npt.ArrayLike,
    lower: bool = ...,
    check_finite: bool = ...,
    threads: int | None = ...,
) -> tuple[npt.NDArray[np.float64], int]: ...
def get_num_threads() -> int: ...
def set_num_threads(threads: int | None) -> None: ...
