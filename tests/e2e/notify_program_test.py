#!/usr/bin/env python3
"""Runs the real program under Xvfb with messages about episodes going to an
ntfy-like HTTP server of the test's own on loopback: the first picture of an
episode arrives as it is on disk, a server that never answers holds no close,
and what could not be delivered goes after the next start."""

import email.header
import os
import signal
import socket
import stat
import subprocess
import sys
import threading
import time
import unittest
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import run_program_test  # noqa: E402
from run_program_test import ProgramFolders, Xvfb, wait_for  # noqa: E402

TOKEN = "tk_secret_never_shown"


def message_text(headers):
    """The Message header, decoded from its RFC 2047 form."""
    parts = email.header.decode_header(headers.get("Message", ""))
    return "".join(p.decode(c or "ascii") if isinstance(p, bytes) else p for p, c in parts)


class Recording_Server:
    """Records every PUT: path, headers and body. Answers `status`."""

    def __init__(self, status=200):
        received = self.received = []
        lock = self.lock = threading.Lock()

        class Handler(BaseHTTPRequestHandler):
            def do_PUT(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                with lock:
                    received.append((self.path, dict(self.headers), body))
                self.send_response(status)
                self.end_headers()
                self.wfile.write(b'{"id":"x"}\n')

            def log_message(self, *args):
                pass

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def requests(self):
        with self.lock:
            return list(self.received)

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Notifications(ProgramFolders):

    def notify_ini(self, port):
        text = ("[notify]\nCooldown_s=60\nOn_End=0\n[ntfy]\nEnabled=1\n"
                f"Server=http://127.0.0.1:{port}\nTopic=vistrel_test_topic\nToken={TOKEN}\n")
        (self.data / "notify.ini").write_text(text)

    def start(self, display):
        self.write_settings(["[string]", f"DED_Dest_Folder={self.pictures}",
                             "[integer]", "RBT_Rec_Launch=1", "EDT_Timer_Refresh=200"])
        env = dict(self.env, DISPLAY=display)
        return subprocess.Popen([run_program_test.PROGRAM], env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)

    def stop(self, program):
        started = time.monotonic()
        program.send_signal(signal.SIGTERM)
        try:
            output, _ = program.communicate(timeout=15)
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()
        return time.monotonic() - started, output.decode(errors="replace")

    def test_the_first_picture_of_an_episode_arrives_as_it_is_on_disk(self):
        server = Recording_Server()
        try:
            self.notify_ini(server.port)
            with Xvfb() as x:
                program = self.start(x.display)
                arrived = wait_for(lambda: server.requests(), 30)
                time.sleep(1.0)  # a second message would come now, within the cooldown
                took, output = self.stop(program)
            self.assertTrue(arrived, "no message:\n" + output)
            self.assertEqual(program.returncode, 0, output)
            self.assertNotIn(TOKEN, output)
            requests = server.requests()
            self.assertEqual(len(requests), 1, "one message per episode")
            path, headers, body = requests[0]
            self.assertEqual(path, "/vistrel_test_topic")
            self.assertEqual(headers.get("Authorization"), "Bearer " + TOKEN)
            name = headers.get("Filename")
            self.assertRegex(name, r"^I_\d\d_\d\d_\d\d__00001\.jpg$")
            first = [p for p in self.pictures.rglob(name)]
            self.assertEqual(len(first), 1)
            self.assertEqual(body, first[0].read_bytes())
            self.assertEqual(first[0].parent.name, "R0001")
            self.assertRegex(message_text(headers),
                             r"^Recording at \d\d:\d\d:\d\d — RIDEV_\d{4}_\d\d_\d\d/R0001$")
        finally:
            server.close()

    def test_a_server_that_never_answers_holds_no_close_and_its_message_goes_after_a_restart(self):
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(8)
        try:
            self.notify_ini(listener.getsockname()[1])
            with Xvfb() as x:
                program = self.start(x.display)
                recorded = wait_for(lambda: list(self.pictures.rglob("*.jpg")), 30)
                # The connection is taken and never answered.
                time.sleep(1.5)
                took, output = self.stop(program)
            self.assertTrue(recorded, output)
            self.assertEqual(program.returncode, 0, output)
            self.assertLess(took, 2.0, output)
            self.assertNotIn(TOKEN, output)
        finally:
            listener.close()
        queue = self.data / "notify_queue"
        self.assertTrue(queue.exists(), "the message was not kept")
        self.assertEqual(stat.S_IMODE(queue.stat().st_mode), 0o600)
        self.assertEqual(stat.S_IMODE((self.data / "notify.ini").stat().st_mode) & 0o077, 0,
                         "notify.ini readable by others")
        kept = queue.read_text()
        self.assertIn("R0001", kept)

        # Started again with the server back: the kept message goes first,
        # then the new episode's.
        server = Recording_Server()
        try:
            self.notify_ini(server.port)
            with Xvfb() as x:
                program = self.start(x.display)
                arrived = wait_for(lambda: len(server.requests()) >= 2, 30)
                took, output = self.stop(program)
            self.assertTrue(arrived, output)
            self.assertEqual(program.returncode, 0, output)
            texts = [message_text(headers) for _, headers, _ in server.requests()]
            self.assertIn("/R0001", texts[0])
            self.assertIn("/R0002", texts[1])
            self.assertEqual(queue.read_text(), "", "delivered messages leave the queue")
        finally:
            server.close()


if __name__ == "__main__":
    run_program_test.PROGRAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
