"""Leading batch dimensions, as scipy.linalg takes them: the band's last
two dimensions and b's last one (b is 1-D) or two are one system's; the
dimensions before them broadcast against each other."""

import math

import numpy as np

from . import _layout
from . import _pband


def batch_shape(a, b, name):
    """The broadcast batch shape, () when neither argument has one. b
    must have at least one dimension."""
    core = 1 if b.ndim == 1 else 2
    if a.shape[-1] != b.shape[-core]:
        raise ValueError(f"shapes of {name} and b are not compatible.")
    batch = np.broadcast_shapes(a.shape[:-2], b.shape[:b.ndim - core])
    if batch and math.prod(batch) == 0:
        raise ValueError("zero-size batches are not supported")
    return batch


def _stack(a, b, batch, dtype, lower, hermitian):
    """Copies of the bands, in lower form, and of the right-hand sides,
    (count, rows, n) and (count, n, k), each system in Fortran order."""
    rows, n = a.shape[-2:]
    count = math.prod(batch)
    b2 = b[..., None] if b.ndim == 1 else b
    k = b2.shape[-1]
    bands = np.empty(batch + (n, rows), dtype=dtype)
    _layout.fill_lower(np.swapaxes(bands, -1, -2),
                       np.broadcast_to(a, batch + (rows, n)), lower, hermitian)
    xs = np.empty(batch + (k, n), dtype=dtype)
    np.swapaxes(xs, -1, -2)[...] = np.broadcast_to(b2, batch + (n, k))
    return (np.swapaxes(bands.reshape(count, n, rows), 1, 2),
            np.swapaxes(xs.reshape(count, k, n), 1, 2))


def _result(xs, b, batch):
    x = xs.reshape(batch + xs.shape[1:])
    return x[..., 0] if b.ndim == 1 else x


def solve(a, b, batch, dtype, lower, threads, hermitian):
    """x of every system; (x, the batch index of the first failed system
    or None)."""
    bands, xs = _stack(a, b, batch, dtype, lower, hermitian)
    info, _ = _pband.solve_batch(bands, xs, threads, hermitian)
    if info < 0:
        raise ValueError(_pband.status_message(info))
    failed = None
    if info > 0:
        failed = np.unravel_index(info - 1, batch)
    return _result(xs, b, batch), failed


def cholesky_solve(cb, b, batch, dtype, lower, threads, hermitian):
    factors, xs = _stack(cb, b, batch, dtype, lower, hermitian)
    for f, x in zip(factors, xs):
        status = _pband.cholesky_solve(f, x, threads, hermitian)
        if status != 0:
            raise ValueError(_pband.status_message(status))
    return _result(xs, b, batch)
