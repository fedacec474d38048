"""The action timing record in the per-user log, written by the real zelto-cua.exe.

Wine drops HOME and points USERPROFILE at C:\\users\\<user>, so the data directory is
<prefix>/drive_c/users/<user>/.zelto-enterprise.
"""

import json
import re
import shutil
import unittest
from pathlib import Path

import harness

LOG_NAME = re.compile(r"^UTC[+-]\d{4}_\d{4}-\d{2}-\d{2}-\d{2}-\d{2}Z\.log$")
TIMING_KEYS = ["component", "data", "event", "level", "message", "mode", "source", "target",
               "timeZone", "ts", "tsLocal"]
DATA_KEYS = ["action", "durationMs", "durationSeconds", "params", "result"]
RFC3339 = re.compile(r"^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d{1,9})?(Z|[+-]\d{2}:\d{2})$")
NO_VERBOSE = {"ZELTO_CUA_VERBOSE_LOG": "", "ZELTO_LOG_LEVELS": "", "ZELTO_LOG_LEVEL": ""}


def user_profile():
    users = harness.wine_prefix() / "drive_c" / "users"
    candidates = [p for p in users.iterdir()
                  if p.is_dir() and not p.is_symlink() and p.name.lower() != "public"]
    if len(candidates) != 1:
        raise AssertionError(f"cannot tell the Wine user's profile among {candidates}")
    return candidates[0]


def ordered_pairs(pairs):
    return pairs  # keep the keys exactly as written


class TimingLogTest(unittest.TestCase):
    def setUp(self):
        self.data_dir = user_profile() / ".zelto-enterprise"
        self._clear()
        self.addCleanup(self._clear)

    def _clear(self):
        if self.data_dir.is_dir() and not self.data_dir.is_symlink():
            shutil.rmtree(self.data_dir)
        elif self.data_dir.exists():
            self.data_dir.unlink()

    def log_files(self):
        logs = self.data_dir / "logs"
        return sorted(logs.iterdir()) if logs.is_dir() else []

    def only_line(self):
        files = self.log_files()
        self.assertEqual(len(files), 1, files)
        self.assertRegex(files[0].name, LOG_NAME)
        raw = files[0].read_bytes()
        self.assertTrue(raw.endswith(b"}\n"), raw[-20:])
        self.assertNotIn(b"\r", raw)
        self.assertEqual(raw.count(b"\n"), 1)
        return files[0], raw

    def run_ok(self, request, env):
        result = harness.run_action(request, env={**NO_VERBOSE, **env})
        self.assertEqual(result.exit_status, 0)
        self.assertEqual(result.stderr, b"")
        return result

    def test_failed_request_leaves_one_warn_record(self):
        result = self.run_ok('{"action":"bogus","params":{"a":[1,2]}}', {})
        self.assertEqual(result.stdout, b'{"error":"Unknown CUA action: bogus","ok":false}\n')

        path, raw = self.only_line()
        pairs = json.loads(raw, object_pairs_hook=ordered_pairs)
        self.assertEqual([k for k, _ in pairs], TIMING_KEYS)
        record = json.loads(raw)
        self.assertEqual(record["level"], "warn")
        self.assertEqual(record["event"], "cua.action.timing")
        self.assertEqual(record["source"], "tauri")
        self.assertEqual(record["component"], "cua-actions-windows")
        self.assertEqual(record["mode"], "cua")
        self.assertEqual(record["target"], "bogus")
        self.assertRegex(record["message"], r"^CUA native action bogus failed in \d+ms$")
        data_pairs = dict(pairs)["data"]
        self.assertEqual([k for k, _ in data_pairs], DATA_KEYS)
        data = record["data"]
        self.assertEqual(data["params"], {"a": [1, 2]})
        self.assertEqual(data["result"], {"error": "Unknown CUA action: bogus", "ok": False})
        self.assertEqual(record["message"], f"CUA native action bogus failed in {data['durationMs']}ms")
        self.assertAlmostEqual(data["durationSeconds"], data["durationMs"] / 1000)
        self.assertRegex(record["ts"], RFC3339)
        self.assertTrue(record["ts"].endswith("Z"))
        self.assertRegex(record["tsLocal"], RFC3339)
        self.assertTrue(path.name.startswith(record["timeZone"] + "_"))
        # The file's time key is the record's UTC minute.
        key = record["ts"][:16].replace("T", "-").replace(":", "-")
        self.assertEqual(path.name[9:25], key)

    def test_successful_move_is_recorded_only_when_verbose(self):
        request = '{"action":"move","params":{"position":[500,500],"display_id":0}}'
        self.run_ok(request, {})
        self.assertEqual(self.log_files(), [])
        for off in ("0", "enabled", "2"):
            self.run_ok(request, {"ZELTO_CUA_VERBOSE_LOG": off})
        self.assertEqual(self.log_files(), [])

        self.run_ok(request, {"ZELTO_CUA_VERBOSE_LOG": " Yes "})
        _, raw = self.only_line()
        record = json.loads(raw)
        self.assertEqual(record["level"], "info")
        self.assertRegex(record["message"], r"^CUA native action move completed in \d+ms$")
        self.assertEqual(record["data"]["params"], {"position": [500, 500]})
        self.assertTrue(record["data"]["result"]["ok"])
        self.assertEqual(record["data"]["result"]["global"], [960, 540])

    def test_records_append_to_the_same_file(self):
        for _ in range(3):
            self.run_ok('{"action":"bogus"}', {})
        files = self.log_files()
        self.assertEqual(len(files), 1)
        lines = files[0].read_bytes().split(b"\n")
        self.assertEqual(lines[-1], b"")
        self.assertEqual(len(lines), 4)

    def test_secret_values_never_reach_the_disk(self):
        secrets = {"password": "pw-e2e-VALUE", "X-API-Key": "key-e2e-VALUE",
                   "refresh_token": "rt-e2e-VALUE", "nested": {"csrf_token": "ct-e2e-VALUE"}}
        self.run_ok(json.dumps({"action": "no_such", "params": secrets}), {})
        _, raw = self.only_line()
        for value in (b"pw-e2e-VALUE", b"key-e2e-VALUE", b"rt-e2e-VALUE", b"ct-e2e-VALUE"):
            self.assertNotIn(value, raw)
        self.assertEqual(json.loads(raw)["data"]["params"],
                         {"password": "[REDACTED]", "X-API-Key": "[REDACTED]",
                          "refresh_token": "[REDACTED]", "nested": {"csrf_token": "[REDACTED]"}})

    def test_disabled_level_writes_nothing(self):
        self.run_ok('{"action":"bogus"}', {"ZELTO_LOG_LEVELS": "error"})
        self.assertFalse(self.data_dir.exists())

    def test_config_file_levels_win_over_environment(self):
        self.data_dir.mkdir(parents=True)
        (self.data_dir / "config.json").write_text('{"logLevels":["error"]}')
        self.run_ok('{"action":"bogus"}', {"ZELTO_LOG_LEVELS": "warn"})
        self.assertEqual(self.log_files(), [])

    def test_unwritable_log_directory_leaves_the_result_intact(self):
        self.data_dir.write_bytes(b"a file where the directory should be")
        result = self.run_ok('{"action":"bogus"}', {})
        self.assertEqual(result.stdout, b'{"error":"Unknown CUA action: bogus","ok":false}\n')
        result = self.run_ok('{"action":"check_permissions"}', {"ZELTO_CUA_VERBOSE_LOG": "1"})
        self.assertEqual(result.stdout,
                         b'{"data":{"accessibility":true,"screen_recording":true},"ok":true}\n')
        self.assertEqual(self.data_dir.read_bytes(), b"a file where the directory should be")

    def test_local_time_follows_the_time_zone(self):
        self.run_ok('{"action":"bogus"}', {"TZ": "Asia/Kathmandu"})
        path, raw = self.only_line()
        record = json.loads(raw)
        self.assertEqual(record["timeZone"], "UTC+0545")
        self.assertTrue(path.name.startswith("UTC+0545_"))
        self.assertTrue(record["tsLocal"].endswith("+05:45"), record["tsLocal"])


if __name__ == "__main__":
    unittest.main()
