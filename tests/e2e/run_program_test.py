#!/usr/bin/env python3
"""Runs the real program under Xvfb with a GStreamer test source and checks
what it leaves on disk after being asked to stop by a signal."""

import datetime
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
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

    def test_stop_requests_all_through_the_teardown_still_end_with_success(self):
        """Signals that keep coming while the program ends, after its event
        loop is gone, never turn the end into a failure."""
        self.write_settings(["[string]", f"DED_Dest_Folder={self.pictures}",
                             "[integer]", "RBT_Rec_Launch=1", "EDT_Timer_Refresh=100"])
        for stop_signal in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=stop_signal.name), Xvfb() as x:
                before = len(list(self.pictures.rglob("*.jpg")))
                program = subprocess.Popen([PROGRAM], env=dict(self.env, DISPLAY=x.display),
                                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                try:
                    self.assertTrue(wait_for(
                        lambda: len(list(self.pictures.rglob("*.jpg"))) > before, 30))
                    deadline = time.monotonic() + 5
                    while program.poll() is None and time.monotonic() < deadline:
                        try:
                            program.send_signal(stop_signal)
                        except ProcessLookupError:
                            break
                        time.sleep(0.002)
                    output, _ = program.communicate(timeout=15)
                finally:
                    if program.poll() is None:
                        program.kill()
                        program.wait()
                self.assertEqual(program.returncode, 0, output.decode(errors="replace"))


def fnv1a(data):
    value = 2166136261
    for byte in data:
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return value


def unescape(field):
    out, i = bytearray(), 0
    while i < len(field):
        if field[i:i + 1] == b"\\":
            out += {b"\\": b"\\", b"t": b"\t", b"n": b"\n", b"r": b"\r"}[field[i + 1:i + 2]]
            i += 2
        else:
            out += field[i:i + 1]
            i += 1
    return bytes(out)


def queued_pictures(path):
    """The local paths the upload queue file still holds, in their order; an
    independent reading of its records, checksums included."""
    appended, finished = {}, set()
    if not path.exists():
        return []
    for line in path.read_bytes().split(b"\n")[:-1]:
        parts = line.split(b" ", 3)
        if len(parts) < 3 or parts[0] not in (b"A", b"D"):
            continue
        signed = b" ".join(parts[:2] + parts[3:])
        if parts[2] != b"%08x" % fnv1a(signed):
            continue
        if parts[0] == b"A":
            appended[int(parts[1])] = unescape(parts[3].split(b"\t")[0]).decode()
        else:
            finished.add(int(parts[1]))
    return [appended[i] for i in sorted(appended) if i not in finished]


def start_ftp_server(home, user, password):
    """pyftpdlib serving `home` on a free loopback port: (process, port)."""
    server = subprocess.Popen(
        ["/usr/bin/python3", str(Path(__file__).resolve().parent.parent / "support" /
                                 "ftp_server.py"), str(home), user, password],
        stdout=subprocess.PIPE)
    line = server.stdout.readline()
    server.stdout.close()
    if not line.strip():
        server.kill()
        server.wait()
        raise RuntimeError("the FTP server did not start (is python3-pyftpdlib installed?)")
    return server, int(line)


def unused_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def full_listener():
    """A loopback listener whose accept queue is full: a connect to it waits
    as one to a host that drops every attempt does."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    fillers = []
    for _ in range(8):
        filler = socket.socket()
        filler.setblocking(False)
        try:
            filler.connect(listener.getsockname())
        except BlockingIOError:
            pass
        fillers.append(filler)
    time.sleep(0.05)
    return listener, fillers


class StallingFtpServer(threading.Thread):
    """Logs anybody in, makes any folder, and takes the data connection of a
    store without ever reading it."""

    def __init__(self):
        super().__init__(daemon=True)
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.stalling = threading.Event()
        self.held = []

    def run(self):
        try:
            control, _ = self.listener.accept()
        except OSError:
            return
        self.held.append(control)
        reader = control.makefile("rb")
        self.held.append(reader)
        control.sendall(b"220 ready\r\n")
        data_listener = None
        answers = {b"USER": b"331 password", b"PASS": b"230 in", b"FEAT": b"500 no",
                   b"TYPE": b"200 ok", b"PWD": b'257 "/" is current', b"CDUP": b"250 up",
                   b"MKD": b"257 made", b"CWD": b"250 in"}
        for line in reader:
            word = line.split()[0].upper() if line.split() else b""
            if word == b"PASV":
                data_listener = socket.socket()
                self.held.append(data_listener)
                # A small buffer, so that the server's side holds little; the
                # picture still fits the client's buffers, so what the client
                # waits for is the final reply.
                data_listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
                data_listener.bind(("127.0.0.1", 0))
                data_listener.listen(1)
                port = data_listener.getsockname()[1]
                control.sendall(b"227 Entering Passive Mode (127,0,0,1,%d,%d)\r\n"
                                % (port // 256, port % 256))
            elif word == b"LIST":
                control.sendall(b"150 listing\r\n")
                data, _ = data_listener.accept()
                data.close()
                data_listener.close()
                control.sendall(b"226 done\r\n")
            elif word == b"STOR":
                control.sendall(b"150 go ahead\r\n")
                data, _ = data_listener.accept()
                self.held.append(data)
                self.stalling.set()
            elif word in answers:
                control.sendall(answers[word] + b"\r\n")
            else:
                control.sendall(b"500 what\r\n")


class ProgramBacklog(ProgramFolders):
    """Pictures the server never got are sent after a restart."""

    def settings(self, server, record):
        self.write_settings(["[string]", f"DED_Dest_Folder={self.pictures}",
                             f"EDT_FTP_Server_Name={server}", "EDT_FTP_Login=cam",
                             "EDT_FTP_Password=s3cret pass", "[integer]",
                             f"RBT_Rec_Launch={1 if record else 0}", "CKB_Use_FTP=1",
                             "EDT_Timer_Refresh=100"])

    def test_pictures_not_sent_before_the_end_go_after_the_next_start(self):
        self.settings("127.0.0.1:%d" % unused_port(), record=True)
        with Xvfb() as x:
            env = dict(self.env, DISPLAY=x.display)
            program = subprocess.Popen([PROGRAM], env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            try:
                self.assertTrue(wait_for(lambda: len(list(self.pictures.rglob("*.jpg"))) >= 5,
                                         30), "nothing recorded")
                program.send_signal(signal.SIGTERM)
                self.assertEqual(program.wait(timeout=15), 0)
            finally:
                program.kill()
                program.wait()
            recorded = sorted(str(p) for p in self.pictures.rglob("*.jpg"))
            queue = self.data / "upload_queue"
            self.assertEqual(sorted(queued_pictures(queue)), recorded)
            self.assertEqual(queue.stat().st_mode & 0o777, 0o600)

            home = Path(self.tmp.name) / "server"
            home.mkdir()
            server, port = start_ftp_server(home, "cam", "s3cret pass")
            try:
                self.settings("127.0.0.1:%d" % port, record=False)
                program = subprocess.Popen([PROGRAM], env=env, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL)
                try:
                    arrived = lambda: sorted(p.name for p in home.rglob("*.jpg"))
                    names = sorted(Path(p).name for p in recorded)
                    self.assertTrue(wait_for(lambda: arrived() == names, 30),
                                    f"{len(arrived())} of {len(names)} arrived")
                    self.assertTrue(wait_for(lambda: queued_pictures(queue) == [], 10))
                    program.send_signal(signal.SIGTERM)
                    self.assertEqual(program.wait(timeout=15), 0)
                finally:
                    program.kill()
                    program.wait()
            finally:
                server.kill()
                server.wait()
            for local in recorded:
                remote = next(home.rglob(Path(local).name))
                self.assertEqual(Path(local).read_bytes(), remote.read_bytes(), local)


class ProgramClose(ProgramFolders):
    """Closing while the upload waits on a server that does not answer ends
    the program at once and cleanly."""

    def close_while_uploading(self, server, ready=None):
        self.write_settings(["[string]", f"DED_Dest_Folder={self.pictures}",
                             f"EDT_FTP_Server_Name={server}", "EDT_FTP_Login=cam",
                             "EDT_FTP_Password=pw", "[integer]", "RBT_Rec_Launch=1",
                             "CKB_Use_FTP=1", "EDT_Timer_Refresh=100"])
        with Xvfb() as x:
            program = subprocess.Popen([PROGRAM], env=dict(self.env, DISPLAY=x.display),
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            try:
                self.assertTrue(wait_for(lambda: any(self.pictures.rglob("*.jpg")), 30),
                                "nothing recorded")
                if ready is not None:
                    self.assertTrue(ready.wait(20), "the upload never got to its wait")
                time.sleep(5 if ready is None else 1)
                # Every save writes a new file in the old one's place.
                before = (self.data / "datas.ini").stat().st_ino
                start = time.monotonic()
                program.send_signal(signal.SIGTERM)
                output, _ = program.communicate(timeout=15)
                took = time.monotonic() - start
            finally:
                if program.poll() is None:
                    program.kill()
                    program.wait()
        text = output.decode(errors="replace")
        self.assertEqual(program.returncode, 0, text)
        self.assertLess(took, 2.0, text)
        self.assertNotIn("terminate called", text)
        self.assertNotEqual((self.data / "datas.ini").stat().st_ino, before, "settings not saved")
        self.assertIn(b"CKB_Use_FTP=1\r\n", (self.data / "datas.ini").read_bytes())
        self.assertRegex((self.data / "appli.ini").read_text(), r"F_Main=200,")

    def test_a_host_that_drops_connection_attempts(self):
        listener, fillers = full_listener()
        try:
            self.close_while_uploading("127.0.0.1:%d" % listener.getsockname()[1])
        finally:
            for s in fillers + [listener]:
                s.close()

    def test_a_server_that_never_answers(self):
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(8)
        try:
            self.close_while_uploading("127.0.0.1:%d" % listener.getsockname()[1])
        finally:
            listener.close()

    def test_a_server_that_stalls_the_store(self):
        server = StallingFtpServer()
        server.start()
        try:
            self.close_while_uploading("127.0.0.1:%d" % server.port, server.stalling)
        finally:
            server.listener.close()
            for s in server.held:
                s.close()


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
