"""The command loop and the run's lifecycle, through the real pipes."""

import unittest

from harness import BENCH, BYE, STOP, Sidecar

setUpModule = BENCH.start
tearDownModule = BENCH.stop


class CommandLoop(unittest.TestCase):
    def test_inputs_that_end_the_run(self):
        # What the parent writes, and whether it then closes standard input.
        cases = {
            "stdin closed at once": (b"", True),
            "stop": (STOP, False),
            "stop with CRLF": (b'{"cmd":"stop"}\r\n', False),
            "escaped stop": (b'{"cmd":"st\\u006fp"}\n', False),
            "extra members": (b'{"x":[1,{"y":null}],"cmd":"stop","z":"\xc3\xa9"}\n', False),
            "invalid UTF-8": (b'{"cmd":"\xc3\x28"}\n', False),
            "final stop without line feed": (b'{"cmd":"stop"}', True),
        }
        for name, (data, close) in cases.items():
            with self.subTest(name):
                sidecar = Sidecar().expect_ready()
                sidecar.send(data)
                if close:
                    sidecar.close_stdin()
                self.assertEqual(sidecar.finish(), ([BYE], 0))

    def test_ignored_lines_then_stop(self):
        sidecar = Sidecar().expect_ready()
        for line in [b'{"CMD":"STOP"}\n', b'{"cmd":"STOP"}\n', b'["stop"]\n', b'{"cmd":"stop"} x\n',
                     b'{"cmd":"stop"}' + b" " * (1 << 20) + b"\n"]:
            with self.subTest(line[:20]):
                sidecar.send(line)
                sidecar.out.silent_for(0.5)
                self.assertIsNone(sidecar.proc.poll())
        self.assertEqual(sidecar.stop(), ([BYE], 0))


if __name__ == "__main__":
    unittest.main()
