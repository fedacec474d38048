"""The actions computer-use models emit beyond plain clicks, on a real Wine
desktop, observed by the probe's buttons window (its class takes double clicks)."""

import json
import sys
import tempfile
import time
import unittest
from pathlib import Path

import harness

# The window covers (100,100)-(740,580) of the 1920x1080 screen.
CLICK = [0.25, 0.25]  # 480, 270
CLICK_POINT = (480, 270)
BUTTONS = {"lbuttondown", "lbuttonup", "lbuttondblclk", "rbuttondown", "rbuttonup",
           "mbuttondown", "mbuttonup", "xbuttondown", "xbuttonup"}


def request(action, **params):
    return json.dumps({"action": action, "params": params})


class ModelActionsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.probe = harness.Probe(Path(self.tmp.name) / "probe.log", mode="buttons")
        self.addCleanup(self.tmp.cleanup)
        self.addCleanup(self.probe.close)

    def run_ok(self, action, **params):
        result = harness.run_action(request(action, **params))
        self.assertEqual(result.exit_status, 0, result.stderr)
        self.assertTrue(json.loads(result.stdout)["ok"], result.stdout)
        return json.loads(result.stdout)

    def wait_for_count(self, kinds, count, timeout=10):
        deadline = time.monotonic() + timeout
        while True:
            found = [m for m in self.probe.messages() if m["msg"] in kinds]
            if len(found) >= count or time.monotonic() > deadline:
                return found
            time.sleep(0.05)

    def test_double_and_triple_clicks_arrive_as_the_window_counts_them(self):
        self.run_ok("click", position=CLICK, clicks=2)
        double = self.wait_for_count(BUTTONS, 4)
        self.assertEqual([m["msg"] for m in double],
                         ["lbuttondown", "lbuttonup", "lbuttondblclk", "lbuttonup"])
        self.assertEqual({(m["x"], m["y"]) for m in double}, {CLICK_POINT})
        print(f"\n[timing] double click, first down to last up: {double[-1]['t'] - double[0]['t']} ms",
              file=sys.stderr)
        time.sleep(0.6)  # past the double-click time, so the next click starts afresh
        self.run_ok("click", position=CLICK, clicks=3)
        triple = self.wait_for_count(BUTTONS, 10)[4:]
        self.assertEqual([m["msg"] for m in triple],
                         ["lbuttondown", "lbuttonup", "lbuttondblclk", "lbuttonup",
                          "lbuttondown", "lbuttonup"])

    def test_middle_back_and_forward_reach_the_window(self):
        for button in ("middle", "back", "forward"):
            self.run_ok("click", position=CLICK, button=button)
        seen = self.wait_for_count(BUTTONS, 6)
        self.assertEqual([(m["msg"], m["xbutton"]) for m in seen],
                         [("mbuttondown", 0), ("mbuttonup", 0), ("xbuttondown", 1),
                          ("xbuttonup", 1), ("xbuttondown", 2), ("xbuttonup", 2)])

    def test_shift_held_across_a_button_press_carries_mk_shift_and_is_up_afterwards(self):
        self.run_ok("move", position=CLICK)
        self.run_ok("key_down", key="shift")
        self.run_ok("mouse_down")
        self.run_ok("mouse_up")
        self.run_ok("key_up", key="shift")
        self.run_ok("click", position=CLICK)
        seen = self.wait_for_count({"lbuttondown", "lbuttonup"}, 4)
        self.assertEqual([(m["msg"], m["shift"]) for m in seen],
                         [("lbuttondown", True), ("lbuttonup", True),
                          ("lbuttondown", False), ("lbuttonup", False)])

    def test_a_shift_click_carries_mk_shift_with_the_keys_around_the_button_in_order(self):
        self.run_ok("click", position=CLICK, modifiers=["shift", "ctrl"])
        self.wait_for_count({"keyup"}, 2)
        events = [(m["msg"], m.get("vk")) for m in self.probe.messages()
                  if m["msg"] in ("keydown", "keyup", "lbuttondown", "lbuttonup")]
        self.assertEqual(events, [("keydown", 0x10), ("keydown", 0x11), ("lbuttondown", None),
                                  ("lbuttonup", None), ("keyup", 0x11), ("keyup", 0x10)])
        buttons = [m for m in self.probe.messages() if m["msg"] in ("lbuttondown", "lbuttonup")]
        self.assertEqual([(m["shift"], m["control"]) for m in buttons], [(True, True)] * 2)
        time.sleep(0.1)
        states = [m for m in self.probe.messages() if m["msg"] == "keystate"]
        self.assertFalse(states[-1]["shift"] or states[-1]["control"])

    def test_horizontal_scroll_gives_the_horizontal_wheel_with_its_sign(self):
        self.run_ok("scroll", position=CLICK, direction="right", amount=2)
        self.run_ok("scroll", position=CLICK, direction="left", amount=1)
        wheels = self.wait_for_count({"mousehwheel", "mousewheel"}, 3)
        # The point is not checked: Wine reports it in client coordinates.
        self.assertEqual([(m["msg"], m["wheel"]) for m in wheels],
                         [("mousehwheel", 120), ("mousehwheel", 120), ("mousehwheel", -120)])

    def test_a_held_key_is_down_during_the_hold_and_up_after_it(self):
        started = time.monotonic()
        self.run_ok("hold_key", key="shift", duration=1)
        self.assertGreaterEqual(time.monotonic() - started, 1.0)
        states = self.wait_for_count({"keystate"}, 3)
        changes = [(m["shift"], m["t"]) for m in states]
        down = next(t for shift, t in changes if shift)
        up = next(t for shift, t in changes if not shift and t > down)
        self.assertGreaterEqual(up - down, 900)

    def test_mouse_down_move_mouse_up_across_three_requests_is_a_drag(self):
        self.run_ok("mouse_down", position=[0.2, 0.2])
        self.run_ok("move", position=[0.3, 0.3])
        self.run_ok("mouse_up")
        seen = self.wait_for_count({"lbuttondown", "lbuttonup"}, 2)
        self.assertEqual([(m["msg"], m["x"], m["y"]) for m in seen],
                         [("lbuttondown", 384, 216), ("lbuttonup", 576, 324)])

    def test_a_three_point_path_passes_all_three_points(self):
        data = self.run_ok("drag", path=[[0.2, 0.2], [0.3, 0.2], [0.3, 0.3]])["data"]
        points = [tuple(m["global"]) for m in data["path"]]
        self.assertEqual(points, [(384, 216), (576, 216), (576, 324)])
        self.wait_for_count({"lbuttonup"}, 1)
        messages = [m for m in self.probe.messages()
                    if m["msg"] in ("lbuttondown", "mousemove", "lbuttonup")]
        down = next(i for i, m in enumerate(messages) if m["msg"] == "lbuttondown")
        up = next(i for i, m in enumerate(messages) if m["msg"] == "lbuttonup")
        self.assertEqual((messages[down]["x"], messages[down]["y"]), points[0])
        self.assertEqual((messages[up]["x"], messages[up]["y"]), points[2])
        moves = [(m["x"], m["y"]) for m in messages[down:up] if m["msg"] == "mousemove"]
        self.assertIn(points[1], moves)
        self.assertIn(points[2], moves)

    def test_a_full_stop_is_typed_as_a_full_stop_not_delete(self):
        self.run_ok("press", key=".")
        chars = self.wait_for_count({"char"}, 1)
        self.assertEqual([m["unit"] for m in chars], [ord(".")])
        keys = [m["vk"] for m in self.probe.messages() if m["msg"] == "keydown"]
        self.assertNotIn(0x2E, keys)

    def test_a_chord_goes_down_in_order_and_up_in_reverse(self):
        started = time.monotonic()
        self.run_ok("press_combination", keys=["ctrl", "shift", "a"])
        elapsed = time.monotonic() - started
        keys = self.wait_for_count({"keydown", "keyup"}, 6)
        self.assertEqual([(m["msg"], m["vk"]) for m in keys],
                         [("keydown", 0x11), ("keydown", 0x10), ("keydown", 0x41),
                          ("keyup", 0x41), ("keyup", 0x10), ("keyup", 0x11)])
        print(f"\n[timing] chord ctrl+shift+a, one request end to end: {elapsed * 1000:.0f} ms",
              file=sys.stderr)
        states = [m for m in self.probe.messages() if m["msg"] == "keystate"]
        self.assertFalse(states[-1]["shift"] or states[-1]["control"])

    def test_cursor_position_reports_where_the_pointer_is(self):
        self.run_ok("move", position=CLICK)
        # Wine's GetCursorPos may lag a move for a moment.
        deadline = time.monotonic() + 3
        while True:
            data = self.run_ok("cursor_position")["data"]
            if data["global"] == [480, 270] or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        self.assertEqual((data["global"], data["display_id"], data["display_relative"]),
                         ([480, 270], "0,0,1920,1080", [480, 270]))


if __name__ == "__main__":
    unittest.main()
