# The example runs on simulated boards (k27.testing), as a user's own tests
# would set it up: a namespace of the tests' own for the shared board
# records, chosen before the board library is loaded, then the fixtures.
import os

os.environ.setdefault("VANTREL_SHARED_NAMESPACE", f"k27-example-{os.getpid()}")

pytest_plugins = ["k27.pytest_plugin"]
