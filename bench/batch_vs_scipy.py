"""Many small systems: one pband call on the stack against a Python loop
over scipy.linalg.solveh_banded, median of repeated runs.
  PYTHONPATH=build/release/python /usr/bin/python3 bench/batch_vs_scipy.py
"""
import argparse
import statistics
import time

import numpy as np
import scipy.linalg as sl

import pband

parser = argparse.ArgumentParser()
parser.add_argument("--count", type=int, default=2000)
parser.add_argument("--n", type=int, default=500)
parser.add_argument("--hb", type=int, default=2)
parser.add_argument("--repeats", type=int, default=9)
args = parser.parse_args()

rng = np.random.default_rng(5)
ab = rng.uniform(-1, 1, (args.count, args.hb + 1, args.n))
ab[:, -1] = 2 * (args.hb + 1)  # upper form: the diagonal is the last row
b = rng.standard_normal((args.count, args.n, 1))


def timed(f):
    times = []
    for _ in range(args.repeats):
        start = time.perf_counter()
        out = f()
        times.append(time.perf_counter() - start)
    return statistics.median(times), out


def scipy_loop():
    return np.stack([sl.solveh_banded(a, x) for a, x in zip(ab, b)])


t_scipy, ref = timed(scipy_loop)
print(f"{args.count} systems, n = {args.n}, hb = {args.hb}, float64, "
      f"median of {args.repeats}")
print(f"scipy.linalg.solveh_banded loop: {t_scipy * 1e3:8.1f} ms")
for threads in [1, None]:
    t, x = timed(lambda: pband.solveh_banded(ab, b, threads=threads))
    worst = float(np.abs(x - ref).max() / np.abs(ref).max())
    label = "all" if threads is None else threads
    print(f"pband batch, threads={label}:        {t * 1e3:8.1f} ms "
          f"({t_scipy / t:.2f}x), max rel. difference {worst:.1e}")
