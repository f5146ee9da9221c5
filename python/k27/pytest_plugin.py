"""pytest fixtures on simulated boards: no hardware needed.

Enable it in the project's top-level ``conftest.py``::

    import os
    # Before k27 is loaded: the tests' shared board records stay their own.
    os.environ.setdefault("VANTREL_SHARED_NAMESPACE", f"my-tests-{os.getpid()}")
    pytest_plugins = ["k27.pytest_plugin"]

(or run ``pytest -p k27.pytest_plugin``). It is not switched on for every
pytest run of the machine: loading k27 attaches the board library's shared
records, which a test run that does not use the boards has no business doing.

Fixtures, each with a daemon of its own per test:

``k27_sim``
    a running ``k27.testing.simulated_daemon``: ``k27_sim.set_inputs(...)``,
    ``k27_sim.outputs()``, ``k27_sim.command("serial A attach cctalk")`` ...
``k27_board``
    ``k27.Board(0)`` opened on it, closed after the test.

``@pytest.mark.k27_sim(boards=2, eeprom_bytes=32768, verbose=True)`` chooses
the daemon's options for one test (the arguments of ``simulated_daemon``).
"""

from __future__ import annotations

from typing import Iterator

import pytest

from k27 import testing


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line(
        "markers",
        "k27_sim(boards=1, eeprom_bytes=8192, **options): options of the test's simulated daemon",
    )


@pytest.fixture
def k27_sim(request: pytest.FixtureRequest) -> Iterator[testing.SimulatedDaemon]:
    """A simulated daemon for this test; every k27.Board opened in the test reaches it."""
    marker = request.node.get_closest_marker("k27_sim")
    args = marker.args if marker else ()
    kwargs = dict(marker.kwargs) if marker else {}
    with testing.simulated_daemon(*args, **kwargs) as sim:
        yield sim


@pytest.fixture
def k27_board(k27_sim: testing.SimulatedDaemon) -> Iterator[object]:
    """Board 0 of the test's simulated daemon, open."""
    import k27

    with k27.Board(0) as board:
        yield board
