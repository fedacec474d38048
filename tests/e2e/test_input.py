"""Pointer, key and typing actions on a real Wine desktop, observed by the probe."""

import json
import tempfile
import time
import unittest
from pathlib import Path

import harness

# The probe's window covers (100,100)-(740,580) of the 1920x1080 screen.
CLICK = (0.25, 0.25)  # 480, 270
CLICK_POINT = (480, 270)
INDICATOR_EX_STYLE = 0x080800A8


def request(action, **params):
    return json.dumps({"action": action, "params": params})


class InputTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.probe = harness.Probe(Path(self.tmp.name) / "probe.log")
        self.addCleanup(self.tmp.cleanup)
        self.addCleanup(self.probe.close)

    def run_ok(self, action, **params):
        result = harness.run_action(request(action, **params))
        self.assertEqual(result.exit_status, 0, result.stderr)
        self.assertTrue(json.loads(result.stdout)["ok"], result.stdout)
        return result

    def wait_for_count(self, kinds, count, timeout=10):
        """The probe's messages of the given kinds once `count` of them arrived."""
        deadline = time.monotonic() + timeout
        while True:
            found = [m for m in self.probe.messages() if m["msg"] in kinds]
            if len(found) >= count or time.monotonic() > deadline:
                return found
            time.sleep(0.05)

    def test_click_lands_on_the_mapped_pixel(self):
        self.run_ok("click", position=list(CLICK))
        buttons = self.wait_for_count({"lbuttondown", "lbuttonup", "rbuttondown", "rbuttonup"}, 2)
        self.assertEqual([(m["msg"], m["x"], m["y"]) for m in buttons],
                         [("lbuttondown", *CLICK_POINT), ("lbuttonup", *CLICK_POINT)])

    def test_right_click_uses_the_right_button(self):
        self.run_ok("right_click", position=list(CLICK))
        buttons = self.wait_for_count({"lbuttondown", "lbuttonup", "rbuttondown", "rbuttonup"}, 2)
        self.assertEqual([(m["msg"], m["x"], m["y"]) for m in buttons],
                         [("rbuttondown", *CLICK_POINT), ("rbuttonup", *CLICK_POINT)])

    def test_scroll_sends_one_wheel_message_per_notch(self):
        self.run_ok("scroll", position=list(CLICK), amount=3)
        self.run_ok("scroll", position=list(CLICK), amount=-2)
        wheels = self.wait_for_count({"mousewheel"}, 5)
        self.assertEqual([m["wheel"] for m in wheels], [120, 120, 120, -120, -120])

    def test_drag_presses_at_the_start_moves_and_releases_at_the_end(self):
        result = self.run_ok("drag", position1=[0.2, 0.2], position2=[0.3, 0.3])
        data = json.loads(result.stdout)["data"]
        start, end = tuple(data["start"]["global"]), tuple(data["end"]["global"])
        self.assertEqual((start, end), ((384, 216), (576, 324)))
        self.wait_for_count({"lbuttonup"}, 1)
        messages = [m for m in self.probe.messages()
                    if m["msg"] in ("lbuttondown", "mousemove", "lbuttonup")]
        down = next(i for i, m in enumerate(messages) if m["msg"] == "lbuttondown")
        up = next(i for i, m in enumerate(messages) if m["msg"] == "lbuttonup")
        self.assertEqual((messages[down]["x"], messages[down]["y"]), start)
        self.assertEqual((messages[up]["x"], messages[up]["y"]), end)
        moves = [(m["x"], m["y"]) for m in messages[down:up] if m["msg"] == "mousemove"]
        self.assertGreaterEqual(len(moves), 10)
        self.assertIn(end, moves)
        # The path only goes forward, from the start toward the end.
        self.assertEqual(moves, sorted(moves))

    def test_type_arrives_as_exactly_those_characters(self):
        text = "h\u00e9llo w\u00f6rld \U0001F600 \u65e5\u672c\u8a9e"
        self.run_ok("type", text=text)
        units = text.encode("utf-16-le")
        expected = [int.from_bytes(units[i:i + 2], "little") for i in range(0, len(units), 2)]
        chars = self.wait_for_count({"char"}, len(expected))
        self.assertEqual([m["unit"] for m in chars], expected)

    def test_press_combination_ctrl_a_in_order(self):
        self.run_ok("press_combination", key1="ctrl", key2="a")
        keys = self.wait_for_count({"keydown", "keyup"}, 4)
        self.assertEqual([(m["msg"], m["vk"]) for m in keys],
                         [("keydown", 0x11), ("keydown", 0x41), ("keyup", 0x41), ("keyup", 0x11)])

    def test_press_sends_the_named_key_and_refuses_an_unknown_name(self):
        self.run_ok("press", key="enter")
        keys = self.wait_for_count({"keydown", "keyup"}, 2)
        self.assertEqual([(m["msg"], m["vk"]) for m in keys], [("keydown", 0x0D), ("keyup", 0x0D)])
        result = harness.run_action(request("press", key="nosuchkey"))
        self.assertEqual(result.stdout, b'{"error":"Unknown key: nosuchkey","ok":false}\n')
        self.assertEqual(result.exit_status, 0)

    def test_indicator_overlay_exists_during_the_click_and_keeps_focus_away(self):
        watch = harness.WindowWatch("ZeltoClickIndicatorOverlay", seconds=30)
        self.run_ok("click", position=list(CLICK))
        overlay = watch.result(timeout=60)
        self.assertIsNotNone(overlay, "no indicator window seen while the click ran")
        x, y = CLICK_POINT
        self.assertEqual(overlay["rect"], [x - 32, y - 32, x + 32, y + 32])
        self.assertEqual(overlay["exstyle"], INDICATOR_EX_STYLE)
        # The click went through the overlay to the probe, which kept the focus.
        self.wait_for_count({"lbuttonup"}, 1)
        states_before = len([m for m in self.probe.messages() if m["msg"] == "state"])
        state = self.wait_for_count({"state"}, states_before + 1)[-1]
        self.assertTrue(state["foreground"])


if __name__ == "__main__":
    unittest.main()
