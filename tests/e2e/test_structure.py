"""Windows and their controls as structure on a real Wine desktop: list_windows,
focus_window, ui_elements of the probe's standard controls (and of Notepad), and
click, type and set_value by element id, observed by the probe."""

import json
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

import harness


def act(action, **params):
    result = harness.run_action(json.dumps({"action": action, "params": params}), timeout=90)
    assert result.exit_status == 0, result.stderr
    return result.json


class ControlsProbe(harness.Probe):
    """The probe's controls window (and the window behind it)."""

    def __init__(self, log_path, items=3, hung=False, seconds=120):
        self.log_path = Path(log_path)
        self.log_path.unlink(missing_ok=True)
        self.process = subprocess.Popen(
            ["wine", str(harness.PROBE), "controls", self._windows_path(self.log_path),
             str(seconds), str(items), *(["hung"] if hung else [])],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            env=harness.desktop_env(), start_new_session=True)
        self.wait_for(lambda m: m["msg"] == "controls", timeout=60)
        if hung:
            self.wait_for(lambda m: m["msg"] == "hung")
        self.rects = next(m for m in self.messages() if m["msg"] == "rects")


def window_titled(title):
    for window in act("list_windows")["data"]["windows"]:
        if window["title"] == title:
            return window
    raise AssertionError(f"no window titled {title!r}")


def by_role(elements, role, name=None):
    found = [e for e in elements if e["role"] == role and (name is None or e["name"] == name)]
    assert found, f"no {role} {name!r} in {[(e['role'], e['name']) for e in elements]}"
    return found[0]


def report(what, data):
    print(f"[e2e] ui_elements of {what}: {len(data['elements'])} elements in "
          f"{data['elapsed_ms']} ms, truncated {data['truncated']}", file=sys.stderr, flush=True)


class StructureTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.probe = ControlsProbe(Path(self.tmp.name) / "probe.log")
        self.addCleanup(self.probe.close)
        self.window = window_titled("Zelto Controls")

    def walk(self, **params):
        result = act("ui_elements", window_id=self.window["id"], **params)
        self.assertTrue(result["ok"], result)
        return result["data"]

    def assert_near(self, rect, expected):
        for got, want in zip(rect, expected):
            self.assertLessEqual(abs(got - want), 2, (rect, expected))

    def test_lists_each_control_with_role_name_value_state_and_rect(self):
        data = self.walk()
        report("the probe", data)
        elements = data["elements"]
        button = by_role(elements, "button", "Press me")
        self.assert_near(button["rect"], self.probe.rects["101"])
        edit = by_role(elements, "edit")
        self.assertEqual(edit["value"], "hello probe")
        self.assert_near(edit["rect"], self.probe.rects["102"])
        check = by_role(elements, "check_box", "Remember me")
        self.assertIn("checked", check["states"])
        self.assertEqual(check["value"], "checked")
        self.assert_near(by_role(elements, "list")["rect"], self.probe.rects["104"])
        self.assertEqual([e["name"] for e in elements if e["role"] == "list_item"],
                         ["Item 1", "Item 2", "Item 3"])
        self.assert_near(by_role(elements, "label", "Name label")["rect"], self.probe.rects["105"])
        self.assertFalse(data["truncated"])
        self.assertEqual(button["parent"], elements[0]["id"])

    def test_click_type_and_set_value_by_element(self):
        elements = self.walk()["elements"]
        clicked = act("click", element=by_role(elements, "button", "Press me")["id"])
        self.assertTrue(clicked["ok"], clicked)
        self.probe.wait_for(lambda m: m["msg"] == "bn_clicked")
        edit = by_role(elements, "edit")["id"]
        set_value = act("set_value", element=edit, value="set through accessibility")
        self.assertTrue(set_value["ok"], set_value)
        self.probe.wait_for(lambda m: m["msg"] == "en_change"
                            and m["text"] == "set through accessibility")
        typed = act("type", element=edit, text="!")
        self.assertTrue(typed["ok"], typed)
        self.probe.wait_for(lambda m: m["msg"] == "en_change" and "!" in m["text"])

    def test_bad_element_input_fails_and_clicks_nothing(self):
        self.walk()
        before = len(self.probe.messages())
        self.assertEqual(act("click", element=999)["error"],
                         f"Unknown element 999: not in the latest ui_elements of window "
                         f"{self.window['id']}")
        self.assertIn("Invalid max_elements", act("ui_elements", max_elements=-1)["error"])
        self.probe.close()
        time.sleep(1)
        closed = act("click", element=2)
        self.assertFalse(closed["ok"])
        self.assertIn("has closed", closed["error"])
        self.assertEqual(len(self.probe.messages()), before)

    def test_focus_window_brings_the_one_behind_forward(self):
        behind = window_titled("Zelto Behind")
        self.assertFalse(behind["foreground"])
        self.assertGreater(behind["pid"], 0)
        self.assertEqual(behind["process_name"], "zelto-probe.exe")
        focused = act("focus_window", title="zelto behind")
        self.assertTrue(focused["ok"], focused)
        self.assertTrue(focused["data"]["foreground"])
        # (650, 300) lies in both windows; the click lands in the one now in front.
        self.assertTrue(act("click", position=[650 / 1920, 300 / 1080])["ok"])
        self.probe.wait_for(lambda m: m["msg"] == "behind_lbuttondown")
        self.assertIn("No window title contains",
                      act("focus_window", title="no such window")["error"])


class HungAndLargeTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def test_hung_child_window_is_skipped_within_the_time_limit(self):
        probe = ControlsProbe(Path(self.tmp.name) / "hung.log", hung=True)
        self.addCleanup(probe.close)
        started = time.monotonic()
        data = act("ui_elements", window_id=window_titled("Zelto Controls")["id"])["data"]
        report("the probe with a hung window", data)
        self.assertLess(data["elapsed_ms"], 2000)
        self.assertTrue(any("not responding" in note for note in data["notes"]), data["notes"])
        by_role(data["elements"], "button", "Press me")
        self.assertLess(time.monotonic() - started, 10)

    def test_five_thousand_list_items_come_back_at_the_bound(self):
        probe = ControlsProbe(Path(self.tmp.name) / "large.log", items=5000)
        self.addCleanup(probe.close)
        window = window_titled("Zelto Controls")["id"]
        data = act("ui_elements", window_id=window, include_offscreen=True,
                   time_limit_ms=10000)["data"]
        report("the probe with 5000 list items", data)
        self.assertEqual(len(data["elements"]), 500)
        self.assertTrue(data["truncated"])
        shown = act("ui_elements", window_id=window)["data"]
        self.assertLess(len(shown["elements"]), 40)


class NotepadTest(unittest.TestCase):
    def test_list_windows_finds_notepad_with_its_process(self):
        process = subprocess.Popen(["wine", "notepad"], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   env=harness.desktop_env(), start_new_session=True)
        self.addCleanup(process.kill)
        deadline = time.monotonic() + 60
        notepad = None
        while notepad is None and time.monotonic() < deadline:
            notepad = next((w for w in act("list_windows")["data"]["windows"]
                            if "Notepad" in w["title"]), None)
            time.sleep(0.5)
        self.assertIsNotNone(notepad)
        self.assertGreater(notepad["pid"], 0)
        self.assertEqual(notepad["process_name"].lower(), "notepad.exe")
        data = act("ui_elements", window_id=notepad["id"])["data"]
        report("Notepad", data)
        by_role(data["elements"], "edit")
        act("focus_window", window_id=notepad["id"], close=True)


if __name__ == "__main__":
    unittest.main()
