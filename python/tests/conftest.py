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

pytest_plugins = ["k27.pytest_plugin"]
