"""Complex input as SciPy reads it, Hermitian: pband's solveh_banded,
cholesky_banded and cho_solve_banded against SciPy's on the same inputs,
factors passed both ways, batches against one call per system, and the
failed pivot named as SciPy names it."""
import numpy as np
import pytest
import scipy.linalg as sl

import pband
from test_pband import band, rhs, scaled_residual

COMPLEX = [np.complex64, np.complex128]


def hermitian_band(n, hb, dtype, lower, seed=0):
    return band(n, hb, dtype, lower, seed, hermitian=True)


def tolerance(dtype):
    return 1e-3 if dtype == np.complex64 else 1e-10


@pytest.mark.parametrize("dtype", COMPLEX)
@pytest.mark.parametrize("lower", [False, True])
@pytest.mark.parametrize("n, hb, b_shape", [
    (1, 0, (1,)), (37, 1, (37,)), (300, 2, (300, 3)), (513, 8, (513, 1)),
    (40, 12, (40, 2)),
])
def test_solveh_banded_as_scipy(dtype, lower, n, hb, b_shape):
    ab, dense = hermitian_band(n, hb, dtype, lower, seed=n + hb)
    b = rhs(b_shape, dtype)
    ab0, b0 = ab.copy(), b.copy()
    for threads in [1, 3]:
        x = pband.solveh_banded(ab, b, lower=lower, threads=threads)
        assert x.dtype == dtype and x.shape == b.shape
        np.testing.assert_array_equal(ab, ab0)
        np.testing.assert_array_equal(b, b0)
        assert scaled_residual(dense, x, b, dtype) < 30
        ref = sl.solveh_banded(ab, b, lower=lower)
        np.testing.assert_allclose(x, ref, rtol=tolerance(dtype),
                                   atol=tolerance(dtype) * abs(ref).max())


def test_unusual_layouts_and_dtype_rules():
    ab, dense = hermitian_band(200, 3, np.complex128, False, seed=4)
    b = rhs((200, 2), np.complex128)
    ref = pband.solveh_banded(ab, b)
    # C order, read-only, and a band written as a view: the same bits.
    ro = np.ascontiguousarray(ab)
    ro.flags.writeable = False
    assert pband.solveh_banded(ro, b).tobytes() == ref.tobytes()
    assert pband.solveh_banded(np.asfortranarray(ab),
                               b.copy(order="F")).tobytes() == ref.tobytes()
    # A real band with a complex b is Hermitian, as SciPy reads it.
    real_ab, real_dense = hermitian_band(50, 2, np.complex128, True)
    real_ab = real_ab.real.copy()
    x = pband.solveh_banded(real_ab, b[:50, 0], lower=True)
    assert x.dtype == np.complex128
    assert scaled_residual(real_dense.real, x, b[:50, 0], np.float64) < 30
    # complex64 with float64 gives complex128, as SciPy ranks them.
    x = pband.solveh_banded(ab.astype(np.complex64), b.real)
    assert x.dtype == np.complex128


@pytest.mark.parametrize("dtype", COMPLEX)
def test_same_bits_for_every_thread_count(dtype):
    ab, _ = hermitian_band(3000, 4, dtype, True, seed=2)
    b = rhs((3000, 2), dtype)
    first = pband.solveh_banded(ab, b, lower=True, threads=1)
    for t in [2, 3, 4, 1]:
        x = pband.solveh_banded(ab, b, lower=True, threads=t)
        assert x.tobytes() == first.tobytes(), t


def test_diagonal_reads_as_its_real_part():
    ab, _ = hermitian_band(120, 2, np.complex128, True, seed=3)
    b = rhs((120,), np.complex128)
    odd = ab.copy()
    odd[0] += 5j
    assert (pband.solveh_banded(odd, b, lower=True).tobytes()
            == pband.solveh_banded(ab, b, lower=True).tobytes())
    c = pband.cholesky_banded(odd, lower=True)
    assert np.all(c[0].imag == 0)


@pytest.mark.parametrize("dtype", COMPLEX)
@pytest.mark.parametrize("lower", [False, True])
def test_cholesky_factors_pass_both_ways(dtype, lower):
    ab, dense = hermitian_band(90, 3, dtype, lower, seed=7)
    b = rhs((90, 2), dtype)
    c = pband.cholesky_banded(ab, lower=lower)
    ref = sl.cholesky_banded(ab, lower=lower)
    assert c.dtype == dtype
    np.testing.assert_allclose(c, ref, rtol=tolerance(dtype),
                               atol=tolerance(dtype) * abs(ref).max())
    for factor in [c, ref]:
        x = pband.cho_solve_banded((factor, lower), b)
        assert scaled_residual(dense, x, b, dtype) < 30
    x = sl.cho_solve_banded((c, lower), b)
    assert scaled_residual(dense, x, b, dtype) < 30


@pytest.mark.parametrize("lower", [False, True])
def test_failed_pivot_names_the_minor_as_scipy(lower):
    ab, _ = hermitian_band(60, 2, np.complex128, lower, seed=5)
    diag = 0 if lower else 2
    ab[diag, 41] = -1.0
    with pytest.raises(np.linalg.LinAlgError) as theirs:
        sl.cholesky_banded(ab, lower=lower)
    with pytest.raises(np.linalg.LinAlgError) as ours:
        pband.cholesky_banded(ab, lower=lower)
    assert str(ours.value) == str(theirs.value)
    with pytest.raises(np.linalg.LinAlgError,
                       match="leading minor of order 42 is not positive"):
        pband.solveh_banded(ab, np.ones(60), lower=lower)


@pytest.mark.parametrize("dtype", COMPLEX)
def test_batches_as_one_call_each(dtype):
    pairs = [hermitian_band(70, 2, dtype, False, seed=k) for k in range(5)]
    ab = np.stack([p[0] for p in pairs])
    b = rhs((5, 70, 2), dtype)
    c = np.stack([pband.cholesky_banded(a) for a in ab])
    for t in [1, 2]:
        x = pband.solveh_banded(ab, b, threads=t)
        y = pband.cho_solve_banded((c, False), b, threads=t)
        for k in range(5):
            one = pband.solveh_banded(ab[k], b[k], threads=1)
            assert x[k].tobytes() == np.asfortranarray(one).tobytes()
            ref = sl.cho_solve_banded((c[k], False), b[k])
            np.testing.assert_allclose(y[k], ref, rtol=tolerance(dtype),
                                       atol=tolerance(dtype) * abs(ref).max())
    bad = ab.copy()
    bad[3, 2, 10] = -4
    with pytest.raises(np.linalg.LinAlgError, match=r"system \(3,\)"):
        pband.solveh_banded(bad, b)


def test_complex_refinement_and_mixed_are_refused():
    ab, _ = hermitian_band(20, 1, np.complex128, True)
    with pytest.raises(TypeError, match="solve_symmetric_banded"):
        pband.solveh_banded(ab, np.ones(20), lower=True, refine=True)
    with pytest.raises(TypeError):
        pband.solveh_banded_mixed(ab, np.ones(20), lower=True)
