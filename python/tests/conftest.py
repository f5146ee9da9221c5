# The module's tests run on simulated boards (k27.testing). Their shared
# board records are their own: the namespace is chosen before the board
# library is loaded, which takes it once per process.
import atexit
import glob
import os

if not os.environ.get("VANTREL_SHARED_NAMESPACE"):
    namespace = f"k27-pytest-{os.getpid()}"
    os.environ["VANTREL_SHARED_NAMESPACE"] = namespace
    # The library leaves its system objects behind; these go with the run.
    atexit.register(lambda: [os.remove(path) for path in glob.glob(f"/dev/shm/{namespace}.*")])

import pytest

import k27  # noqa: E402  (after the namespace is chosen)
from k27 import testing  # noqa: E402

pytest_plugins = ["k27.pytest_plugin"]


# One simulated board for each test module, and board 0 opened on it for
# each test.
@pytest.fixture(scope="module")
def sim():
    with testing.simulated_daemon(boards=1, eeprom_bytes=8192) as daemon:
        yield daemon


@pytest.fixture
def board(sim):
    with k27.Board(0) as opened:
        yield opened
