"""The package as pip built it gives the bits of the CMake-built one: a
few pinned systems solved by both, compared byte for byte. Runs when
PBAND_REFERENCE_PYTHONPATH names the folder that holds the CMake-built
package (scripts/check-pip.sh sets it)."""
import hashlib
import os
import subprocess
import sys

import pytest

REFERENCE = os.environ.get("PBAND_REFERENCE_PYTHONPATH")

# Printed by both packages: a digest of every solution's bytes.
SCRIPT = """
import hashlib
import numpy as np
import pband
digest = hashlib.sha256()
rng = np.random.default_rng(2024)
for n, hb, dtype in [(1000, 1, 'f4'), (3000, 4, 'f8'), (700, 9, 'c8'),
                     (2000, 3, 'c16'), (257, 20, 'f8')]:
    ab = rng.uniform(-1, 1, (hb + 1, n)).astype(dtype)
    ab[0] = 2 * (hb + 1)
    b = rng.standard_normal((n, 2)).astype(dtype)
    digest.update(pband.solve_symmetric_banded(ab, b).tobytes())
    digest.update(pband.solve_symmetric_banded(
        np.stack([ab, ab[:, ::-1].copy()]), b, threads=2).tobytes())
    if ab.dtype.kind == 'f':
        c = pband.cholesky_banded(ab, lower=True)
        digest.update(c.tobytes())
        digest.update(pband.cho_solve_banded((c, True), b).tobytes())
print(pband.__file__)
print(digest.hexdigest())
"""


def run(python, path):
    env = dict(os.environ)
    env.pop("PYTHONPATH", None)
    if path:
        env["PYTHONPATH"] = path
    out = subprocess.run([python, "-c", SCRIPT], env=env, check=True,
                         capture_output=True, text=True, cwd="/").stdout
    return out.split()


@pytest.mark.skipif(not REFERENCE, reason="no CMake-built package named")
def test_same_bits_as_the_cmake_build():
    ours = run(sys.executable, None)
    theirs = run("/usr/bin/python3", REFERENCE)
    assert ours[0] != theirs[0], "both runs loaded the same package"
    assert ours[1] == theirs[1]
    assert hashlib.sha256(b"").hexdigest() not in (ours[1], theirs[1])
