"""The team later calls use when they say ``threads=None``, and its
controller for threadpoolctl, so that code which limits every native
thread pool of the process limits pband's too."""

import os
from operator import index as _index

# The library never runs more threads than this in one call.
_MOST = 32
# 0: every processor the process may run on, counted at each call.
_default = 0


def _processors():
    try:
        return len(os.sched_getaffinity(0)) or 1
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def get_num_threads():
    """Number of threads a call with ``threads=None`` uses.

    Returns
    -------
    int
        The team set by `set_num_threads`, or, when none is set, the
        processors this process may run on; at most 32.

    Examples
    --------
    >>> import pband
    >>> pband.set_num_threads(2)
    >>> pband.get_num_threads()
    2
    >>> pband.set_num_threads(None)
    """
    return min(_default or _processors(), _MOST)


def set_num_threads(threads):
    """Set the team of later calls that say ``threads=None``.

    Parameters
    ----------
    threads : int or None
        Threads per call, the calling one included (more than 32 counts
        as 32); 0 or None: every processor the process may run on.

    Raises
    ------
    ValueError
        When `threads` is negative.
    TypeError
        When `threads` is not an integer or None.

    Examples
    --------
    >>> import pband
    >>> pband.set_num_threads(1)
    >>> pband.get_num_threads()
    1
    >>> pband.set_num_threads(0)
    """
    global _default
    t = 0 if threads is None else _index(threads)
    if t < 0:
        raise ValueError("threads must be None, 0 or a positive integer")
    _default = min(t, _MOST)


def threads_for_call(threads):
    """The C interface's team argument for a call's ``threads``."""
    if threads is None:
        return _default
    t = _index(threads)
    if t < 1:
        raise ValueError("threads must be None or a positive integer")
    return t


def register_controller(threadpoolctl):
    """Registers pband with `threadpoolctl` when it knows ``register``
    (3.2 and later); returns whether it did."""
    register = getattr(threadpoolctl, "register", None)
    base = getattr(threadpoolctl, "LibController", None)
    if register is None or base is None:
        return False

    def get_version(self):
        from . import _pband
        return _pband.version()

    # Made with type() as the base class exists only at run time.
    controller = type("PbandController", (base,), {
        "user_api": "pband",
        "internal_api": "pband",
        # Matched against the loaded libraries: the package's own core
        # module, or libpband where the core links it.
        "filename_prefixes": ("_pband", "libpband"),
        "get_num_threads": lambda self: get_num_threads(),
        "set_num_threads": lambda self, n: set_num_threads(n),
        "get_version": get_version,
    })
    register(controller)
    return True


def register_with_threadpoolctl():
    try:
        import threadpoolctl  # type: ignore[import]
    except ImportError:
        return False
    return register_controller(threadpoolctl)
