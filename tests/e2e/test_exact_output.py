"""Byte-exact numbers in the result line, and very long texts typed as key events."""

import json
import random
import re
import subprocess
import tempfile
import threading
import time
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import harness

SCREEN_WIDTH, SCREEN_HEIGHT = 1920, 1080

# Doubles whose shortest form has fewer digits than a 17-digit writer gives them: a writer that
# is not shortest fails on these even when the random values happen to miss such cases.
HARD_WIDTHS = [2722.270532675401, 4995.810190590199, 5371.185060873569, 2494.170442158377,
               7240.405787614573, 438.965368834006]
HARD_FRACTIONS = [0.4959708893842458, 0.007559128814762854, 0.4648254592799064,
                  0.4283491994482512, 0.089573899233781, 0.06241682341129191]

MOVES = 1000
WORKERS = 4


def normalized(value):
    """The position value as a fraction of the display: thousandths above 1, then clamped."""
    if value > 1.0:
        value = value / 1000.0
    return min(max(value, 0.0), 1.0)


def numbers_of(line, key):
    """The two numbers of an array member, as the result line spells them."""
    match = re.search(rb'"' + key.encode() + rb'":\[([^\]]*)\]', line)
    return match.group(1).decode() if match else None


class FloatOutputTest(unittest.TestCase):
    def test_moves_report_source_size_and_fractions_in_shortest_form(self):
        rng = random.Random(1211)
        requests = []
        for i in range(MOVES):
            width = HARD_WIDTHS[i] if i < len(HARD_WIDTHS) else rng.uniform(1.0, 8000.0)
            x = HARD_FRACTIONS[i] if i < len(HARD_FRACTIONS) else rng.choice(
                [rng.random(), rng.uniform(1.0, 1000.0)])
            y = rng.random()
            screen = {"sourceWidth": width}
            height = float(SCREEN_HEIGHT)
            if i % 3 == 0:
                height = rng.uniform(1.0, 5000.0)
                screen["sourceHeight"] = height
            requests.append((json.dumps({"action": "move", "params": {
                "position": [x, y], "_screen": screen}}), width, height, x, y))

        def run(case):
            request, width, height, x, y = case
            result = harness.run_action(request)
            return case, result

        with ThreadPoolExecutor(WORKERS) as pool:
            outcomes = list(pool.map(run, requests))
        mismatches = []
        for (request, width, height, x, y), result in outcomes:
            self.assertEqual(result.exit_status, 0, result.stderr)
            expected = {"sourceScreen": f"{width!r},{height!r}",
                        "normalized": f"{normalized(x)!r},{normalized(y)!r}"}
            for key, numbers in expected.items():
                got = numbers_of(result.stdout, key)
                if got != numbers:
                    mismatches.append(f"{key}: {got} != {numbers} for {request}")
        self.assertEqual(mismatches, [])


def utf16_units(text):
    data = text.encode("utf-16-le")
    return [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]


def long_text(units):
    """Exactly `units` UTF-16 units of mixed text: ASCII, accents, CJK and surrogate pairs."""
    pattern = "h\u00e9llo w\u00f6rld \U0001F600 \u65e5\u672c\u8a9e, "
    text = pattern * (units // len(utf16_units(pattern)) + 1)
    while len(utf16_units(text)) > units:
        text = text[:-1]
    return text + "a" * (units - len(utf16_units(text)))


class LongTextTest(unittest.TestCase):
    UNITS = 262_145  # past 2^18: one SendInput of 524,290 events

    def setUp(self):
        # Half a million key messages pass through the wineserver: on one CPU they take seconds.
        self.enterContext(harness.on_one_cpu())
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.probe = harness.Probe(Path(self.tmp.name) / "probe.log", seconds=400)
        self.addCleanup(self.probe.close)

    def hold_clipboard(self):
        """Another program keeps the clipboard open until the test ends."""
        holder = subprocess.Popen(
            ["wine", str(harness.PROBE), "hold-clipboard", "400"], stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=harness.desktop_env(),
            start_new_session=True)
        self.addCleanup(lambda: (holder.kill(), holder.wait(10)))
        ready = threading.Event()
        threading.Thread(target=lambda: holder.stdout.readline().strip() == b"ready" and ready.set(),
                         daemon=True).start()
        self.assertTrue(ready.wait(60), "the clipboard holder never opened the clipboard")

    def char_units(self, count, timeout):
        """The probe's WM_CHAR units once `count` arrived (or the timeout passed)."""
        deadline = time.monotonic() + timeout
        while True:
            data = self.probe.log_path.read_bytes() if self.probe.log_path.exists() else b""
            arrived = data.count(b'"msg":"char"')
            if arrived >= count or time.monotonic() > deadline:
                return [json.loads(line)["unit"] for line in data.splitlines()
                        if b'"msg":"char"' in line]
            time.sleep(1.0)

    def test_long_text_is_typed_in_full_while_the_clipboard_is_held(self):
        text = long_text(self.UNITS)
        expected = utf16_units(text)
        self.assertEqual(len(expected), self.UNITS)
        self.hold_clipboard()
        result = harness.run_action(json.dumps({"action": "type", "params": {"text": text}}),
                                    timeout=120)
        self.assertEqual((result.exit_status, result.stdout), (0, b'{"ok":true}\n'))
        preview = json.dumps(text[:30], ensure_ascii=False)
        self.assertEqual(result.stderr.decode("utf-8"), f"[CUA-type-win] text={preview}\n")
        units = self.char_units(self.UNITS, timeout=120)
        self.assertEqual(len(units), self.UNITS)
        self.assertTrue(units == expected, "the characters differ from the text typed")


if __name__ == "__main__":
    unittest.main()
