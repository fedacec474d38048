"""open_app on a real Wine desktop: Wine's Notepad, the probe application
through a Start Menu shortcut and through an App Paths key, an unknown name, and
a program that never shows a window. The shortcut, the registry key and the
Start-apps answer of the PowerShell stand-in are put into the test prefix by
this module and removed again."""

import json
import struct
import tempfile
import time
import unittest
from pathlib import Path

import harness

PROBE_TITLE = "Zelto Probe"
START_MENU = Path("drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs")
APP_PATHS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\App Paths"
PROBE_KEY = APP_PATHS + "\\" + PROBE_TITLE + ".exe"
SILENT_KEY = APP_PATHS + r"\Zelto Silent.exe"
STANDIN_DIR = Path("drive_c/windows/system32/WindowsPowerShell/v1.0")
START_APPS = [{"Name": "Zelto Start App", "AppID": "Zelto.StartApp_test!App"}]


def request(app_name, **params):
    return json.dumps({"action": "open_app", "params": {"app_name": app_name, **params}})


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def shell_link(target, arguments):
    """A shortcut file naming a local target with arguments: the header, the
    link information with the local base path, the arguments string and the
    terminal block (the shell link binary format)."""
    flags = 0x02 | 0x20 | 0x80  # HasLinkInfo, HasArguments, IsUnicode
    clsid = bytes.fromhex("0114020000000000c000000000000046")
    header = struct.pack("<I16sII8s8s8sIiIHHII", 0x4C, clsid, flags, 0x20, b"\0" * 8, b"\0" * 8,
                         b"\0" * 8, 0, 0, 1, 0, 0, 0, 0)
    volume = struct.pack("<IIII", 0x11, 3, 0, 0x10) + b"\0"  # fixed drive, empty label
    base_path = target.encode("latin-1") + b"\0"
    head_size = 0x1C
    path_offset = head_size + len(volume)
    suffix_offset = path_offset + len(base_path)
    total = suffix_offset + 1
    link_info = struct.pack("<IIIIIII", total, head_size, 1, head_size, path_offset, 0,
                            suffix_offset) + volume + base_path + b"\0"
    args = struct.pack("<H", len(arguments)) + arguments.encode("utf-16-le")
    return header + link_info + args + struct.pack("<I", 0)


def gui_copy(source, destination):
    """A copy of a console program marked for the Windows GUI subsystem: started
    through the shell it then gets no console window, which would otherwise
    open beside it and take the foreground."""
    image = bytearray(Path(source).read_bytes())
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[pe:pe + 4] == b"PE\0\0"
    subsystem = pe + 4 + 20 + 68  # in the optional header, same place for PE32 and PE32+
    struct.pack_into("<H", image, subsystem, 2)  # IMAGE_SUBSYSTEM_WINDOWS_GUI
    Path(destination).write_bytes(bytes(image))
    return Path(destination)


def reg(*args):
    out, status, err = harness.run_program(["reg", *args], timeout=60)
    return status


class AppsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.wine_prefix()
        cls.tmp = tempfile.TemporaryDirectory()
        cls.log = Path(cls.tmp.name) / "probe.log"
        cls.probe = gui_copy(harness.PROBE, Path(cls.tmp.name) / "zelto-probe-gui.exe")
        # The probe runs with its window arguments only through a shortcut.
        cls.link_bytes = shell_link(windows_path(cls.probe),
                                    f"window {windows_path(cls.log)} 100 100 200 150 25")
        cls.menu_link = cls.prefix / START_MENU / (PROBE_TITLE + ".lnk")
        cls.side_link = Path(cls.tmp.name) / "probe-app-path.lnk"
        cls.side_link.write_bytes(cls.link_bytes)
        cls.start_apps = cls.prefix / STANDIN_DIR / "start_apps.json"
        cls.start_apps_before = cls.start_apps.read_bytes() if cls.start_apps.exists() else None
        cls.start_apps.parent.mkdir(parents=True, exist_ok=True)
        cls.start_apps.write_text(json.dumps(START_APPS), encoding="utf-8")
        # Started without arguments the probe exits at once: a launch with no window.
        reg("add", SILENT_KEY, "/ve", "/d", windows_path(cls.probe), "/f")

    @classmethod
    def tearDownClass(cls):
        reg("delete", SILENT_KEY, "/f")
        reg("delete", PROBE_KEY, "/f")
        cls.menu_link.unlink(missing_ok=True)
        if cls.start_apps_before is None:
            cls.start_apps.unlink(missing_ok=True)
        else:
            cls.start_apps.write_bytes(cls.start_apps_before)
        cls.tmp.cleanup()

    def setUp(self):
        self.log.unlink(missing_ok=True)
        self.pids = []
        self.addCleanup(self.kill_launched)

    def kill_launched(self):
        for pid in self.pids:
            harness.run_program(["taskkill", "/f", "/pid", str(pid)], timeout=30)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and any(
                PROBE_TITLE in w["title"] or "Notepad" in w["title"] for w in harness.top_windows()):
            time.sleep(0.2)

    def open_app(self, app_name, timeout=90, env=None):
        result = harness.run_action(request(app_name), env=env, timeout=timeout)
        self.assertEqual(result.exit_status, 0, result.stderr)
        body = json.loads(result.stdout)
        pid = body.get("data", {}).get("pid", 0)
        if pid and pid not in self.pids:
            self.pids.append(pid)
        return result, body

    def probe_states(self):
        if not self.log.exists():
            return []
        lines = self.log.read_text("utf-8").splitlines()
        return [s for s in (json.loads(line) for line in lines if line.strip()) if s["msg"] == "state"]

    def probe_state(self, predicate, skip, timeout=10, context=None):
        """The first state the probe logged after the first `skip` ones that satisfies `predicate`."""
        deadline = time.monotonic() + timeout
        last = None
        while time.monotonic() < deadline:
            states = self.probe_states()[skip:]
            if states:
                last = states[-1]
                if predicate(last):
                    return last
            time.sleep(0.1)
        self.fail(f"the probe never reported the expected state; last: {last}; action: {context}; "
                  f"windows: {harness.top_windows()}")

    def assert_probe_maximized_in_front(self, body):
        self.assertEqual(body["ok"], True, body)
        self.assertEqual(body["data"]["app_name"], PROBE_TITLE)
        self.assertEqual(body["data"]["target_title"], PROBE_TITLE)
        self.assertTrue(body["data"]["focused"])
        self.assertGreater(body["data"]["pid"], 0)
        # Only states logged after the action returned count.
        state = self.probe_state(lambda s: s["zoomed"] and s["foreground"],
                                 skip=len(self.probe_states()), context=body)
        left, top, right, bottom = state["rect"]
        # Maximized on the 1920x1080 display (the frame may reach past its edges).
        self.assertLessEqual(left, 0)
        self.assertLessEqual(top, 0)
        self.assertGreaterEqual(right, 1920)
        self.assertGreaterEqual(bottom, 1080)

    def test_notepad_opens_maximized_in_front_and_is_reused(self):
        result, body = self.open_app("notepad")
        self.assertEqual(body["ok"], True, body)
        data = body["data"]
        self.assertTrue(data["focused"])
        self.assertTrue(data["maximized"])
        self.assertGreater(data["pid"], 0)
        self.assertIn("Notepad", data["target_title"])
        self.assertEqual(data["app_name"], "Notepad")  # the index entry's name

        again, second = self.open_app("notepad")
        self.assertEqual(second["ok"], True, second)
        self.assertEqual(second["data"]["pid"], data["pid"])
        self.assertEqual(second["data"]["app_name"], "notepad")  # found by title: the request
        notepads = [w for w in harness.top_windows() if "Notepad" in w["title"]]
        self.assertEqual(len(notepads), 1, notepads)

    def test_probe_opens_through_its_start_menu_shortcut(self):
        reg("delete", PROBE_KEY, "/f")
        self.menu_link.parent.mkdir(parents=True, exist_ok=True)
        self.menu_link.write_bytes(self.link_bytes)
        self.addCleanup(self.menu_link.unlink, missing_ok=True)
        result, body = self.open_app("zelto probe")
        self.assert_probe_maximized_in_front(body)

    def test_probe_opens_through_its_app_paths_key(self):
        self.menu_link.unlink(missing_ok=True)
        self.assertEqual(reg("add", PROBE_KEY, "/ve", "/d", windows_path(self.side_link), "/f"), 0)
        self.addCleanup(reg, "delete", PROBE_KEY, "/f")
        result, body = self.open_app("zelto probe")
        self.assert_probe_maximized_in_front(body)

    def test_probe_opens_through_an_app_paths_value_with_non_ascii_characters(self):
        self.menu_link.unlink(missing_ok=True)
        cases = [
            ("Zelto Caf\u00e9", "cp437", {}),  # Wine's default locale
            ("\u817e\u8baf Zelto", "gbk", harness.locale_env("zh_CN.UTF-8")),
        ]
        for folder_name, code_page, locale in cases:
            with self.subTest(folder=folder_name):
                if locale is None:
                    self.skipTest("Wine cannot be given a zh_CN locale here")
                folder = Path(self.tmp.name) / folder_name
                folder.mkdir(exist_ok=True)
                link = folder / "probe-app-path.lnk"
                link.write_bytes(self.link_bytes)
                self.assertEqual(reg("add", PROBE_KEY, "/ve", "/d", windows_path(link), "/f"), 0)
                self.addCleanup(reg, "delete", PROBE_KEY, "/f")
                # What the executor reads: Wine's reg writes the OEM code page into a pipe.
                out, _, _ = harness.run_program(["reg", "query", PROBE_KEY, "/ve"], env=locale)
                self.assertIn(folder_name.encode(code_page), out)
                result, body = self.open_app("zelto probe", env=locale)
                self.assert_probe_maximized_in_front(body)
                self.kill_launched()
                self.pids.clear()

    def test_unknown_name_is_not_found_after_the_forced_refresh(self):
        pid_log = Path(self.tmp.name) / "standin-pids.log"
        pid_log.unlink(missing_ok=True)
        result, body = self.open_app("no-such-app-xyz",
                                     env={"ZELTO_STANDIN_PID_LOG": windows_path(pid_log)})
        self.assertEqual(
            result.stdout,
            b'{"error":"Application \'no-such-app-xyz\' not found or cannot be launched","ok":false}\n')
        # Two index builds, each asking the PowerShell stand-in for the Start apps once.
        self.assertEqual(len(pid_log.read_text().split()), 2)

    def test_launch_without_a_window_ends_with_the_not_visible_message(self):
        started = time.monotonic()
        result, body = self.open_app("zelto silent")
        elapsed = time.monotonic() - started
        self.assertEqual(
            result.stdout,
            b'{"error":"Application \'Zelto Silent\' started but no visible window was found",'
            b'"ok":false}\n')
        self.assertGreaterEqual(elapsed, 3.2)

    def test_a_hung_registry_query_is_ended_at_the_index_limit(self):
        # A reg.exe that never answers the per-user App Paths query, first on the search path.
        hung_reg = harness.BUILD / "tests" / "e2e" / "tools" / "reg_hung" / "bin"
        started = time.monotonic()
        result, body = self.open_app("notepad", timeout=120,
                                     env={"WINEPATH": windows_path(hung_reg)})
        elapsed = time.monotonic() - started
        self.assertEqual(body["ok"], True, body)
        self.assertEqual(body["data"]["app_name"], "Notepad")
        # One index build: its hung query ends at the 30 s limit, Notepad is still found.
        self.assertGreaterEqual(elapsed, 30)
        self.assertLess(elapsed, 30 + 25)


if __name__ == "__main__":
    unittest.main()
