"""The display rules on a real Win32 stack with two monitors: a 1280x1024 monitor
left of the 1920x1080 primary (scripts/desktop.sh, layout two-monitors). Every
effect is read from a probe's log, the captured pixels or a window rectangle.

Displays: ZELTO_TWO_MONITOR_DISPLAY (Xephyr, default :97) nested in
ZELTO_TWO_MONITOR_HOST_DISPLAY (Xvfb, default ten below it)."""

import json
import os
import time
import unittest

import harness
from test_screenshot import image_of

LEFT = "-1280,0,1280,1024"
LEFT_RECT = (-1280, 0, 1280, 1024)
PRIMARY_RECT = (400, 200, 800, 600)  # the primary's probe, left, top, width, height
# Quadrant colours (top left, top right, bottom left, bottom right) of the probes.
LEFT_PATTERN = (0x2080FF, 0xFFC000, 0x00A000, 0xA000A0)
PRIMARY_PATTERN = (0x102030, 0x405060, 0x708090, 0xA0B0C0)
RED = 0xFF0000
INPUT = {"lbuttondown", "lbuttonup", "rbuttondown", "rbuttonup", "mousewheel", "mousemove"}


def request(action, **params):
    return json.dumps({"action": action, "params": params})


def rgb(pixel):
    return (pixel[0] << 16) | (pixel[1] << 8) | pixel[2]


class TwoMonitors(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        display = os.environ.get("ZELTO_TWO_MONITOR_DISPLAY", ":97")
        settings = {
            "ZELTO_LAYOUT": "two-monitors", "ZELTO_DISPLAY": display,
            "ZELTO_HOST_DISPLAY": os.environ.get("ZELTO_TWO_MONITOR_HOST_DISPLAY",
                                                 f":{int(display[1:]) - 10}"),
            "ZELTO_WINEPREFIX": str(harness.BUILD / "wineprefix-two-monitors")}
        cls.desktop = harness.start_desktop(settings)
        # Class cleanups run even when this set-up fails half way, last added first.
        cls.addClassCleanup(harness.stop_desktop, cls.desktop)
        cls.left = harness.Probe(harness.BUILD / "two-monitors-left.log", rect=LEFT_RECT,
                                 desktop=cls.desktop, quadrants=LEFT_PATTERN)
        cls.addClassCleanup(cls.left.close)
        cls.primary = harness.Probe(harness.BUILD / "two-monitors-primary.log",
                                    rect=PRIMARY_RECT, desktop=cls.desktop,
                                    quadrants=PRIMARY_PATTERN)
        cls.addClassCleanup(cls.primary.close)
        time.sleep(1.0)  # let both windows be painted on the X screen

    def run_ok(self, action, **params):
        result = harness.run_action(request(action, **params), desktop=self.desktop)
        self.assertEqual(result.exit_status, 0, result.stderr)
        self.assertTrue(result.json["ok"], result.stdout[:300])
        return result

    def input_after(self, probe, before, buttons=0, timeout=10):
        """The input messages `probe` logged after its first `before` messages, once
        a move and `buttons` button or wheel messages arrived (or the time ran out)."""
        deadline = time.monotonic() + timeout
        while True:
            found = [m for m in probe.messages()[before:] if m["msg"] in INPUT]
            moved = any(m["msg"] == "mousemove" for m in found)
            if (moved and len([m for m in found if m["msg"] != "mousemove"]) >= buttons
                    or time.monotonic() > deadline):
                return found
            time.sleep(0.05)

    def test_1_list_displays_puts_the_left_monitor_first(self):
        result = self.run_ok("list_displays")
        self.assertEqual(result.stdout, (
            b'{"data":{"displays":[{"display_id":"-1280,0,1280,1024","height":1024,'
            b'"primary":false,"scale":1.0,"width":1280,"x":-1280,"y":0},'
            b'{"display_id":"0,0,1920,1080","height":1080,"primary":true,"scale":1.0,'
            b'"width":1920,"x":0,"y":0}]},"ok":true}\n'))
        self.assertEqual(result.stderr, b"")

    def test_2_display_id_selects_exactly_then_by_nearness_else_the_primary(self):
        fuzzy = b"[CUA-display-win] fuzzy matched display_id=%s -> -1280,0,1280x1024 score=%d\n"
        cases = [  # display_id, position, probe expected to see the move there, stderr
            (None, [500, 500], (960, 540), b""),
            (LEFT, [500, 500], (-640, 512), b""),
            (" -1280, 0, 1280, 1024 ", [250, 500], (-960, 512),
             fuzzy % (b"-1280, 0, 1280, 1024", 0)),
            ("-1200,0,1280,1000", [750, 250], (-320, 256), fuzzy % (b"-1200,0,1280,1000", 104)),
            ("abc", [0.25, 0.5], (480, 540),
             b"[CUA-display-win] display_id not found, fallback to primary display: abc\n"),
        ]
        for display_id, position, point, stderr in cases:
            with self.subTest(display_id=display_id):
                params = {"position": position}
                if display_id is not None:
                    params["display_id"] = display_id
                probe = self.left if point[0] < 0 else self.primary
                before = len(probe.messages())
                result = self.run_ok("move", **params)
                self.assertEqual(result.stderr, stderr)
                moves = self.input_after(probe, before)
                self.assertIn(point, [(m["x"], m["y"]) for m in moves])

    def test_3_pointer_actions_land_on_the_left_monitor_at_negative_points(self):
        cases = [  # action, params, the left probe's button and wheel messages
            ("move", {"position": [0, 0]}, []),
            ("click", {"position": [1000, 1000]},
             [("lbuttondown", -1, 1023, 0), ("lbuttonup", -1, 1023, 0)]),
            ("right_click", {"position": [0, 1.0]},
             [("rbuttondown", -1280, 1023, 0), ("rbuttonup", -1280, 1023, 0)]),
            ("scroll", {"position": [1.0, 0], "amount": 2},
             [("mousewheel", -1, 0, 120), ("mousewheel", -1, 0, 120)]),
            ("drag", {"position1": [0.1, 0.1], "position2": [1000, 1000]},
             [("lbuttondown", -1152, 102, 0), ("lbuttonup", -1, 1023, 0)]),
        ]
        primary_before = len(self.primary.messages())
        for action, params, expected in cases:
            with self.subTest(action=action):
                before = len(self.left.messages())
                self.run_ok(action, display_id=LEFT, **params)
                messages = self.input_after(self.left, before, len(expected))
                self.assertEqual([(m["msg"], m["x"], m["y"], m["wheel"]) for m in messages
                                  if m["msg"] != "mousemove"], expected)
                moves = [(m["x"], m["y"]) for m in messages if m["msg"] == "mousemove"]
                self.assertTrue(moves, "no pointer move seen")
                self.assertTrue(all(-1280 <= x < 0 and 0 <= y < 1024 for x, y in moves), moves)
                if action == "drag":  # forward only, from the start to the end
                    self.assertGreaterEqual(len(moves), 10)
                    self.assertEqual(moves, sorted(moves))
                    self.assertEqual(moves[-1], (-1, 1023))
        self.assertEqual([m for m in self.primary.messages()[primary_before:]
                          if m["msg"] in INPUT], [])

    def test_4_each_monitor_is_captured_with_its_own_pattern(self):
        left, top, width, height = PRIMARY_RECT
        cases = [  # params, display_id, size, pattern, its corners in the image
            ({"display_id": LEFT}, LEFT, (1280, 1024), LEFT_PATTERN,
             [(0, 0), (1279, 0), (0, 1023), (1279, 1023)]),
            ({}, "0,0,1920,1080", (1920, 1080), PRIMARY_PATTERN,
             [(left, top), (left + width - 1, top), (left, top + height - 1),
              (left + width - 1, top + height - 1)]),
        ]
        for params, display_id, size, pattern, corners in cases:
            with self.subTest(display_id=display_id):
                result = self.run_ok("screenshot", **params)
                data = result.json["data"]
                self.assertEqual(
                    (data["display_id"], data["width"], data["height"], data["scaleFactor"]),
                    (display_id, *size, 1))
                png = image_of(result)
                self.assertEqual((png.width, png.height), size)
                (x0, y0), (x1, _), (_, y1) = corners[0], corners[1], corners[2]
                middle = ((x0 + x1) // 2, (y0 + y1) // 2)  # last pixel of the top left quadrant
                seen = [rgb(png.pixel(*p)) for p in [*corners, middle]]
                self.assertEqual(seen, [*pattern, pattern[0]])
        # Left of the primary's probe lies the empty, black primary.
        self.assertEqual(rgb(image_of(self.run_ok("screenshot")).pixel(left - 1, top)), 0)

    def test_5_click_indicator_ring_is_drawn_around_the_point_on_the_left_monitor(self):
        watch = harness.WindowWatch("ZeltoClickIndicatorOverlay", seconds=30,
                                    desktop=self.desktop, row=True)
        point = self.run_ok("click", position=[300, 300], display_id=LEFT).json["data"]["global"]
        watch.result(timeout=60)
        self.assertEqual(len(watch.lines), 2, watch.lines)
        window, row = watch.lines
        x, y = point
        self.assertEqual(window["rect"], [x - 32, y - 32, x + 32, y + 32])
        self.assertEqual(row["y"], y)
        red = [i for i, colour in enumerate(row["pixels"]) if colour == RED]
        self.assertTrue(red and min(red) < 16 and max(red) > 48, row["pixels"])
        self.assertLessEqual(abs(row["left"] + sum(red) / len(red) - x), 1.5)
        # Inside the ring the key colour is see-through: the probe's pattern shows.
        self.assertEqual(row["pixels"][32], LEFT_PATTERN[0])

    def test_6_open_app_maximizes_on_the_chosen_display(self):
        cases = [({"display_id": LEFT}, (-1280, 0, 0, 1024)), ({}, (0, 0, 1920, 1080))]
        for params, monitor in cases:
            with self.subTest(params=params):
                self.run_ok("open_app", app_name="notepad", **params)
                windows = [w for w in harness.top_windows(desktop=self.desktop)
                           if w["title"].endswith("Notepad")]
                self.assertEqual(len(windows), 1, windows)
                # Maximized: the monitor plus the frame that hangs over its edges.
                for edge, want in zip(windows[0]["rect"], monitor):
                    self.assertLessEqual(abs(edge - want), 10, (windows[0]["rect"], monitor))


if __name__ == "__main__":
    unittest.main()
