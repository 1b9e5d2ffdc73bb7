"""The package looks after itself: only public names, docstrings whose
examples run, the default team and its threadpoolctl controller, and a
forked child that solves."""
import doctest
import importlib
import os
import sys
import types

import numpy as np
import pytest

import pband
from test_pband import band, rhs

PUBLIC = ["solveh_banded", "solve_symmetric_banded", "cholesky_banded",
          "cho_solve_banded", "factorize", "BandFactorization",
          "rcond_banded", "solveh_banded_mixed",
          "get_num_threads", "set_num_threads", "LinAlgError"]


def test_namespace_holds_only_public_names():
    assert sorted(pband.__all__) == sorted(PUBLIC)
    public = [n for n in vars(pband) if not n.startswith("_")]
    assert sorted(public) == sorted(PUBLIC)


@pytest.mark.parametrize("name", [n for n in PUBLIC
                                  if n not in ("LinAlgError",
                                               "BandFactorization")])
def test_docstrings_have_sections_and_examples_that_run(name):
    f = getattr(pband, name)
    for section in ["Parameters", "Returns", "Examples"]:
        if section == "Parameters" and name == "get_num_threads":
            continue
        if section == "Returns" and name == "set_num_threads":
            continue
        assert f"\n    {section}\n    ---" in f.__doc__, section
    if name not in ["get_num_threads"]:
        assert "\n    Raises\n    ---" in f.__doc__
    tests = doctest.DocTestFinder().find(f, name, globs={})
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    for t in tests:
        runner.run(t)
    assert runner.failures == 0 and runner.tries > 0


def test_default_team_of_later_calls(monkeypatch):
    ab, _ = band(300, 2, np.float64, True)
    b = rhs((300,), np.float64)
    seen = []
    real = pband._solvers._pband

    class Spy:
        def __getattr__(self, name):
            return getattr(real, name)

        def solve(self, ab, b, threads, hermitian=False):
            seen.append(threads)
            return real.solve(ab, b, threads, hermitian)

    monkeypatch.setattr(pband._solvers, "_pband", Spy())
    try:
        pband.set_num_threads(3)
        assert pband.get_num_threads() == 3
        x = pband.solveh_banded(ab, b, lower=True)
        pband.solveh_banded(ab, b, lower=True, threads=1)
        pband.set_num_threads(100)
        assert pband.get_num_threads() == 32
        pband.set_num_threads(None)
        pband.solveh_banded(ab, b, lower=True)
        assert pband.get_num_threads() == min(len(os.sched_getaffinity(0)),
                                              32)
    finally:
        pband.set_num_threads(0)
    assert seen == [3, 1, 0]
    with pytest.raises(ValueError):
        pband.set_num_threads(-1)
    with pytest.raises(TypeError):
        pband.set_num_threads(2.0)
    assert x.tobytes() == pband.solveh_banded(ab, b, lower=True).tobytes()


def fake_threadpoolctl(with_register):
    module = types.ModuleType("threadpoolctl")
    registered = []
    if with_register:
        class LibController:
            def __init__(self, **kwargs):
                self.kwargs = kwargs

        module.LibController = LibController
        module.register = registered.append
    return module, registered


def test_threadpoolctl_controller_when_it_can_register(monkeypatch):
    module, registered = fake_threadpoolctl(True)
    monkeypatch.setitem(sys.modules, "threadpoolctl", module)
    assert pband._threads.register_with_threadpoolctl()
    (cls,) = registered
    assert issubclass(cls, module.LibController)
    assert "_pband" in cls.filename_prefixes
    controller = cls(filepath="x", prefix="_pband")
    try:
        controller.set_num_threads(2)
        assert pband.get_num_threads() == controller.get_num_threads() == 2
    finally:
        pband.set_num_threads(None)
    assert controller.get_version() == pband.__version__


def test_threadpoolctl_without_register_is_left_alone(monkeypatch):
    module, _ = fake_threadpoolctl(False)
    monkeypatch.setitem(sys.modules, "threadpoolctl", module)
    assert not pband._threads.register_with_threadpoolctl()
    monkeypatch.setitem(sys.modules, "threadpoolctl", None)
    assert not pband._threads.register_with_threadpoolctl()
    # Importing the package runs the same guard.
    importlib.reload(pband)


def test_forked_child_solves():
    ab = np.empty((4, 20000))
    ab[0], ab[1:] = 8.0, -0.5
    b = rhs((20000, 2), np.float64)
    x = pband.solveh_banded(ab, b, lower=True, threads=2)
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            y = pband.solveh_banded(ab, b, lower=True, threads=2)
            z = pband.solveh_banded(np.stack([ab] * 3), b, lower=True)
            ok = y.tobytes() == x.tobytes() and all(
                z[k].tobytes() == x.tobytes() for k in range(3))
            code = 0 if ok else 1
        finally:
            os._exit(code)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0


@pytest.mark.parametrize("dtype", ["float32", "float64", "complex64",
                                   "complex128"])
def test_fortran_copy_transposes_and_refuses_mismatches(dtype):
    from pband import _pband
    rng = np.random.default_rng(5)
    src = rng.standard_normal((3, 1500)).astype(dtype)
    dst = np.empty(src.shape, dtype=dtype, order="F")
    _pband.fortran_copy(src, dst)
    assert np.array_equal(dst, src)
    with pytest.raises(ValueError):  # Fortran-ordered source
        _pband.fortran_copy(np.asfortranarray(src), dst)
    with pytest.raises(ValueError):  # another shape
        _pband.fortran_copy(src[:, :-1].copy(), dst)
    other = "complex128" if dtype != "complex128" else "complex64"
    with pytest.raises(ValueError):  # another element type
        _pband.fortran_copy(src.astype(other), dst)
    with pytest.raises(ValueError):  # C-ordered target
        _pband.fortran_copy(src, np.empty_like(src, order="C"))
