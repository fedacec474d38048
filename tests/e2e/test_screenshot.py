"""The screenshot action on a real Wine desktop: a black screen is refused as the
secure desktop, a probe window shows up at its rectangle, and a 2560x1440 screen
comes back halved."""

import base64
import json
import os
import shlex
import struct
import subprocess
import time
import unittest
import zlib
from pathlib import Path

import harness

SECURE_DESKTOP_LINE = (
    b'{"data":{"code":"windows_secure_desktop_blocked"},"error":"Windows secure desktop is '
    b"active (for example a UAC confirmation dialog). Screenshot and input are blocked by the "
    b'OS. Please confirm or dismiss the system dialog manually, then retry.","ok":false}\n'
)
BLACKOUT_LINE = (
    b"[CUA-screenshot-win] secure desktop blackout detected; refusing black frame screenshot\n"
)
REQUEST = '{"action":"screenshot","params":{}}\n'
WHITE = (255, 255, 255, 255)

# A second desktop of its own for the 2560x1440 screen (and the empty black one).
WIDE_DISPLAY = os.environ.get("ZELTO_WIDE_DISPLAY", ":98")
WIDE_SCREEN = "2560x1440x24"


class Png:
    """Just enough PNG reading to check our own output: chunks, IHDR, row filters,
    and pixels of Sub-filtered 8-bit RGBA rows."""

    def __init__(self, data):
        assert data[:8] == b"\x89PNG\r\n\x1a\n", "no PNG signature"
        self.chunks, idat, at = [], b"", 8
        while at < len(data):
            length, kind = struct.unpack(">I4s", data[at:at + 8])
            body = data[at + 8:at + 8 + length]
            crc = struct.unpack(">I", data[at + 8 + length:at + 12 + length])[0]
            assert zlib.crc32(kind + body) == crc, f"bad CRC in {kind}"
            self.chunks.append(kind.decode())
            if kind == b"IHDR":
                (self.width, self.height, self.depth, self.colour, _, _,
                 self.interlace) = struct.unpack(">IIBBBBB", body)
            elif kind == b"IDAT":
                idat += body
            at += 12 + length
        self.raw = zlib.decompress(idat)
        self.stride = 1 + self.width * 4
        assert len(self.raw) == self.stride * self.height
        self.filters = {self.raw[row * self.stride] for row in range(self.height)}
        self._rows = {}

    def row(self, y):
        if y not in self._rows:
            filtered = self.raw[y * self.stride + 1:(y + 1) * self.stride]
            out = bytearray(filtered)
            for i in range(4, len(out)):  # Sub: add the byte one pixel to the left
                out[i] = (out[i] + out[i - 4]) & 0xFF
            self._rows[y] = bytes(out)
        return self._rows[y]

    def pixel(self, x, y):
        return tuple(self.row(y)[x * 4:x * 4 + 4])


def image_of(result):
    data = result.json["data"]
    prefix = "data:image/png;base64,"
    assert data["image"].startswith(prefix)
    return Png(base64.b64decode(data["image"][len(prefix):], validate=True))


def inside_points(rect, inset, scale=1):
    """A grid of points well inside a window rectangle (left, top, right, bottom)."""
    left, top, right, bottom = rect
    xs = range(left + inset, right - inset, max(1, (right - left - 2 * inset) // 6))
    ys = range(top + inset, bottom - inset, max(1, (bottom - top - 2 * inset) // 6))
    return [(x // scale, y // scale) for x in xs for y in ys]


def start_probe(env, log_path, rect):
    """The probe window (white client area) on the desktop of `env`."""
    log_path = Path(log_path)
    log_path.unlink(missing_ok=True)
    process = subprocess.Popen(
        ["wine", str(harness.PROBE), "window", "Z:" + str(log_path).replace("/", "\\"),
         *[str(v) for v in rect], "60"],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        env=env, start_new_session=True)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if log_path.exists():
            for line in log_path.read_text(encoding="utf-8").splitlines():
                message = json.loads(line)
                if message.get("msg") == "ready":
                    time.sleep(1.0)  # let the window be painted on the X screen
                    return process, message
        time.sleep(0.05)
    process.kill()
    raise AssertionError("probe window never became ready")


class ScreenshotOnTheMainDesktop(unittest.TestCase):
    def test_probe_window_appears_at_its_rectangle(self):
        probe = harness.Probe(harness.BUILD / "screenshot-probe.log", rect=(200, 150, 640, 480))
        try:
            rect = probe.wait_for(lambda m: m["msg"] == "ready")["rect"]
            time.sleep(1.0)
            result = harness.run_action(REQUEST)
        finally:
            probe.close()
        self.assertEqual(result.exit_status, 0)
        self.assertTrue(result.json["ok"], result.stdout[:200])
        data = result.json["data"]
        self.assertEqual(
            {k: v for k, v in data.items() if k != "image"},
            {"width": 1920, "height": 1080, "sourceWidth": 1920, "sourceHeight": 1080,
             "scaleFactor": 1, "display_id": "0,0,1920,1080"})
        png = image_of(result)
        self.assertEqual(png.chunks[0], "IHDR")
        self.assertEqual(set(png.chunks[1:-1]), {"IDAT"})
        self.assertEqual(png.chunks[-1], "IEND")
        self.assertEqual((png.width, png.height, png.depth, png.colour, png.interlace),
                         (1920, 1080, 8, 6, 0))
        self.assertEqual(png.filters, {1})
        for x, y in inside_points(rect, 40):
            self.assertEqual(png.pixel(x, y), WHITE, f"at {x},{y} inside {rect}")
        self.assertEqual(result.stderr, b"")


def jpeg_dimensions(data):
    """Width and height from the JPEG's start-of-frame marker."""
    assert data[:2] == b"\xff\xd8", "no JPEG start of image"
    at = 2
    while at + 4 <= len(data):
        assert data[at] == 0xFF, f"no marker at {at}"
        marker, length = data[at + 1], struct.unpack(">H", data[at + 2:at + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            height, width = struct.unpack(">HH", data[at + 5:at + 9])
            return width, height
        at += 2 + length
    raise AssertionError("no start-of-frame marker")


class FittedScreenshotOnTheMainDesktop(unittest.TestCase):
    def test_fitted_images_of_the_probe_window(self):
        probe = harness.Probe(harness.BUILD / "screenshot-fit-probe.log", rect=(200, 150, 640, 480))
        try:
            rect = probe.wait_for(lambda m: m["msg"] == "ready")["rect"]
            time.sleep(1.0)
            jpeg_result = harness.run_action(
                '{"action":"screenshot","params":{"max_size":800,"format":"jpeg"}}\n')
            png_result = harness.run_action('{"action":"screenshot","params":{"max_size":800}}\n')
            refused = harness.run_action(
                '{"action":"screenshot","params":{"max_size":800,"max_bytes":10}}\n')
        finally:
            probe.close()
        geometry = {"display_id": "0,0,1920,1080", "height": 450, "sourceHeight": 1080,
                    "sourceWidth": 1920, "width": 800}
        data = jpeg_result.json["data"]
        self.assertEqual({k: v for k, v in data.items() if k != "image"},
                         {**geometry, "format": "jpeg"})
        prefix = "data:image/jpeg;base64,"
        self.assertTrue(data["image"].startswith(prefix), data["image"][:40])
        jpeg = base64.b64decode(data["image"][len(prefix):], validate=True)
        self.assertEqual(jpeg_dimensions(jpeg), (800, 450))
        self.assertEqual(jpeg[-2:], b"\xff\xd9")
        self.assertEqual(jpeg_result.stderr, b"")

        # Without a budget "auto" is a PNG: blocks wholly inside the white client
        # area average to white.
        self.assertEqual({k: v for k, v in png_result.json["data"].items() if k != "image"},
                         {**geometry, "format": "png"})
        png = image_of(png_result)
        self.assertEqual((png.width, png.height), (800, 450))
        for x, y in inside_points(rect, 40):
            self.assertEqual(png.pixel(x * 800 // 1920, y * 450 // 1080), WHITE, f"at {x},{y}")

        self.assertFalse(refused.json["ok"])
        self.assertRegex(refused.json["error"],
                         r"^max_bytes 10 is too small: the smallest jpeg image of this display "
                         r"takes [0-9]+ bytes$")


class ScreenshotOnAWideDesktop(unittest.TestCase):
    env = None

    @classmethod
    def setUpClass(cls):
        harness.desktop_env()  # the main desktop's prefix settings first
        env = dict(os.environ)
        env["ZELTO_DISPLAY"] = WIDE_DISPLAY
        env["ZELTO_SCREEN"] = WIDE_SCREEN
        env["ZELTO_WINEPREFIX"] = str(harness.BUILD / "wineprefix-wide")
        env.setdefault("ZELTO_TOOLS_DIR", str(harness.BUILD / "tests" / "e2e" / "tools"))
        out = subprocess.run(["bash", str(harness.ROOT / "scripts" / "desktop.sh"), "start"],
                             env=env, check=True, stdout=subprocess.PIPE,
                             stdin=subprocess.DEVNULL, timeout=300).stdout.decode()
        for token in shlex.split(out):
            if token != "export":
                key, _, value = token.partition("=")
                env[key] = value
        cls.env = env

    @classmethod
    def tearDownClass(cls):
        if cls.env is not None:
            subprocess.run(["bash", str(harness.ROOT / "scripts" / "desktop.sh"), "stop"],
                           env=cls.env, check=False, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def run_screenshot(self):
        out, status, err = harness.run_program([harness.EXE], REQUEST.encode(), env=self.env)
        harness.record_result(REQUEST.encode(), out, status)
        return harness.Result(out, status, err)

    def test_1_empty_black_screen_is_refused_as_the_secure_desktop(self):
        result = self.run_screenshot()
        self.assertEqual(result.stdout, SECURE_DESKTOP_LINE)
        self.assertEqual(result.exit_status, 0)
        self.assertEqual(result.stderr, BLACKOUT_LINE)

    def test_2_wide_screen_is_halved(self):
        process, ready = start_probe(self.env, harness.BUILD / "screenshot-wide-probe.log",
                                     (300, 200, 800, 600))
        try:
            result = self.run_screenshot()
        finally:
            process.kill()
            process.wait(timeout=10)
        self.assertTrue(result.json["ok"], result.stdout[:200])
        data = result.json["data"]
        self.assertEqual(
            {k: v for k, v in data.items() if k != "image"},
            {"width": 1280, "height": 720, "sourceWidth": 2560, "sourceHeight": 1440,
             "scaleFactor": 2, "display_id": "0,0,2560,1440"})
        png = image_of(result)
        self.assertEqual((png.width, png.height), (1280, 720))
        self.assertEqual(png.filters, {1})
        for x, y in inside_points(ready["rect"], 40, scale=2):
            self.assertEqual(png.pixel(x, y), WHITE, f"at {x},{y} (half scale)")


if __name__ == "__main__":
    unittest.main()
