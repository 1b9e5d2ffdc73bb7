"""The stored factor through Python: its solves give the bits of one
solve, its log-determinant and the band of its inverse agree with dense
references, and bad input is refused as SciPy refuses it."""
import numpy as np
import pytest

import pband
from test_pband import band, rhs, scaled_residual

TYPES = [np.float32, np.float64, np.complex64, np.complex128]


@pytest.mark.parametrize("dtype", TYPES)
@pytest.mark.parametrize("lower", [True, False])
def test_solves_give_the_bits_of_one_solve(dtype, lower):
    ab, dense = band(700, 3, dtype, lower)
    ab.setflags(write=False)  # read-only input is fine
    f = pband.factorize(ab, lower=lower, threads=2)
    for shape in [(700,), (700, 3)]:
        b = rhs(shape, dtype)
        low, _ = band(700, 3, dtype, True)
        once = pband.solve_symmetric_banded(low, b, threads=2)
        for threads in (1, 2):
            x = f.solve(b, threads=threads)
            assert x.dtype == dtype and x.shape == shape
            assert x.tobytes() == once.tobytes()
        assert scaled_residual(dense, x, b, dtype) < 30


@pytest.mark.parametrize("dtype", TYPES)
def test_logdet_and_inverse_bands_against_dense(dtype):
    n, hb = 60, 4
    for lower in (True, False):
        ab, dense = band(n, hb, dtype, lower, seed=3)
        f = pband.factorize(np.ascontiguousarray(ab), lower=lower)
        a = dense.astype(np.complex128)
        tol = 1e-4 if dtype in (np.float32, np.complex64) else 1e-11
        if np.dtype(dtype).kind == "c":
            want = np.log(np.linalg.det(a))
            got = f.logdet()
            assert isinstance(got, complex)
            assert abs(got - want) < tol * abs(want.real) + tol
            assert -np.pi < got.imag <= np.pi
        else:
            sign, want = np.linalg.slogdet(a.real)
            assert sign > 0
            assert abs(f.logdet() - want) < tol * abs(want)
        inv = np.linalg.inv(a)
        z = f.inverse_bands()
        assert z.shape == ab.shape and z.dtype == dtype
        for d in range(hb + 1):
            got = z[d, :n - d] if lower else z[hb - d, d:]
            want = np.diagonal(inv, -d)
            assert np.max(np.abs(got - want)) < tol * np.max(np.abs(inv))


def test_bad_input():
    ab, _ = band(50, 2, np.float64, True)
    not_pd = ab.copy()
    not_pd[0, 20] = -5.0
    with pytest.raises(pband.LinAlgError):
        pband.factorize(not_pd, lower=True)
    with pytest.raises(ValueError):
        pband.factorize(np.ones(5))
    f = pband.factorize(ab, lower=True)
    with pytest.raises(ValueError):
        f.solve(np.ones(49))
    with pytest.raises(ValueError):
        f.solve(np.ones((50, 2, 2)))
    with pytest.raises(TypeError):
        f.solve(np.ones(50, dtype=np.complex128))
    with pytest.raises(ValueError):
        f.solve(np.full(50, np.nan))
    with pytest.raises(ValueError):
        f.solve(np.ones(50), threads=0)
    # An integer right-hand side is taken in the factor's type.
    assert f.solve(np.arange(50)).dtype == np.float64
