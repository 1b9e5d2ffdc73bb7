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


@pytest.mark.parametrize("dtype", TYPES)
def test_rcond_within_a_factor_ten_of_the_truth(dtype):
    for seed, scale in [(1, 1.0), (2, 1e-6)]:
        _, dense = band(80, 3, dtype, True, seed=seed)
        # An ill-conditioned variant: row and column 40 scaled down.
        d = np.ones(80)
        d[40] = scale
        dense = (d[:, None] * dense * d[None, :]).astype(dtype)
        ab = np.array([np.concatenate([np.diagonal(dense, -k), np.zeros(k)])
                       for k in range(4)], dtype=dtype)
        a = dense.astype(np.complex128)
        true = 1.0 / (np.linalg.norm(a, 1) * np.linalg.norm(np.linalg.inv(a),
                                                            1))
        got = pband.factorize(ab, lower=True).rcond(threads=2)
        assert true / 10 <= got <= true * 10, (got, true)
        assert got == pband.rcond_banded(ab, lower=True, threads=1)


def test_refinement_and_mixed_precision_against_scipy():
    import scipy.linalg
    ab, dense = band(500, 4, np.float64, False, seed=5)
    b = rhs((500, 2), np.float64)
    want = scipy.linalg.solveh_banded(ab, b)
    kept = (ab.copy(), b.copy())
    f = pband.factorize(ab)
    x0 = f.solve(b) * (1 + 1e-6)  # spoiled a little
    x, ferr, berr = f.refine(b, x0)
    err = np.max(np.abs(x - want), axis=0) / np.max(np.abs(x), axis=0)
    assert np.all(err <= ferr * 1.0001 + 1e-15)
    assert np.all(berr < 1e-14) and ferr.shape == (2,)
    r = pband.solveh_banded(ab, b, refine=True)
    assert np.max(np.abs(r - want)) < 1e-12 * np.max(np.abs(want))
    x, it = pband.solveh_banded_mixed(ab, b)
    assert x.dtype == np.float64 and 0 <= it <= 30
    assert scaled_residual(dense, x, b, np.float64) < 30
    x32, _ = pband.solveh_banded_mixed(ab.astype(np.float32), b[:, 0])
    assert x32.dtype == np.float64 and x32.shape == (500,)
    assert np.array_equal(ab, kept[0]) and np.array_equal(b, kept[1])
    with pytest.raises(TypeError):
        pband.solveh_banded_mixed(ab.astype(np.complex128), b)
    with pytest.raises(ValueError):
        pband.solveh_banded_mixed(ab, b[:-1])
    with pytest.raises(ValueError):
        pband.solveh_banded(np.stack([ab, ab]), b, refine=True)
    with pytest.raises(ValueError):
        f.refine(b, x0[:, 0])
    not_pd = ab.copy()
    not_pd[-1, 7] = -1.0
    with pytest.raises(pband.LinAlgError):
        pband.solveh_banded_mixed(not_pd, b)
    with pytest.raises(pband.LinAlgError, match="leading minor of order 8"):
        pband.solveh_banded(not_pd, b, refine=True)
