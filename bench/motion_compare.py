#!/usr/bin/env python3
"""Vistrel and Debian's Motion side by side on the same work: one live camera
stream, served as MJPEG over loopback HTTP, read by each program in turn;
motion detected five times a second and every picture with motion saved, with
the date and time on it; then the same armed on a scene that never triggers
(the calm case). Prints the CPU and peak memory of each program, their ratio,
and Vistrel's CPU against the floor of its own work (the bare steps of its
ticks at 5 Hz, from the tick benchmark of the same run) when given.

    bench/motion_compare.py build/vistrel [seconds] [width height fps]
        [--floor-recording-us N] [--floor-calm-us N]

The frames are made by a separate GStreamer process and handed out by a
small relay in this script, so neither program pays for drawing them.
"""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

from program_cpu import Xvfb, free_port, measure, wait_for_port

BOUNDARY = b"vistrelframe"


class MjpegRelay:
    """Reads the multipart JPEG stream of a GStreamer process over TCP and
    serves the newest frame to every HTTP client, as network cameras do."""

    def __init__(self, width, height, fps):
        self.frame = None
        self.sequence = 0
        self.changed = threading.Condition()
        self.running = True
        port = free_port()
        caps = f"video/x-raw,width={width},height={height},framerate={fps}/1"
        self.camera = subprocess.Popen(
            ["gst-launch-1.0", "-q", "videotestsrc", "pattern=ball", "is-live=true", "!", caps, "!",
             "jpegenc", "quality=85", "!", "multipartmux", f"boundary={BOUNDARY.decode()}", "!",
             "tcpserversink", "host=127.0.0.1", f"port={port}", "sync=false"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for_port(port)
        self.source = socket.create_connection(("127.0.0.1", port))
        threading.Thread(target=self._read, daemon=True).start()

        relay = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def log_message(self, *args):
                pass

            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type",
                                 "multipart/x-mixed-replace; boundary=" + BOUNDARY.decode())
                self.send_header("Cache-Control", "no-cache")
                self.end_headers()
                seen = 0
                try:
                    while relay.running:
                        with relay.changed:
                            relay.changed.wait_for(lambda: relay.sequence != seen, timeout=1)
                            frame, seen = relay.frame, relay.sequence
                        if frame is None:
                            continue
                        self.wfile.write(b"--" + BOUNDARY + b"\r\nContent-Type: image/jpeg\r\n" +
                                         f"Content-Length: {len(frame)}\r\n\r\n".encode() +
                                         frame + b"\r\n")
                except (BrokenPipeError, ConnectionResetError):
                    pass

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def url(self):
        return f"http://127.0.0.1:{self.port}/"

    def _read(self):
        reader = self.source.makefile("rb")
        while self.running:
            line = reader.readline()
            if not line:
                return
            if not line.startswith(b"--" + BOUNDARY):
                continue
            length = None
            while True:
                header = reader.readline().strip()
                if not header:
                    break
                name, _, value = header.partition(b":")
                if name.strip().lower() == b"content-length":
                    length = int(value)
            if length is None:
                continue
            frame = reader.read(length)
            with self.changed:
                self.frame = frame
                self.sequence += 1
                self.changed.notify_all()

    def close(self):
        self.running = False
        self.server.shutdown()
        self.source.close()
        self.camera.terminate()
        self.camera.wait()


def count_pictures(folder):
    return sum(1 for _ in Path(folder).rglob("*.jpg"))


def run_vistrel(program, relay, root, seconds, width, height, fps, calm=False):
    root = root / ("vistrel-calm" if calm else "vistrel")
    data = root / "data" / "_data_Vistrel"
    data.mkdir(parents=True)
    pictures = root / "vistrel-pictures"
    # Armed for motion at launch, the default threshold, sampling every
    # 200 ms, the stamp on, pictures at 640 x 480. Calm: a threshold no
    # measure reaches, so nothing is ever recorded.
    threshold = "EDT_Seuil_Detect=101\r\n" if calm else ""
    (data / "datas.ini").write_bytes(
        f"[string]\r\nDED_Dest_Folder={pictures}\r\n"
        "[integer]\r\nRBT_Rec_Launch=2\r\nEDT_Timer_Refresh=200\r\nEDT_Delay_Avant_Rec=0\r\n"
        f"CKB_Add_Time_Date=1\r\nCBX_JPEG_Size=0\r\n{threshold}".encode())
    with Xvfb() as x:
        env = dict(os.environ, DISPLAY=x.display, HOME=str(root), XDG_DATA_HOME=str(root / "data"),
                   XDG_RUNTIME_DIR=str(root), VISTREL_WEB_BASE="http://127.0.0.1:9",
                   VISTREL_CAMERA=f"souphttpsrc location={relay.url()} is-live=true ! "
                                  f"multipartdemux ! image/jpeg,width={width},height={height},"
                                  f"framerate={fps}/1")
        result = measure([program], env, seconds)
    return result, count_pictures(pictures)


def run_motion(relay, root, seconds, width, height, calm=False):
    root = root / ("motion-calm" if calm else "motion")
    root.mkdir()
    pictures = root / "motion-pictures"
    pictures.mkdir()
    config = root / "motion.conf"
    # Five frames a second, a picture of every frame with motion, the date
    # and time on it (Motion's default text), no movies, no web servers. The
    # test pattern's ball is small: with the default threshold Motion soon
    # stops seeing it and saves nothing more.
    config.write_text("\n".join([
        "daemon off", "setup_mode off", "log_level 3", f"log_file {root / 'motion.log'}",
        f"target_dir {pictures}", f"netcam_url {relay.url()}",
        f"width {width}", f"height {height}", "framerate 5",
        # Calm: more changed pixels than the frame has, so nothing triggers.
        f"threshold {int(width) * int(height) + 1 if calm else 300}", "event_gap 60", "pre_capture 0", "post_capture 0",
        "picture_output on", "picture_type jpeg", "picture_quality 80",
        "movie_output off", "stream_port 0", "webcontrol_port 0",
        f"pid_file {root / 'motion.pid'}", ""]))
    result = measure([shutil.which("motion") or "/usr/bin/motion", "-n", "-c", str(config)],
                     dict(os.environ), seconds)
    return result, count_pictures(pictures)


def report(name, result, pictures):
    used, elapsed, peak = result
    print(f"{name:8} CPU {100 * used / elapsed:6.2f} % of one core "
          f"({60 * used / elapsed:5.2f} CPU s/min), peak memory {peak:6.1f} MB, "
          f"{pictures} pictures")
    return used / elapsed


def take_option(args, name):
    if name not in args:
        return None
    at = args.index(name)
    value = float(args[at + 1])
    del args[at:at + 2]
    return value


def compare(title, vistrel, motion, floor_us):
    print(title)
    ours = report("Vistrel", *vistrel)
    theirs = report("Motion", *motion)
    if theirs > 0:
        print(f"Vistrel / Motion CPU: {ours / theirs:.2f} (goal: 0.50 or less)")
    if floor_us:
        # The floor's steps once per 200 ms tick.
        floor = floor_us * 5 / 1e6
        print(f"Vistrel / its floor ({floor_us:.0f} µs a tick at 5 Hz = {100 * floor:.2f} % "
              f"of one core): {ours / floor:.2f} (goal: 1.50 or less)")
    print(f"Vistrel peak memory: {vistrel[0][2]:.1f} MB (goal: 67 MB or less)")


def main():
    args = sys.argv[1:]
    floor_recording = take_option(args, "--floor-recording-us")
    floor_calm = take_option(args, "--floor-calm-us")
    program = args[0]
    seconds = float(args[1]) if len(args) > 1 else 60
    width, height, fps = (args[2:5] if len(args) > 4 else ("1280", "720", "30"))
    relay = MjpegRelay(width, height, fps)
    try:
        with tempfile.TemporaryDirectory(prefix="vistrel-vs-motion-") as tmp:
            root = Path(tmp)
            vistrel = run_vistrel(program, relay, root, seconds, width, height, fps)
            motion = run_motion(relay, root, seconds, width, height)
            vistrel_calm = run_vistrel(program, relay, root, seconds, width, height, fps, calm=True)
            motion_calm = run_motion(relay, root, seconds, width, height, calm=True)
    finally:
        relay.close()
    print(f"source {width}x{height} at {fps} fps over loopback HTTP, {seconds:.0f} s each")
    compare("Detecting at 5 fps, saving pictures:", vistrel, motion, floor_recording)
    print()
    compare("Armed, calm scene (nothing saved):", vistrel_calm, motion_calm, floor_calm)


if __name__ == "__main__":
    main()
