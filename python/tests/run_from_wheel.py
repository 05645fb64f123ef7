"""Builds the wheel as `pip install ./python` would and runs the tests on
the module imported from it (a pure-Python wheel imports as a zip)."""

import os
import sys
import tempfile
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(here), "backend"))
import tallymat_wheel as backend  # noqa: E402

# One version for the library and the module.
assert backend._project()["version"] == os.environ.get("TALLYMAT_VERSION", backend._project()["version"])

with tempfile.TemporaryDirectory() as folder:
    wheel = os.path.join(folder, backend.build_wheel(folder))
    sys.path.insert(0, wheel)
    import tallymat  # noqa: E402
    assert tallymat.__file__.startswith(wheel), tallymat.__file__
    tests = unittest.defaultTestLoader.discover(here)
    sys.exit(0 if unittest.TextTestRunner(verbosity=1).run(tests).wasSuccessful() else 1)
