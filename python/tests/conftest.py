# The module's tests run on simulated boards (k27.testing). Their shared
# board records are their own: the namespace is chosen before the board
# library is loaded, which takes it once per process.
import os

os.environ.setdefault("VANTREL_SHARED_NAMESPACE", f"k27-pytest-{os.getpid()}")

pytest_plugins = ["k27.pytest_plugin"]
