"""pband's Python functions against SciPy's on the same inputs: result
types and shapes, the arrays they overwrite, the exceptions, and solutions
and factors that agree to rounding-level residuals."""
import sys
import threading

import numpy as np
import pytest
import scipy.linalg as sl

import pband

REAL = [np.float32, np.float64]
COMPLEX = [np.complex64, np.complex128]


def band(n, hb, dtype, lower, seed=0, hermitian=False):
    """A diagonally dominant symmetric (or Hermitian) band matrix: (ab in
    the given form, the dense matrix)."""
    rng = np.random.default_rng(seed)
    dense = np.zeros((n, n), dtype=np.complex128)
    for d in range(1, hb + 1):
        v = rng.uniform(-1, 1, n - d) if n > d else np.zeros(0)
        if np.issubdtype(dtype, np.complexfloating):
            v = v + 1j * rng.uniform(-1, 1, max(n - d, 0))
        dense += np.diag(v, -d) + np.diag(v.conj() if hermitian else v, d)
    dense += np.diag(np.abs(dense).sum(axis=1) + 1 + rng.uniform(0, 1, n))
    if not np.issubdtype(dtype, np.complexfloating):
        dense = dense.real
    dense = dense.astype(dtype)
    ab = np.zeros((hb + 1, n), dtype=dtype)
    for d in range(hb + 1):
        if lower:
            ab[d, :n - d] = np.diagonal(dense, -d)
        else:
            ab[hb - d, d:] = np.diagonal(dense, d)
    return ab, dense


def rhs(shape, dtype, seed=1):
    rng = np.random.default_rng(seed)
    b = rng.standard_normal(shape)
    if np.issubdtype(dtype, np.complexfloating):
        b = b + 1j * rng.standard_normal(shape)
    return b.astype(dtype)


def scaled_residual(dense, x, b, dtype):
    """max over columns of |b - A x|_1 / (|A|_1 |x|_1 eps), as LAPACK's
    tests judge solutions."""
    eps = np.finfo(dtype).eps
    a = dense.astype(np.complex128)
    x2 = x.reshape(x.shape[0], -1).astype(np.complex128)
    b2 = b.reshape(b.shape[0], -1).astype(np.complex128)
    r = np.abs(b2 - a @ x2).sum(axis=0)
    anorm = np.abs(a).sum(axis=0).max()
    xnorm = np.abs(x2).sum(axis=0)
    return float((r / (anorm * xnorm * eps)).max()) if x2.size else 0.0


@pytest.mark.parametrize("dtype", REAL)
@pytest.mark.parametrize("lower", [False, True])
@pytest.mark.parametrize("hb", [0, 1, 2, 7])
@pytest.mark.parametrize("bshape", [(), (3,)])
@pytest.mark.parametrize("order", ["C", "F"])
def test_solveh_banded_as_scipy(dtype, lower, hb, bshape, order):
    n = 157
    ab, dense = band(n, hb, dtype, lower)
    ab = np.asarray(ab, order=order)
    b = np.asarray(rhs((n,) + bshape, dtype), order=order)
    ab0, b0 = ab.copy(), b.copy()
    x = pband.solveh_banded(ab, b, lower=lower, threads=2)
    ref = sl.solveh_banded(ab, b, lower=lower)
    assert x.dtype == ref.dtype and x.shape == ref.shape
    assert x.flags.f_contiguous == ref.flags.f_contiguous
    np.testing.assert_array_equal(ab, ab0)
    np.testing.assert_array_equal(b, b0)
    assert scaled_residual(dense, x, b, dtype) < 30
    np.testing.assert_allclose(x, ref, rtol=0, atol=100 * np.finfo(dtype).eps
                               * np.abs(ref).max())


@pytest.mark.parametrize("ab_type, b_type", [
    (np.float32, np.float64), (np.int64, np.float32), (np.int8, np.int16),
    (np.float16, np.float32), (np.int32, np.int32),
    (np.longdouble, np.float32),
])
def test_dtype_rules_as_scipy(ab_type, b_type):
    ab, _ = band(40, 2, np.float64, True)
    ab = np.round(ab * 4).astype(ab_type)
    b = np.arange(40).astype(b_type)
    x = pband.solveh_banded(ab, b, lower=True)
    ref = sl.solveh_banded(ab, b, lower=True)
    assert x.dtype == ref.dtype
    np.testing.assert_allclose(x, ref, rtol=1e-4 if x.dtype == np.float32
                               else 1e-12)


def test_lists_and_empty_systems_as_scipy():
    ab, _ = band(6, 1, np.float64, False)
    x = pband.solveh_banded(ab.tolist(), [1, 2, 3, 4, 5, 6])
    np.testing.assert_allclose(x, sl.solveh_banded(ab.tolist(),
                                                   [1, 2, 3, 4, 5, 6]))
    e = pband.solveh_banded(np.ones((3, 0)), np.ones(0))
    assert e.shape == sl.solveh_banded(np.ones((3, 0)), np.ones(0)).shape
    # SciPy refuses this one (LAPACK's ldb would be 0); nothing to solve.
    assert pband.solveh_banded(np.ones((3, 0)), np.ones((0, 2))).shape == \
        (0, 2)
    no_rhs = pband.solveh_banded(ab, np.ones((6, 0)))
    assert no_rhs.shape == (6, 0)


@pytest.mark.parametrize("lower", [False, True])
def test_overwrite_flags_as_scipy(lower):
    """Which arrays are solved in place follows SciPy: b when allowed and
    of the result's type in Fortran order, ab only when allowed."""
    n = 64
    for b_order in ["C", "F"]:
        for b_shape in [(n,), (n, 3)]:
            ab, _ = band(n, 3, np.float64, lower)
            ab = np.asfortranarray(ab)
            b = np.asarray(rhs(b_shape, np.float64), order=b_order)
            ours_b = b.copy(order="A")
            x = pband.solveh_banded(ab.copy(order="F"), ours_b,
                                    overwrite_b=True, lower=lower)
            ref_b = b.copy(order="A")
            ref = sl.solveh_banded(ab.copy(order="F"), ref_b,
                                   overwrite_b=True, lower=lower)
            assert np.shares_memory(x, ours_b) == np.shares_memory(ref, ref_b)
            np.testing.assert_allclose(x, ref, rtol=1e-12)
    ab, _ = band(n, 3, np.float64, True)
    ab = np.asfortranarray(ab)
    kept = ab.copy(order="F")
    pband.solveh_banded(kept, np.ones(n), lower=True)
    np.testing.assert_array_equal(kept, ab)
    pband.solveh_banded(kept, np.ones(n), lower=True, overwrite_ab=True)
    assert not np.array_equal(kept, ab)


def test_errors_as_scipy():
    ab, _ = band(8, 2, np.float64, True)
    cases = [
        (ab, np.ones(7), ValueError),                     # shapes
        (np.where(ab == ab[0, 3], np.nan, ab), np.ones(8), ValueError),
        (ab, np.full(8, np.inf), ValueError),
        (-ab, np.ones(8), np.linalg.LinAlgError),           # not pos. def.
        (ab.astype(object), np.ones(8), ValueError),
    ]
    for a, b, error in cases:
        with pytest.raises(error):
            sl.solveh_banded(a, b, lower=True)
        with pytest.raises(error):
            pband.solveh_banded(a, b, lower=True)
    # Where SciPy's answer is not an error worth copying: a 1-D band, an
    # empty one, a scalar right-hand side; and a stack of bands whose
    # order is not b's.
    for a, b in [(np.ones(8), np.ones(8)), (np.ones((0, 8)), np.ones(8)),
                 (ab, np.float64(1)), (np.ones((3, 8, 1)), np.ones(2))]:
        with pytest.raises(ValueError):
            pband.solveh_banded(a, b, lower=True)
    with pytest.raises(ValueError):
        pband.solveh_banded(ab, np.ones(8), lower=True, threads=0)
    with pytest.raises(TypeError):
        pband.solveh_banded(ab, np.ones(8), lower=True, threads=1.5)
    # Not finite, but not checked: the solver's own answer, no exception.
    x = pband.solveh_banded(ab, np.full(8, np.nan), lower=True,
                            check_finite=False)
    assert np.isnan(x).all()


@pytest.mark.parametrize("dtype", REAL + COMPLEX)
@pytest.mark.parametrize("lower", [False, True])
@pytest.mark.parametrize("order", ["C", "F"])
def test_solve_symmetric_banded(dtype, lower, order):
    """Complex symmetric (no conjugation) and real systems, against SciPy's
    general band solver on the full band."""
    n, hb = 203, 4
    ab, dense = band(n, hb, dtype, lower, seed=5)
    ab = np.asarray(ab, order=order)
    b = rhs((n, 2), dtype)
    x = pband.solve_symmetric_banded(ab, b, lower=lower, threads=3)
    full = np.zeros((2 * hb + 1, n), dtype=dtype)
    for d in range(-hb, hb + 1):
        full[hb - d, max(d, 0):n + min(d, 0)] = np.diagonal(dense, d)
    ref = sl.solve_banded((hb, hb), full, b)
    assert x.dtype == ref.dtype and x.shape == ref.shape
    assert scaled_residual(dense, x, b, dtype) < 30
    np.testing.assert_allclose(x, ref, rtol=0, atol=100 * np.finfo(dtype).eps
                               * np.abs(ref).max())
    zero = ab.copy()
    zero[hb if not lower else 0, :] = 0
    zero[:, 0] = 0
    with pytest.raises(np.linalg.LinAlgError):
        pband.solve_symmetric_banded(zero, b, lower=lower)


@pytest.mark.parametrize("dtype", REAL)
@pytest.mark.parametrize("lower", [False, True])
@pytest.mark.parametrize("hb", [0, 1, 3, 9])
def test_cholesky_banded_as_scipy(dtype, lower, hb):
    n = 120
    ab, dense = band(n, hb, dtype, lower, seed=hb)
    ab = np.asfortranarray(ab)
    # Positions outside the matrix keep whatever they held, as in SciPy.
    row, col = np.indices(ab.shape)
    outside = col + row >= n if lower else col < hb - row
    ab[outside] = 77
    c = pband.cholesky_banded(ab, lower=lower, threads=2)
    ref = sl.cholesky_banded(ab, lower=lower)
    assert c.dtype == ref.dtype and c.shape == ref.shape
    eps = np.finfo(dtype).eps
    np.testing.assert_allclose(c, ref, rtol=0,
                               atol=64 * eps * np.abs(ref).max())
    assert (c[outside] == 77).all() and (ref[outside] == 77).all()
    b = rhs((n, 3), dtype)
    for factor in [c, ref]:
        for solve in [pband.cho_solve_banded, sl.cho_solve_banded]:
            x = solve((factor, lower), b)
            assert x.dtype == dtype and x.shape == b.shape
            assert scaled_residual(dense, x, b, dtype) < 30


def test_cholesky_failure_names_the_minor_as_scipy():
    ab, _ = band(50, 2, np.float64, True)
    for j in [0, 17, 49]:
        bad = ab.copy()
        bad[0, j] = -1
        with pytest.raises(np.linalg.LinAlgError) as ours:
            pband.cholesky_banded(bad, lower=True)
        with pytest.raises(np.linalg.LinAlgError) as theirs:
            sl.cholesky_banded(bad, lower=True)
        assert str(ours.value) == str(theirs.value)


def test_cho_solve_banded_flags_and_errors_as_scipy():
    ab, _ = band(30, 2, np.float64, False)
    c = pband.cholesky_banded(ab)
    for order in ["C", "F"]:
        b = np.asarray(rhs((30, 2), np.float64), order=order)
        mine, theirs = b.copy(order="A"), b.copy(order="A")
        x = pband.cho_solve_banded((c, False), mine, overwrite_b=True)
        y = sl.cho_solve_banded((c, False), theirs, overwrite_b=True)
        assert np.shares_memory(x, mine) == np.shares_memory(y, theirs)
    for args in [((c, False), np.ones(29)), ((c, False), np.full(30, np.nan))]:
        with pytest.raises(ValueError):
            sl.cho_solve_banded(*args)
        with pytest.raises(ValueError):
            pband.cho_solve_banded(*args)
    a32 = pband.cho_solve_banded((c.astype(np.float32), False),
                                 np.ones(30, np.float32))
    assert a32.dtype == np.float32
    d = np.zeros_like(c)
    assert np.isnan(pband.cho_solve_banded((d, False), np.ones(30))).all()


@pytest.mark.parametrize("dtype", REAL + COMPLEX)
def test_same_bits_for_the_same_call(dtype):
    """The same bits on every thread count, whatever ran before."""
    ab, _ = band(2000, 3, dtype, True, seed=9)
    b = rhs((2000, 2), dtype)
    solve = pband.solve_symmetric_banded
    first = solve(ab, b, threads=1)
    for t in [3, 1, 2, 4, 32, 1, 3]:
        assert solve(ab, b, threads=t).tobytes() == first.tobytes()


def test_gil_is_released_during_a_solve():
    """Another Python thread runs while a long solve works. With thread
    switches left to blocking calls alone, the main thread can only wake
    from its short waits during the solve if the solve let go of the GIL."""
    n = 3000000
    ab = np.empty((2, n), order="F")
    ab[0], ab[1] = 4.0, 1.0
    b = np.ones(n)
    started, finished = threading.Event(), threading.Event()

    def solve():
        started.set()
        pband.solveh_banded(ab, b, lower=True, threads=1, overwrite_ab=True,
                            overwrite_b=True, check_finite=False)
        finished.set()

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    try:
        worker = threading.Thread(target=solve)
        worker.start()
        started.wait()
        ticks = 0
        while not finished.wait(0.0002):
            ticks += 1
        worker.join()
    finally:
        sys.setswitchinterval(interval)
    assert ticks >= 10
