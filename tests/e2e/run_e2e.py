"""Runs every end-to-end test module (tests/e2e/test_*.py) in one process, so
they share one desktop, and stops that desktop at the end."""

import os
import subprocess
import sys
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402


def main():
    suite = unittest.defaultTestLoader.discover(str(HERE), pattern="test_*.py", top_level_dir=str(HERE))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if os.environ.get("ZELTO_E2E_KEEP_DESKTOP") != "1" and harness._desktop_env is not None:
        subprocess.run(["bash", str(harness.ROOT / "scripts" / "desktop.sh"), "stop"],
                       env=harness._desktop_env, check=False)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
