#!/usr/bin/env python3
"""Vistrel and Debian's Motion side by side on the same work: one live camera
stream, served as MJPEG over loopback HTTP, read by both programs at the same
time; motion detected five times a second and every picture with motion
saved, with the date and time on it; then the same armed on a scene that
never triggers (the calm case). Prints, for each round, the CPU and peak
memory of each program and their ratio, then the median ratio and its spread,
and Vistrel's CPU against the floor of its own work (the bare steps of its
ticks at 5 Hz, from the tick benchmark of the same run) when given.

    bench/motion_compare.py build/vistrel [--seconds N] [--rounds N]
        [--size WIDTH HEIGHT FPS] [--floor-recording-us N] [--floor-calm-us N]

Both programs run at once and are measured over the same seconds, so a shared
machine whose speed drifts slows both alike (measured one after the other,
the same code gave ratios from 0.66 to 1.59). Each round swaps which program
starts first, so that neither always has the stream and the caches to itself
for its first moments.

The frames are made by a separate GStreamer process and handed out by a
small relay in this script, so neither program pays for drawing them.
"""

import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

from program_cpu import Xvfb, cpu_seconds, free_port, peak_rss_mb, wait_for_port

# Start-up (connecting to the stream, the first window) is left out of the
# figures.
WARM_UP_SECONDS = 5

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


def vistrel_run(program, relay, root, width, height, fps, display, calm):
    """The command, environment and picture folder of a Vistrel armed for
    motion at launch with the default threshold, sampling every 200 ms, the
    stamp on, pictures at 640 x 480. Calm: a threshold no measure reaches, so
    nothing is ever recorded."""
    root = root / "vistrel"
    data = root / "data" / "_data_Vistrel"
    data.mkdir(parents=True)
    pictures = root / "vistrel-pictures"
    threshold = "EDT_Seuil_Detect=101\r\n" if calm else ""
    (data / "datas.ini").write_bytes(
        f"[string]\r\nDED_Dest_Folder={pictures}\r\n"
        "[integer]\r\nRBT_Rec_Launch=2\r\nEDT_Timer_Refresh=200\r\nEDT_Delay_Avant_Rec=0\r\n"
        f"CKB_Add_Time_Date=1\r\nCBX_JPEG_Size=0\r\n{threshold}".encode())
    env = dict(os.environ, DISPLAY=display, HOME=str(root), XDG_DATA_HOME=str(root / "data"),
               XDG_RUNTIME_DIR=str(root), VISTREL_WEB_BASE="http://127.0.0.1:9",
               VISTREL_CAMERA=f"souphttpsrc location={relay.url()} is-live=true ! "
                              f"multipartdemux ! image/jpeg,width={width},height={height},"
                              f"framerate={fps}/1")
    return [program], env, pictures


def motion_run(motion, relay, root, width, height, calm):
    """The same for Motion: five frames a second, a picture of every frame
    with motion, the date and time on it (Motion's default text), no movies,
    no web servers. The test pattern's ball is small: with the default
    threshold Motion soon stops seeing it and saves nothing more."""
    root = root / "motion"
    root.mkdir(parents=True)
    pictures = root / "motion-pictures"
    pictures.mkdir()
    config = root / "motion.conf"
    config.write_text("\n".join([
        "daemon off", "setup_mode off", "log_level 3", f"log_file {root / 'motion.log'}",
        f"target_dir {pictures}", f"netcam_url {relay.url()}",
        f"width {width}", f"height {height}", "framerate 5",
        # Calm: more changed pixels than the frame has, so nothing triggers.
        f"threshold {int(width) * int(height) + 1 if calm else 300}", "event_gap 60", "pre_capture 0", "post_capture 0",
        "picture_output on", "picture_type jpeg", "picture_quality 80",
        "movie_output off", "stream_port 0", "webcontrol_port 0",
        f"pid_file {root / 'motion.pid'}", ""]))
    return [motion, "-n", "-c", str(config)], dict(os.environ), pictures


def stop(process):
    if process.poll() is None:
        process.terminate()
    try:
        process.wait(timeout=15)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def measure_together(runs, seconds):
    """Starts the programs in the order given, and once all have settled
    measures each one's CPU over the same `seconds`. Returns, by name, CPU
    seconds, wall seconds and peak memory in MB."""
    started = {}

    def check_running(when):
        for name, process in started.items():
            if process.poll() is not None:
                raise RuntimeError(f"{name} ended {when} with {process.returncode}")

    try:
        for name, command, env in runs:
            started[name] = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                             stderr=subprocess.DEVNULL)
        time.sleep(WARM_UP_SECONDS)
        check_running("at start-up")
        start_cpu = {name: cpu_seconds(p.pid) for name, p in started.items()}
        start = time.monotonic()
        time.sleep(seconds)
        check_running("during the measure")
        end_cpu = {name: cpu_seconds(p.pid) for name, p in started.items()}
        elapsed = time.monotonic() - start
        return {name: (end_cpu[name] - start_cpu[name], elapsed, peak_rss_mb(p.pid))
                for name, p in started.items()}
    finally:
        for process in started.values():
            stop(process)


def run_round(args, motion, relay, root, vistrel_first, calm):
    """Both programs on the stream at once; by name, (CPU share of one core,
    peak memory in MB, pictures saved)."""
    with Xvfb() as x:
        vistrel_command, vistrel_env, vistrel_pictures = vistrel_run(
            args.program, relay, root, *args.size, x.display, calm)
        motion_command, motion_env, motion_pictures = motion_run(
            motion, relay, root, *args.size[:2], calm)
        runs = [("Vistrel", vistrel_command, vistrel_env), ("Motion", motion_command, motion_env)]
        measured = measure_together(runs if vistrel_first else runs[::-1], args.seconds)
    pictures = {"Vistrel": count_pictures(vistrel_pictures),
                "Motion": count_pictures(motion_pictures)}
    return {name: (used / elapsed, peak, pictures[name])
            for name, (used, elapsed, peak) in measured.items()}


def describe(name, share, peak, pictures):
    return (f"{name} {100 * share:5.2f} % ({60 * share:4.2f} CPU s/min, "
            f"{peak:5.1f} MB, {pictures} pictures)")


def summarize(title, rounds, floor_us):
    print(title)
    for number, (first, result) in enumerate(rounds, 1):
        ratio = (f"{result['Vistrel'][0] / result['Motion'][0]:.2f}"
                 if result["Motion"][0] > 0 else "-")
        print(f"  round {number}, {first} first: {describe('Vistrel', *result['Vistrel'])}; "
              f"{describe('Motion', *result['Motion'])}; ratio {ratio}")
    ours = [result["Vistrel"][0] for _, result in rounds]
    theirs = [result["Motion"][0] for _, result in rounds]
    ratios = [v / m for v, m in zip(ours, theirs) if m > 0]
    if ratios:
        print(f"Vistrel / Motion CPU: median {statistics.median(ratios):.2f}, "
              f"{min(ratios):.2f} to {max(ratios):.2f} over {len(ratios)} rounds "
              f"(goal: 0.50 or less)")
    print(f"CPU, median of the rounds: Vistrel {100 * statistics.median(ours):.2f} %, "
          f"Motion {100 * statistics.median(theirs):.2f} % of one core")
    if floor_us:
        # The floor's steps once per 200 ms tick.
        floor = floor_us * 5 / 1e6
        print(f"Vistrel / its floor ({floor_us:.0f} µs a tick at 5 Hz = {100 * floor:.2f} % "
              f"of one core): median {statistics.median(ours) / floor:.2f}, "
              f"{min(ours) / floor:.2f} to {max(ours) / floor:.2f} (goal: 1.50 or less)")
    peaks = [result["Vistrel"][1] for _, result in rounds]
    print(f"Vistrel peak memory: {max(peaks):.1f} MB at most (goal: 67 MB or less)")


def positive(kind):
    def parse(text):
        value = kind(text)
        if value <= 0:
            raise argparse.ArgumentTypeError(f"{text} is not above zero")
        return value
    return parse


def main():
    parser = argparse.ArgumentParser(description="Vistrel's CPU beside Motion's on one stream.")
    parser.add_argument("program", help="the Vistrel program to measure, e.g. build/vistrel")
    parser.add_argument("--seconds", type=positive(float), default=60,
                        help=f"length of each measure, after {WARM_UP_SECONDS} s of start-up "
                             "(default 60)")
    parser.add_argument("--rounds", type=positive(int), default=3,
                        help="rounds of each case, alternating which program starts first "
                             "(default 3)")
    parser.add_argument("--size", nargs=3, metavar=("WIDTH", "HEIGHT", "FPS"),
                        default=["1280", "720", "30"], help="the camera stream (default 1280 720 30)")
    parser.add_argument("--floor-recording-us", type=float)
    parser.add_argument("--floor-calm-us", type=float)
    args = parser.parse_args()
    motion = shutil.which("motion")
    if not motion:
        sys.exit("Motion is not installed (apt-get install motion; scripts/bench installs it)")

    cases = (("recording", False), ("calm", True))
    rounds = {case: [] for case, _ in cases}
    relay = MjpegRelay(*args.size)
    try:
        with tempfile.TemporaryDirectory(prefix="vistrel-vs-motion-") as tmp:
            for number in range(1, args.rounds + 1):
                vistrel_first = number % 2 == 1
                first = "Vistrel" if vistrel_first else "Motion"
                for case, calm in cases:
                    root = Path(tmp) / f"round-{number}-{case}"
                    result = run_round(args, motion, relay, root, vistrel_first, calm)
                    rounds[case].append((first, result))
                    # A whole run takes minutes: say how far it is.
                    print(f"round {number} of {args.rounds}, {case}, {first} first: done",
                          file=sys.stderr, flush=True)
    finally:
        relay.close()
    width, height, fps = args.size
    print(f"source {width}x{height} at {fps} fps over loopback HTTP; both programs at once, "
          f"{args.rounds} rounds of {args.seconds:.0f} s")
    summarize("Detecting at 5 fps, saving pictures:", rounds["recording"],
              args.floor_recording_us)
    print()
    summarize("Armed, calm scene (nothing saved):", rounds["calm"], args.floor_calm_us)


if __name__ == "__main__":
    main()
