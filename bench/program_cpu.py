#!/usr/bin/env python3
"""Process CPU and peak memory of the real program, armed for motion
recording, sampling a live camera-like source under Xvfb. The frames are made
by a separate GStreamer process and sent as MJPEG over loopback TCP, as many
USB and network cameras deliver them, so that only the program's own work is
counted.

    bench/program_cpu.py build/vistrel [seconds] [width height fps]
"""

import os
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])  # utime + stime
    return ticks / os.sysconf("SC_CLK_TCK")


def peak_rss_mb(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1]) / 1024
    return 0.0


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                return
        time.sleep(0.05)
    raise RuntimeError("the camera stream did not start")


class Xvfb:
    """A virtual display for as long as the block runs."""

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24"],
            pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as reader:
            self.display = ":" + reader.readline().strip()
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait()


def measure(command, env, seconds, warm_up=5):
    """CPU seconds and wall seconds a program uses over `seconds` after its
    start-up, and its peak memory in MB."""
    proc = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(warm_up)
        if proc.poll() is not None:
            raise RuntimeError(f"{command[0]} ended at start-up with {proc.returncode}")
        start_cpu, start = cpu_seconds(proc.pid), time.monotonic()
        time.sleep(seconds)
        used, elapsed = cpu_seconds(proc.pid) - start_cpu, time.monotonic() - start
        peak = peak_rss_mb(proc.pid)
    finally:
        proc.terminate()
        try:
            proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    return used, elapsed, peak


def main():
    program = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60
    width, height, fps = (sys.argv[3:6] if len(sys.argv) > 5 else ("1280", "720", "30"))
    with tempfile.TemporaryDirectory(prefix="vistrel-cpu-") as tmp:
        root = Path(tmp)
        data = root / "data" / "_data_Vistrel"
        data.mkdir(parents=True)
        # Armed at launch; a calm scene never triggers, so this is the cost of
        # watching: grab, show, measure.
        (data / "datas.ini").write_bytes(
            f"[string]\r\nDED_Dest_Folder={root / 'pictures'}\r\n"
            "[integer]\r\nRBT_Rec_Launch=2\r\nEDT_Seuil_Detect=101\r\n".encode())
        caps = f"video/x-raw,width={width},height={height},framerate={fps}/1"
        port = free_port()
        camera = subprocess.Popen(
            ["gst-launch-1.0", "-q", "videotestsrc", "pattern=ball", "is-live=true", "!", caps, "!",
             "jpegenc", "quality=85", "!", "multipartmux", "!", "tcpserversink", "host=127.0.0.1",
             f"port={port}", "sync=false"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_for_port(port)
            with Xvfb() as x:
                env = dict(os.environ, DISPLAY=x.display, HOME=str(root),
                           XDG_DATA_HOME=str(root / "data"), XDG_RUNTIME_DIR=tmp,
                           VISTREL_WEB_BASE="http://127.0.0.1:9",
                           VISTREL_CAMERA=f"tcpclientsrc host=127.0.0.1 port={port} ! "
                                          f"multipartdemux ! image/jpeg,width={width},"
                                          f"height={height},framerate={fps}/1")
                used, elapsed, peak = measure([program], env, seconds)
        finally:
            camera.terminate()
            camera.wait()
    print(f"source {width}x{height} at {fps} fps, sampling 200 ms, armed, {elapsed:.0f} s")
    print(f"CPU: {used:.2f} s = {100 * used / elapsed:.2f} % of one core "
          f"({60 * used / elapsed:.2f} CPU seconds per minute)")
    print(f"peak memory: {peak:.1f} MB")


if __name__ == "__main__":
    main()
