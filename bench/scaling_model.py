#!/usr/bin/python3
"""The time of the distributed cyclic reduction for a large n on many
ranks, from costs measured on one machine (docs/scaling.md).

Every block is factored once and back-substituted once; blocks are spread
evenly, so at level l each rank does ceil(e_l / p) of the e_l blocks that
level eliminates (one, on the ranks that hold any, once e_l < p). Each
level costs three point-to-point rounds with at most two neighbours
(before and after the factor phase, before the back-substitution), each
alpha + beta * bytes, and one integer reduction (2 log2 p rounds of
alpha). With more than one rank, each rank also copies its piece to the
arrays it works in (copy ns per row, from the two-rank measurement: the
two-rank time less half the one-rank time). ScaLAPACK's p?pbsv is modelled as its measured one-rank time
times k / p (k: its extra work once it has more than one rank, from the
two-rank measurement) plus its reduced system: log2 p steps, each a
message of a (2 hb)^2 block and a small dense factor.

usage: scaling_model.py --block-us C --alpha-us A --beta-ns-per-byte B
                        --scalapack-1 S1 --scalapack-2 S2 --n0 N0
                        [--copy-ns-per-row R] [--n N] [--hb HB] [--nrhs K] [--block-size BS]
"""
import argparse
import math


def levels(nb):
    """Blocks eliminated at each level: every other remaining one."""
    out, left = [], nb
    while left > 0:
        e = (left + 1) // 2
        out.append(e)
        left -= e
    return out


def model(a, p):
    nb = math.ceil(a.n / a.block_size)
    word = 8
    # Parts of neighbours moved per round and neighbour (band head and
    # tail, coupling head, rhs head and tail), in bytes.
    m = word * (2 * a.hb * (a.hb + 1) + a.hb * a.hb + 2 * a.hb * a.nrhs)
    rounds = 0 if p == 1 else 3 * (a.alpha + a.beta * m) + 2 * math.log2(p) * a.alpha
    total = 0.0 if p == 1 else a.copy * a.n / p
    bound_from = None
    for level, e in enumerate(levels(nb), start=1):
        work = math.ceil(e / p) * a.block
        total += work + rounds
        if bound_from is None and p > 1 and rounds > work:
            bound_from = level
    return total, bound_from, len(levels(nb))


def scalapack(a, p):
    scale = a.n / a.n0
    if p == 1:
        return a.scalapack_1 * scale
    k = 2 * a.scalapack_2 / a.scalapack_1
    reduced = math.log2(p) * (2 * a.alpha + a.beta * 8 * (2 * a.hb) ** 2 + 2e-6)
    return a.scalapack_1 * scale * k / p + reduced


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--block-us", type=float, required=True)
    ap.add_argument("--alpha-us", type=float, required=True)
    ap.add_argument("--beta-ns-per-byte", type=float, required=True)
    ap.add_argument("--scalapack-1", type=float, required=True)
    ap.add_argument("--scalapack-2", type=float, required=True)
    ap.add_argument("--n0", type=float, required=True)
    ap.add_argument("--copy-ns-per-row", type=float, default=0.0)
    ap.add_argument("--n", type=float, default=1e9)
    ap.add_argument("--hb", type=int, default=8)
    ap.add_argument("--nrhs", type=int, default=1)
    ap.add_argument("--block-size", type=int, default=72)
    a = ap.parse_args()
    a.block = a.block_us * 1e-6
    a.alpha = a.alpha_us * 1e-6
    a.beta = a.beta_ns_per_byte * 1e-9
    a.copy = a.copy_ns_per_row * 1e-9
    print("| ranks | pband_mpi (s) | speed-up | message-bound from level "
          "| p?pbsv (s) | p?pbsv / pband_mpi |")
    print("|---:|---:|---:|---:|---:|---:|")
    t1 = model(a, 1)[0]
    p = 1
    while p <= 1024:
        t, bound, nlev = model(a, p)
        s = scalapack(a, p)
        print(f"| {p} | {t:.2f} | {t1 / t:.1f} | "
              f"{'-' if bound is None else f'{bound} of {nlev}'} | "
              f"{s:.2f} | {s / t:.1f} |")
        p *= 2


if __name__ == "__main__":
    main()
