"""Stacks of systems: the batch rules of scipy.linalg (leading dimensions
broadcast; a 1-D b is one vector, else the last two dimensions are one
system's), the bits of one call per system, SciPy's solution of each
system, and the failed system named."""
import numpy as np
import pytest
import scipy.linalg as sl

import pband
from test_pband import band, rhs, scaled_residual


def stack(count, n, hb, dtype, lower, seed=0):
    pairs = [band(n, hb, dtype, lower, seed + k) for k in range(count)]
    return (np.stack([p[0] for p in pairs]), np.stack([p[1] for p in pairs]))


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
@pytest.mark.parametrize("lower", [False, True])
@pytest.mark.parametrize("ab_batch, b_shape", [
    ((4,), (4, 60, 1)), ((4,), (4, 60, 3)), ((2, 3), (60,)),
    ((), (5, 60, 2)), ((3, 1), (2, 60, 1)), ((1,), (60, 2)),
])
def test_solveh_banded_batch_as_one_call_each(dtype, lower, ab_batch,
                                              b_shape):
    n, hb = 60, 3
    count = int(np.prod(ab_batch, dtype=np.int64))
    abs_, dense = stack(count, n, hb, dtype, lower)
    ab = abs_.reshape(ab_batch + abs_.shape[1:])
    dense = dense.reshape(ab_batch + (n, n))
    b = rhs(b_shape, dtype)
    ab0, b0 = ab.copy(), b.copy()
    x = pband.solveh_banded(ab, b, lower=lower, threads=2)
    np.testing.assert_array_equal(ab, ab0)
    np.testing.assert_array_equal(b, b0)
    core = b.shape[-1:] if b.ndim == 1 else b.shape[-2:]
    batch = np.broadcast_shapes(ab_batch, b.shape[:b.ndim - len(core)])
    assert x.shape == batch + core and x.dtype == dtype
    a_all = np.broadcast_to(ab, batch + ab.shape[-2:])
    d_all = np.broadcast_to(dense, batch + (n, n))
    b_all = np.broadcast_to(b, batch + core)
    for i in np.ndindex(batch):
        one = pband.solveh_banded(a_all[i], b_all[i], lower=lower, threads=1)
        assert x[i].tobytes() == np.asfortranarray(one).tobytes(), i
        ref = sl.solveh_banded(a_all[i], b_all[i], lower=lower)
        assert scaled_residual(d_all[i], x[i], b_all[i], dtype) < 30
        np.testing.assert_allclose(x[i], ref, rtol=0, atol=100 *
                                   np.finfo(dtype).eps * np.abs(ref).max())


@pytest.mark.parametrize("dtype", [np.complex64, np.complex128])
def test_solve_symmetric_banded_batch_bits(dtype):
    """Small complex systems are solved each on one thread: the bits of a
    call of its own with threads=1, whatever the batch's team."""
    ab, _ = stack(6, 80, 2, dtype, True)
    b = rhs((6, 80, 2), dtype)
    for t in [1, 2, 4]:
        x = pband.solve_symmetric_banded(ab, b, threads=t)
        for k in range(6):
            one = pband.solve_symmetric_banded(ab[k], b[k], threads=1)
            assert x[k].tobytes() == np.asfortranarray(one).tobytes()


def test_large_systems_go_to_the_team():
    n = 70000
    ab = np.empty((2, 2, n))
    ab[:, 0], ab[:, 1] = 4.0, -1.0
    ab[1, 0] *= 2
    b = rhs((n,), np.float64)
    x = pband.solveh_banded(ab, b, lower=True, threads=2)
    for k in range(2):
        one = pband.solveh_banded(ab[k], b, lower=True, threads=2)
        assert x[k].tobytes() == one.tobytes()


def test_cho_solve_banded_batch_as_one_call_each():
    ab, dense = stack(3, 50, 2, np.float64, False)
    cb = np.stack([sl.cholesky_banded(a) for a in ab])
    b = rhs((2, 1, 50, 2), np.float64)
    x = pband.cho_solve_banded((cb, False), b)
    assert x.shape == (2, 3, 50, 2)
    for i, k in np.ndindex(2, 3):
        one = pband.cho_solve_banded((cb[k], False), b[i, 0])
        assert x[i, k].tobytes() == np.asfortranarray(one).tobytes()
        ref = sl.cho_solve_banded((cb[k], False), b[i, 0])
        np.testing.assert_allclose(x[i, k], ref, rtol=1e-12, atol=1e-14)


def test_batch_inputs_that_are_views_read_only_or_other_types():
    ab, dense = stack(4, 40, 2, np.float64, True)
    b = rhs((4, 40, 1), np.float64)
    ref = pband.solveh_banded(ab, b, lower=True)
    # Non-contiguous, read-only, C-ordered int and float32 views.
    wide = np.zeros((8, 3, 80))
    wide[::2, :, ::2] = ab
    view = wide[::2, :, ::2]
    ro = b.copy()
    ro.flags.writeable = False
    assert (pband.solveh_banded(view, ro, lower=True).tobytes()
            == ref.tobytes())
    x32 = pband.solveh_banded(ab.astype(np.float32), b.astype(np.float32),
                              lower=True)
    assert x32.dtype == np.float32
    xi = pband.solveh_banded(np.round(ab * 8).astype(np.int64), b, lower=True)
    assert xi.dtype == np.float64


def test_batch_errors():
    ab, _ = stack(3, 30, 2, np.float64, True)
    with pytest.raises(ValueError):
        pband.solveh_banded(ab, rhs((2, 30, 1), np.float64), lower=True)
    with pytest.raises(ValueError, match="zero-size"):
        pband.solveh_banded(ab[:0], np.ones(30), lower=True)
    with pytest.raises(ValueError, match="not compatible"):
        pband.solveh_banded(ab, rhs((3, 29, 1), np.float64), lower=True)
    # b of (n, 2, 2) is a batch of 2 x 2 right-hand sides, as SciPy reads it
    with pytest.raises(ValueError):
        pband.solveh_banded(ab[0], np.ones((30, 2, 2)), lower=True)
    bad = ab.copy()
    bad[2, 0, 11] = -5
    bad[1, 0, 20] = -5
    with pytest.raises(np.linalg.LinAlgError) as err:
        pband.solveh_banded(bad, np.ones(30), lower=True)
    assert str(err.value) == ("the leading minor of order 21 is not positive "
                              "definite (system (1,) of the batch)")


def test_failed_pivot_names_the_leading_minor_as_scipy():
    ab, _ = band(50, 2, np.float64, False)
    for j in [0, 17, 49]:
        bad = ab.copy()
        bad[2, j] = -1
        with pytest.raises(np.linalg.LinAlgError) as ours:
            pband.solveh_banded(bad, np.ones(50))
        with pytest.raises(np.linalg.LinAlgError) as theirs:
            sl.solveh_banded(bad, np.ones(50))
        order = int(str(theirs.value).split("th")[0])
        assert str(ours.value) == (f"the leading minor of order {order} is "
                                   "not positive definite")
    # Solved in ab itself, the band is gone: no order to name.
    bad = np.asfortranarray(band(50, 2, np.float64, True)[0])
    bad[0, 3] = -1
    with pytest.raises(np.linalg.LinAlgError, match="^the matrix is not"):
        pband.solveh_banded(bad, np.ones(50), lower=True, overwrite_ab=True)


def test_core_refuses_stacks_it_cannot_take():
    """The compiled batch entry checks the layout it is given."""
    core = pband._pband

    def stacks(count=3, n=20, dtype=np.float64):
        ab = np.empty((count, n, 2), dtype=dtype).transpose(0, 2, 1)
        ab[:, 0], ab[:, 1] = 4.0, 1.0
        b = np.ones((count, 1, n), dtype=dtype).transpose(0, 2, 1)
        return ab, b

    ab, b = stacks()
    info, statuses = core.solve_batch(ab, b, 1)
    assert info == 0 and statuses.tolist() == [0, 0, 0]
    # A dimension of one may have any stride: C order is Fortran order.
    assert core.solve_batch(ab, np.ones((3, 20, 1)), 1)[0] == 0
    read_only = b.copy(order="K")
    read_only.flags.writeable = False
    c_order = np.ascontiguousarray(ab)
    swapped = ab.astype(ab.dtype.newbyteorder())
    cases = [
        ((ab, read_only), ValueError),
        ((c_order, b), ValueError),                    # rows not adjacent
        ((ab[0], b[0]), ValueError),                   # not stacks
        ((ab, b.astype(np.float32)), TypeError),
        ((ab.astype(int), b.astype(int)), TypeError),
        ((swapped, b), ValueError),
        ((ab[:2], b), ValueError),                     # counts differ
        ((ab, stacks(n=21)[1]), ValueError),           # orders differ
    ]
    for args, error in cases:
        with pytest.raises(error):
            core.solve_batch(*args, 1)
    # One band for every system would be overwritten by each: the C
    # interface's stride check refuses it, and the core passes that on.
    shared = np.lib.stride_tricks.as_strided(
        ab, shape=ab.shape, strides=(0,) + ab.strides[1:])
    assert core.solve_batch(shared, b, 1)[0] == -7
