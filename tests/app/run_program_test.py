#!/usr/bin/env python3
"""Runs the real program under Xvfb with a GStreamer test source and checks
what it leaves on disk after being asked to stop by a signal."""

import datetime
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

PROGRAM = None
CAMERA = ("videotestsrc pattern=ball is-live=true ! "
          "video/x-raw,width=640,height=480,framerate=30/1")


class Xvfb:
    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as reader:
            self.display = ":" + reader.readline().strip()
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait(timeout=10)


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return condition()


class ProgramFolders(unittest.TestCase):
    """A data folder, a picture folder and an environment of their own for
    each test, so that the program never touches the user's."""

    camera = CAMERA

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="vistrel-run-")
        root = Path(self.tmp.name)
        self.data = root / "data" / "_data_Vistrel"
        self.pictures = root / "pictures"
        self.data.mkdir(parents=True)
        self.env = dict(os.environ, HOME=str(root / "home"), XDG_DATA_HOME=str(root / "data"),
                        XDG_CONFIG_HOME=str(root / "config"), XDG_RUNTIME_DIR=str(root),
                        VISTREL_CAMERA=self.camera, VISTREL_WEB_BASE="http://127.0.0.1:9",
                        QT_QPA_PLATFORM="xcb")
        self.env.pop("VISTREL_DONATION_URL", None)

    def tearDown(self):
        self.tmp.cleanup()

    def write_settings(self, lines):
        (self.data / "datas.ini").write_bytes(("\r\n".join(lines) + "\r\n").encode())


class ProgramRun(ProgramFolders):

    def run_until_pictures(self, display, count, stop_signal):
        env = dict(self.env, DISPLAY=display)
        before = len(list(self.pictures.rglob("*.jpg")))
        program = subprocess.Popen([PROGRAM], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            found = wait_for(lambda: len(list(self.pictures.rglob("*.jpg"))) >= before + count, 30)
            program.send_signal(stop_signal)
            output, _ = program.communicate(timeout=15)
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()
        return found, program.returncode, output.decode(errors="replace")

    def test_records_at_launch_and_ends_cleanly_on_a_signal(self):
        self.write_settings(["[string]", f"DED_Dest_Folder={self.pictures}",
                             "[integer]", "RBT_Rec_Launch=1", "CKB_Add_Time_Date=1",
                             "EDT_Timer_Refresh=100"])
        for stop_signal in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=stop_signal.name), Xvfb() as x:
                found, code, output = self.run_until_pictures(x.display, 3, stop_signal)
                self.assertTrue(found, "no pictures recorded:\n" + output)
                self.assertEqual(code, 0, output)

        today = datetime.date.today().strftime("RIDEV_%Y_%m_%d")
        episodes = sorted(p.name for p in (self.pictures / today).iterdir())
        # Each run starts a new continuous episode after the ones on disk.
        self.assertEqual(episodes, ["R0001", "R0002"])
        for picture in self.pictures.rglob("*.jpg"):
            data = picture.read_bytes()
            self.assertTrue(data.startswith(b"\xff\xd8") and data.endswith(b"\xff\xd9"), picture)
            self.assertRegex(picture.name, r"^I_\d\d_\d\d_\d\d__\d{5}\.jpg$")
        leftovers = [p for p in self.pictures.rglob("*") if p.is_file() and p.suffix != ".jpg"]
        self.assertEqual(leftovers, [])

        settings = (self.data / "datas.ini").read_bytes().decode()
        self.assertNotIn("\n", settings.replace("\r\n", ""))
        for line in ("RBT_Rec_Launch=1", "CKB_Add_Time_Date=1", "EDT_Timer_Refresh=100",
                     "EDT_Nb_Max_File=30000", f"DED_Dest_Folder={self.pictures}"):
            self.assertIn(line + "\r\n", settings)
        placement = (self.data / "appli.ini").read_text()
        self.assertRegex(placement, r"\[Common\]\r?\nF_Main=200,\d+,[123],-?\d+,-?\d+,-?\d+,-?\d+")


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
