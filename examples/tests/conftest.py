# The example runs on simulated boards (k27.testing), as a user's own tests
# would set it up: a namespace of the tests' own for the shared board
# records, chosen before the board library is loaded, then the fixtures.
import atexit
import glob
import os

if not os.environ.get("VANTREL_SHARED_NAMESPACE"):
    namespace = f"k27-example-{os.getpid()}"
    os.environ["VANTREL_SHARED_NAMESPACE"] = namespace
    # The library leaves its system objects behind; these go with the run.
    atexit.register(lambda: [os.remove(path) for path in glob.glob(f"/dev/shm/{namespace}.*")])

pytest_plugins = ["k27.pytest_plugin"]
