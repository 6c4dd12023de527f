#!/usr/bin/env python3
"""The real program in a Wayland session: weston's headless compositor with
XWayland. With XWayland the program must run on it (X11, where placement,
the taskbar entry and the tray work); without it, or with an X server that is
gone, natively on Wayland; and in every case end cleanly on SIGTERM."""

import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from desktop_test import wait_for  # noqa: E402

PROGRAM = None


def make_x_socket_folder():
    """X servers make the folder of their sockets when a machine has none
    yet; weston's XWayland expects it, and on a fresh machine no X server may
    have run before this test."""
    folder = Path("/tmp/.X11-unix")
    if not folder.is_dir():
        folder.mkdir(exist_ok=True)
        folder.chmod(0o1777)


class WaylandSession(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="vistrel-wayland-")
        self.runtime = Path(self.tmp.name) / "runtime"
        self.runtime.mkdir(mode=0o700)
        self.log = Path(self.tmp.name) / "weston.log"
        self.socket = f"vistrel-test-{os.getpid()}"
        env = dict(os.environ, XDG_RUNTIME_DIR=str(self.runtime))
        make_x_socket_folder()
        with open(self.log, "wb") as log:
            self.weston = subprocess.Popen(
                ["weston", "--backend=headless-backend.so", f"--socket={self.socket}",
                 "--xwayland", "--width=1280", "--height=1024"],
                env=env, stdout=log, stderr=subprocess.STDOUT)
        found = wait_for(lambda: re.search(r"xserver listening on display (:\d+)",
                                           self.log.read_text(errors="replace")), 15)
        if not found:
            self.weston.kill()
            self.weston.wait()
            self.fail("weston with XWayland did not start:\n" + self.log.read_text())
        self.x_display = found[1]
        root = Path(self.tmp.name)
        self.env = dict(os.environ, XDG_RUNTIME_DIR=str(self.runtime), HOME=str(root / "home"),
                        XDG_DATA_HOME=str(root / "data"), XDG_CONFIG_HOME=str(root / "config"),
                        WAYLAND_DISPLAY=self.socket, XDG_SESSION_TYPE="wayland",
                        VISTREL_CAMERA="videotestsrc is-live=true",
                        VISTREL_WEB_BASE="http://127.0.0.1:9")
        for name in ("QT_QPA_PLATFORM", "DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            self.env.pop(name, None)

    def tearDown(self):
        self.weston.terminate()
        try:
            self.weston.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.weston.kill()
            self.weston.wait()
        self.tmp.cleanup()

    def run_program(self, env, while_running=lambda: None):
        program = subprocess.Popen([PROGRAM], env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
        try:
            time.sleep(4)
            self.assertIsNone(program.poll(), "the program ended by itself")
            seen = while_running()
            program.send_signal(signal.SIGTERM)
            output, _ = program.communicate(timeout=15)
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()
        return program.returncode, output.decode(errors="replace"), seen

    def x_windows(self):
        out = subprocess.run(["xwininfo", "-display", self.x_display, "-root", "-tree"],
                             capture_output=True, text=True, timeout=20).stdout
        return out.count('("vistrel" "Vistrel")')

    def test_runs_on_xwayland_when_there_is_one(self):
        env = dict(self.env, DISPLAY=self.x_display)
        code, output, windows = self.run_program(env, self.x_windows)
        self.assertEqual(code, 0, output)
        self.assertGreater(windows, 0, "no window of the program on XWayland")

    def test_runs_natively_without_xwayland_or_when_it_is_gone(self):
        for display in (None, ":99"):
            with self.subTest(display=display):
                env = dict(self.env)
                if display:
                    env["DISPLAY"] = display
                code, output, windows = self.run_program(env, self.x_windows)
                self.assertEqual(code, 0, output)
                self.assertEqual(windows, 0, "the program went to XWayland")

    def test_a_platform_the_user_chose_is_kept(self):
        env = dict(self.env, DISPLAY=self.x_display, QT_QPA_PLATFORM="wayland")
        code, output, windows = self.run_program(env, self.x_windows)
        self.assertEqual(code, 0, output)
        self.assertEqual(windows, 0, "the user's choice of Wayland was not kept")


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
