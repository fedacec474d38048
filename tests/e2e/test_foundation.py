"""Request intake, the dispatcher, check_permissions and move on a real Wine desktop."""

import unittest

import harness

INTAKE_FAILURES = [
    (b"", b'{"error":"No input received on stdin","ok":false}\n'),
    (b"  \r\n\t\n", b'{"error":"No input received on stdin","ok":false}\n'),
    (b'{"action":"move"}\n\xff\xfe', b'{"error":"Failed to read stdin","ok":false}\n'),
    (b'{\n  "action": "move"\n}\n',
     b'{"error":"Invalid request JSON: EOF while parsing an object at line 1 column 1","ok":false}\n'),
    (b'\xef\xbb\xbf{"action":"move"}',
     b'{"error":"Invalid request JSON: expected value at line 1 column 1","ok":false}\n'),
    (b'{"action":"a"} {"action":"b"}',
     b'{"error":"Invalid request JSON: trailing characters at line 1 column 16","ok":false}\n'),
    (b'{"action":""}', b'{"error":"Missing action in request","ok":false}\n'),
    (b'{"action":5}', b'{"error":"Missing action in request","ok":false}\n'),
    (b"[]", b'{"error":"Missing action in request","ok":false}\n'),
    (b'"screenshot"', b'{"error":"Missing action in request","ok":false}\n'),
]


class IntakeTest(unittest.TestCase):
    def test_intake_failures_exact_line_and_status_one(self):
        for request, expected in INTAKE_FAILURES:
            with self.subTest(request=request):
                result = harness.run_action(request)
                self.assertEqual(result.stdout, expected)
                self.assertEqual(result.exit_status, 1)

    def test_unknown_action_keeps_the_name_and_exits_zero(self):
        result = harness.run_action('{"action":" type","params":{}}\n')
        self.assertEqual(result.stdout, b'{"error":"Unknown CUA action:  type","ok":false}\n')
        self.assertEqual(result.exit_status, 0)

    def test_check_permissions(self):
        result = harness.run_action('{"action":"check_permissions","params":null}')
        self.assertEqual(result.stdout, b'{"data":{"accessibility":true,"screen_recording":true},"ok":true}\n')
        self.assertEqual(result.exit_status, 0)

    def test_deep_nesting_and_large_input_give_one_line(self):
        deep = b'{"action":"move","params":' + b"[" * 100000
        result = harness.run_action(deep)
        self.assertEqual(result.exit_status, 1)
        self.assertTrue(result.stdout.startswith(b'{"error":"Invalid request JSON: recursion limit exceeded'))
        self.assertEqual(result.stdout.count(b"\n"), 1)
        big = b"x" * (100 * 1024 * 1024)
        result = harness.run_action(big, timeout=120)
        self.assertEqual(result.stdout,
                         b'{"error":"Invalid request JSON: expected value at line 1 column 1","ok":false}\n')


class MoveTest(unittest.TestCase):
    def test_move_maps_and_the_x_server_sees_the_pointer(self):
        result = harness.run_action('{"action":"move","params":{"position":[500,500]}}')
        self.assertEqual(result.exit_status, 0)
        self.assertEqual(
            result.stdout,
            b'{"data":{"display_relative":[960,540],"global":[960,540],"normalized":[0.5,0.5],'
            b'"origin":[0,0],"physical":[960,540],"screen":[1920,1080],'
            b'"sourceScreen":[1920.0,1080.0]},"ok":true}\n')
        self.assertEqual(harness.x_pointer(), (960, 540))

    def test_move_to_bottom_right_and_bad_position(self):
        result = harness.run_action('{"action":"move","params":{"position":[1.0,1000]}}')
        self.assertEqual(result.json["data"]["global"], [1919, 1079])
        self.assertEqual(harness.x_pointer(), (1919, 1079))
        result = harness.run_action('{"action":"move","params":{"position":[0.5]}}')
        self.assertEqual(result.stdout, b'{"error":"Missing position","ok":false}\n')
        self.assertEqual(result.exit_status, 0)

    def test_display_id_lines_go_to_stderr_only(self):
        result = harness.run_action(
            '{"action":"move","params":{"position":[0,0],"display_id":"0,0,1910,1080"}}')
        self.assertEqual(result.json["data"]["global"], [0, 0])
        self.assertIn(b"[CUA-display-win] fuzzy matched display_id=0,0,1910,1080 -> 0,0,1920x1080 score=10\n",
                      result.stderr)


if __name__ == "__main__":
    unittest.main()
