"""run_powershell and run_applescript on a real Wine desktop, with the
PowerShell stand-in installed in the prefix (tests/e2e/tools/powershell)."""

import json
import tempfile
import time
import unittest
from pathlib import Path

import harness
from test_logging import user_profile


def request(action, script):
    return json.dumps({"action": action, "params": {"script": script}})


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def timing_records(action):
    """Every timing record of `action` in the per-user log, oldest file first."""
    logs = user_profile() / ".zelto-enterprise" / "logs"
    records = []
    for path in sorted(logs.iterdir()) if logs.is_dir() else []:
        for line in path.read_text(encoding="utf-8").splitlines():
            record = json.loads(line)
            if record.get("target") == action:
                records.append(record)
    return records


class PowerShellTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.pid_log = Path(self.tmp.name) / "standin-pids.log"
        self.env = {"ZELTO_STANDIN_PID_LOG": windows_path(self.pid_log)}

    def tearDown(self):
        self.tmp.cleanup()

    def run_script(self, action, script):
        return harness.run_action(request(action, script), env=self.env)

    def test_both_actions_print_the_script_output(self):
        for action in ("run_powershell", "run_applescript"):
            with self.subTest(action=action):
                result = self.run_script(action, "Write-Output hello")
                self.assertEqual(result.stdout, b'{"data":{"output":"hello\\r\\n"},"ok":true}\n')
                self.assertEqual(result.exit_status, 0)

    def test_script_errors_and_foreign_scripts_pass_on_only_the_message(self):
        cases = [
            ("throw 'Access to the path is denied.'",
             b'{"error":"Access to the path is denied.","ok":false}\n'),
            ('tell application "Finder" to activate',
             b'{"error":"The term \'tell\' is not recognized as the name of a cmdlet, function, '
             b'script file, or operable program. Check the spelling of the name, or if a path was '
             b'included, verify that the path is correct and try again.","ok":false}\n'),
        ]
        for script, expected in cases:
            for action in ("run_powershell", "run_applescript"):
                with self.subTest(action=action, script=script):
                    result = self.run_script(action, script)
                    self.assertEqual(result.stdout, expected)
                    self.assertEqual(result.exit_status, 0)

    def test_blocked_and_missing_scripts_start_nothing(self):
        cases = [
            (request("run_powershell", "Invoke-Expression 'Get-Date'"),
             b'{"error":"Blocked PowerShell operation: invoke-expression","ok":false}\n'),
            (request("run_applescript", "Remove-Item  -Recurse\t-Force C:\\x"),
             b'{"error":"Blocked PowerShell operation: remove-item -recurse -force","ok":false}\n'),
            ('{"action":"run_applescript","params":{"script":5}}',
             b'{"error":"Missing script","ok":false}\n'),
            ('{"action":"run_powershell"}', b'{"error":"Missing script","ok":false}\n'),
        ]
        for text, expected in cases:
            with self.subTest(request=text):
                result = harness.run_action(text, env=self.env)
                self.assertEqual(result.stdout, expected)
                self.assertEqual(result.exit_status, 0)
        self.assertFalse(self.pid_log.exists(), "the stand-in was started")

    def test_non_json_output_is_retried_once(self):
        result = self.run_script("run_powershell", "zt-stderr broken\nzt-print not json")
        self.assertEqual(
            result.stdout,
            b'{"error":"PowerShell returned non-JSON output: not json; stderr: broken","ok":false}\n')
        self.assertEqual(len(self.pid_log.read_text().split()), 2)

    def test_overlong_script_fails_to_start_twice_and_starts_nothing(self):
        script = "Write-Output " + "x" * 19987  # 20,000 characters
        result = harness.run_action(request("run_powershell", script),
                                    env={**self.env, "ZELTO_LOG_LEVELS": "", "ZELTO_LOG_LEVEL": ""})
        self.assertRegex(
            result.stdout.decode(),
            r'^\{"error":"PowerShell spawn failed: the command line is \d+ UTF-16 units long, '
            r'over the limit of 32767","ok":false\}\n$')
        self.assertFalse(self.pid_log.exists(), "the stand-in was started")
        # The failure is retryable: a second attempt follows a 200 ms pause.
        record = [r for r in timing_records("run_powershell") if r["data"]["result"] == result.json]
        self.assertTrue(record, "no timing record of the request")
        self.assertGreaterEqual(record[-1]["data"]["durationMs"], 200)

    def test_script_output_in_the_oem_code_page_is_read_back(self):
        cases = [
            ("caf\u00e9", {}),  # code page 437 under Wine's default locale
            ("\u817e\u8baf", harness.locale_env("zh_CN.UTF-8")),  # code page 936
        ]
        for text, locale in cases:
            with self.subTest(text=text):
                if locale is None:
                    self.skipTest("Wine cannot be given a zh_CN locale here")
                result = harness.run_action(
                    request("run_powershell", "zt-oem\nWrite-Output " + text),
                    env={**self.env, **locale})
                self.assertEqual(result.stdout,
                                 ('{"data":{"output":"%s\\r\\n"},"ok":true}\n' % text).encode())

    def test_program_started_by_the_script_does_not_hold_the_action(self):
        started = time.monotonic()
        result = self.run_script("run_powershell", "zt-spawn-holder 20\nWrite-Output done")
        elapsed = time.monotonic() - started
        output = result.json["data"]["output"]
        self.assertRegex(output, r"^holder \d+\r\ndone\r\n$")
        # Waiting for the pipes' end-of-file would last the holder's 20 seconds.
        self.assertLess(elapsed, 15)


if __name__ == "__main__":
    unittest.main()
