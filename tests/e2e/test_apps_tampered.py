"""open_app on a desktop someone has tampered with: a per-user Start Menu whose
folder links point back up the tree (made on the Linux side inside the prefix's
drive_c, which Wine reports as folder links), and a program planted where the
shell would look for a bare name first (the executor's working directory and
its own folder)."""

import getpass
import os
import shutil
import tempfile
import time
import unittest
from pathlib import Path

import harness
import test_apps as apps

NOT_FOUND = b'{"error":"Application \'%s\' not found or cannot be launched","ok":false}\n'
PLANTED = harness.BUILD / "tests" / "e2e" / "tools" / "planted" / "zt-planted.exe"
LOOP_PROBE = apps.PROBE_TITLE  # the shortcut is named after the probe's window title


def user_programs_menu(prefix):
    return (prefix / "drive_c" / "users" / getpass.getuser() / "AppData" / "Roaming" /
            "Microsoft" / "Windows" / "Start Menu" / "Programs")


class StartMenuLinkLoopTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.wine_prefix()
        cls.tmp = tempfile.TemporaryDirectory()
        cls.log = Path(cls.tmp.name) / "probe.log"
        cls.probe = apps.gui_copy(harness.PROBE, Path(cls.tmp.name) / "zelto-loop-probe.exe")
        cls.folder = user_programs_menu(cls.prefix) / "Zelto Loops"
        cls.folder.mkdir(parents=True, exist_ok=True)
        # Two links back up: to the menu itself and to the Start Menu above it.
        cls.links = [cls.folder / "up", cls.folder / "top"]
        os.symlink("..", cls.links[0], target_is_directory=True)
        os.symlink("../..", cls.links[1], target_is_directory=True)
        # The ordinary entry sits one folder further down, beside the loops.
        link = cls.folder / "Deeper" / (LOOP_PROBE + ".lnk")
        link.parent.mkdir(exist_ok=True)
        link.write_bytes(apps.shell_link(
            apps.windows_path(cls.probe),
            f"window {apps.windows_path(cls.log)} 100 100 200 150 25"))

    @classmethod
    def tearDownClass(cls):
        for link in cls.links:
            link.unlink(missing_ok=True)
        shutil.rmtree(cls.folder, ignore_errors=True)
        cls.tmp.cleanup()

    def timed_open_app(self, app_name):
        started = time.monotonic()
        # Without the loop guard no line ever comes: the timeout ends the wait.
        result = harness.run_action(apps.request(app_name), timeout=60)
        return result, time.monotonic() - started

    def test_a_name_in_the_looped_menu_opens_within_ten_seconds(self):
        result, elapsed = self.timed_open_app("zelto probe")
        body = result.json
        pid = body.get("data", {}).get("pid", 0)
        if pid:
            self.addCleanup(harness.run_program, ["taskkill", "/f", "/pid", str(pid)], timeout=30)
        self.assertEqual(result.exit_status, 0, result.stderr)
        self.assertEqual(body["ok"], True, body)
        self.assertEqual(body["data"]["app_name"], LOOP_PROBE)
        self.assertLess(elapsed, 10.0)
        # Started through this tree's shortcut: the probe logs where it was told to.
        self.assertTrue(self.log.exists())

    def test_an_unknown_name_is_not_found_within_ten_seconds(self):
        result, elapsed = self.timed_open_app("no-such-app-loop")
        self.assertEqual(result.stdout, NOT_FOUND % b"no-such-app-loop")
        self.assertLess(elapsed, 10.0)


class PlantedProgramTest(unittest.TestCase):
    """A planted zt-planted.exe marks that it ran with zt-planted.exe.ran."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.root = Path(self.tmp.name)

    def plant(self, folder):
        folder.mkdir(parents=True, exist_ok=True)
        planted = folder / "zt-planted.exe"
        shutil.copyfile(PLANTED, planted)
        marker = folder / "zt-planted.exe.ran"
        # The plant works: started directly, it leaves its mark.
        harness.run_program([planted], timeout=60)
        self.assertTrue(marker.exists(), "the planted program left no mark when run directly")
        marker.unlink()
        return marker

    def assert_not_started(self, result, marker):
        self.assertEqual(result.exit_status, 0, result.stderr)
        self.assertEqual(result.stdout, NOT_FOUND % b"zt-planted")
        time.sleep(1)  # a program the shell started would have marked by now
        self.assertFalse(marker.exists(), "the planted program was started")

    def test_a_program_in_the_working_directory_is_not_started(self):
        work = self.root / "work"
        marker = self.plant(work)
        result = harness.run_action(apps.request("zt-planted"), cwd=work, timeout=60)
        self.assert_not_started(result, marker)

    def test_a_program_beside_the_executor_is_not_started(self):
        own = self.root / "own"
        marker = self.plant(own)
        copy = own / "zelto-cua.exe"
        shutil.copyfile(harness.EXE, copy)
        elsewhere = self.root / "elsewhere"
        elsewhere.mkdir()
        result = harness.run_action(apps.request("zt-planted"), cwd=elsewhere, exe=copy,
                                    timeout=60)
        self.assert_not_started(result, marker)


if __name__ == "__main__":
    unittest.main()
