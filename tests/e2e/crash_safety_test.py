#!/usr/bin/env python3
"""Kills the real program with SIGKILL again and again while it records, at
random moments (during start-up, while recording, and while it saves its
settings on the way out), and checks what it leaves on disk: every picture is
a whole JPEG, and the settings file is always the whole file.

Usage: crash_safety_test.py PROGRAM JPEG_CHECK [ROUNDS]
"""

import os
import random
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from run_program_test import (ProgramFolders, Xvfb, queued_pictures,  # noqa: E402
                              start_ftp_server, unused_port, wait_for)

PROGRAM = None
JPEG_CHECK = None
ROUNDS = 12
CAMERA = ("videotestsrc pattern=ball is-live=true ! "
          "video/x-raw,width=1280,height=720,framerate=30/1")


class CrashSafety(ProgramFolders):
    camera = CAMERA

    def setUp(self):
        super().setUp()
        # Uploading to a server that is not there: every picture stays queued.
        self.write_settings(["[string]", f"DED_Dest_Folder={self.pictures}",
                             f"EDT_FTP_Server_Name=127.0.0.1:{unused_port()}", "[integer]",
                             "RBT_Rec_Launch=1", "CKB_Add_Time_Date=1", "EDT_Timer_Refresh=50",
                             "CKB_Use_FTP=1"])

    def pictures_on_disk(self):
        return list(self.pictures.rglob("*.jpg"))

    def start(self, display):
        return subprocess.Popen([PROGRAM], env=dict(self.env, DISPLAY=display),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def check_pictures(self):
        pictures = [str(p) for p in self.pictures_on_disk()]
        if not pictures:
            return
        check = subprocess.run([JPEG_CHECK, *pictures], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, "pictures cut short:\n" + check.stdout)

    def check_queue(self, missing_before):
        """Every picture on disk is in the upload queue, in recording order,
        but the one a kill may have caught between writing it and queueing
        it: at most one more after each kill, and the newest. Gives the
        pictures missing so far."""
        queued = queued_pictures(self.data / "upload_queue")

        def recording_order(path):
            p = Path(path)
            return (p.parent.parent.name, p.parent.name, p.name.split("__")[-1])
        self.assertEqual(queued, sorted(queued, key=recording_order))
        on_disk = sorted((str(p) for p in self.pictures_on_disk()), key=recording_order)
        missing = set(on_disk) - set(queued)
        new = missing - missing_before
        self.assertLessEqual(len(new), 1, f"not queued: {sorted(new)}")
        if new:
            self.assertEqual(new, {on_disk[-1]}, "only the newest may be missing")
        self.assertFalse(set(queued) - set(on_disk), "queued pictures that are not there")
        return missing

    def kill_rounds(self, display, rounds, rng, seed):
        """Starts the program and kills it, `rounds` times, at moments of
        each kind in turn; yields after each kill, inside its subtest."""
        kinds = ["start-up", "recording", "closing"]
        for round_number in range(rounds):
            kind = kinds[round_number % len(kinds)]
            with self.subTest(round=round_number, moment=kind, seed=seed):
                before = len(self.pictures_on_disk())
                program = self.start(display)
                try:
                    if kind == "start-up":
                        time.sleep(rng.uniform(0.0, 1.0))
                    else:
                        self.assertTrue(
                            wait_for(lambda: len(self.pictures_on_disk()) > before, 30),
                            "the program recorded nothing")
                        time.sleep(rng.uniform(0.0, 0.6))
                        if kind == "closing":
                            # The settings are written on the way out.
                            program.send_signal(signal.SIGTERM)
                            time.sleep(rng.uniform(0.0, 0.05))
                    program.kill()
                finally:
                    program.kill()  # also when a check above failed
                    program.wait(timeout=15)
                yield kind

    def test_sigkill_while_uploading_loses_no_picture(self):
        """With a server that takes the pictures, the queue file is written,
        finished and rewritten as it goes: a kill at any of those moments
        leaves every picture either sent or still queued."""
        seed = int(os.environ.get("VISTREL_CRASH_SEED", time.time_ns() % 1000000007))
        print(f"\nVISTREL_CRASH_SEED={seed}", file=sys.stderr)
        rng = random.Random(seed)
        home = Path(self.tmp.name) / "server"
        home.mkdir()
        server, port = start_ftp_server(home, "cam", "pw")
        try:
            self.write_settings(["[string]", f"DED_Dest_Folder={self.pictures}",
                                 f"EDT_FTP_Server_Name=127.0.0.1:{port}", "EDT_FTP_Login=cam",
                                 "EDT_FTP_Password=pw", "[integer]", "RBT_Rec_Launch=1",
                                 "EDT_Timer_Refresh=50", "CKB_Use_FTP=1"])
            missing = set()
            with Xvfb() as x:
                for _ in self.kill_rounds(x.display, ROUNDS, rng, seed):
                    queue = self.data / "upload_queue"
                    queued = set(queued_pictures(queue))
                    on_disk = sorted(self.pictures_on_disk(),
                                     key=lambda p: (p.parent.name, p.name.split("__")[-1]))
                    sent = set()
                    for picture in on_disk:
                        remote = home / f"{picture.parent.parent.name}_{picture.parent.name}" / \
                            picture.name
                        if remote.exists() and remote.read_bytes() == picture.read_bytes():
                            sent.add(str(picture))
                    lost = {str(p) for p in on_disk} - queued - sent - missing
                    self.assertLessEqual(len(lost), 1, f"neither sent nor queued: {sorted(lost)}")
                    if lost:
                        self.assertEqual(lost, {str(on_disk[-1])}, "only the newest may be")
                    missing |= lost
                    # Rewritten as pictures go: about the backlog, not the history.
                    lines = queue.read_bytes().count(b"\n") if queue.exists() else 0
                    self.assertLessEqual(lines, 2 * len(queued) + 64 + 150)
            print(f"\n{len(self.pictures_on_disk())} pictures, "
                  f"{len(queued_pictures(self.data / 'upload_queue'))} still queued",
                  file=sys.stderr)
        finally:
            server.kill()
            server.wait()

    def test_sigkill_at_random_moments_leaves_whole_pictures_and_settings(self):
        seed = int(os.environ.get("VISTREL_CRASH_SEED", time.time_ns() % 1000000007))
        # VISTREL_CRASH_SEED replays the same kill moments.
        print(f"\nVISTREL_CRASH_SEED={seed}", file=sys.stderr)
        rng = random.Random(seed)
        with Xvfb() as x:
            # A clean run first: the settings file as the program saves it.
            program = self.start(x.display)
            try:
                self.assertTrue(wait_for(lambda: len(self.pictures_on_disk()) >= 2, 30),
                                "the program recorded nothing")
                program.send_signal(signal.SIGTERM)
                self.assertEqual(program.wait(timeout=15), 0)
            finally:
                program.kill()
                program.wait(timeout=15)
            saved = (self.data / "datas.ini").read_bytes()
            self.assertIn(b"EDT_Timer_Refresh=50\r\n", saved)

            missing = set()
            for kind in self.kill_rounds(x.display, ROUNDS, rng, seed):
                self.check_pictures()
                missing = self.check_queue(missing)
                # Either the old file or the new one, never a part of one.
                self.assertEqual((self.data / "datas.ini").read_bytes(), saved)

        print(f"\n{len(self.pictures_on_disk())} pictures after {ROUNDS} kills; "
              f"temporary files left by kills mid-write: "
              f"{sum(1 for p in self.pictures.rglob('*.jpg.vistrel-tmp-*'))}, "
              f"{sum(1 for p in self.data.glob('*.ini.vistrel-tmp-*'))} in the data folder",
              file=sys.stderr)


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    JPEG_CHECK = sys.argv.pop(1)
    if len(sys.argv) > 1 and sys.argv[1].isdigit():
        ROUNDS = int(sys.argv.pop(1))
    unittest.main(verbosity=2)
