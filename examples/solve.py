"""Solves a symmetric positive definite band system with pband from Python,
in SciPy's upper band form, and checks the residual."""
import numpy as np
import pband

n, hb = 100000, 2
# Rows of the upper form: second superdiagonal, first, then the diagonal.
ab = np.empty((hb + 1, n))
ab[0, :] = 0.5
ab[1, :] = -1.0
ab[2, :] = 4.0
rng = np.random.default_rng(7)
b = rng.standard_normal((n, 3))

x = pband.solveh_banded(ab, b)  # every processor; ab and b are kept


def times(ab, x):
    """A @ x from the upper form."""
    y = ab[hb][:, None] * x
    for d in range(1, hb + 1):
        y[:-d] += ab[hb - d, d:, None] * x[d:]
        y[d:] += ab[hb - d, d:, None] * x[:-d]
    return y


worst = np.abs(b - times(ab, x)).max()
print(f"Python: pband {pband.__version__}, n = {n}, "
      f"max |b - A x| = {worst:.3g}")
raise SystemExit(0 if worst < 1e-12 else 1)
