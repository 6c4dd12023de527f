#!/usr/bin/env python3
"""Takes docs/detection.png: the Detection dialog of the real program, over
a GStreamer test picture, with three areas drawn, under Xvfb.

    python3 scripts/lib/screenshot_detection.py [build/vistrel] [docs/detection.png]

Needs Xvfb and xdotool. Xvfb keeps its screen in an XWD file (-fbdir), read
here, so no screenshot tool is needed.
"""
import os
import struct
import subprocess
import sys
import tempfile
import time
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PROGRAM = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "vistrel"
OUTPUT = Path(sys.argv[2]) if len(sys.argv) > 2 else ROOT / "docs" / "detection.png"
CAMERA = ("videotestsrc pattern=ball is-live=true ! "
          "video/x-raw,width=640,height=480,framerate=5/1")
DETECTION_INI = """[detection]
Ignore_Light=0
Pre_Capture=5
[areas]
Area1=watch,4000,2500,5800,7000
Area2=ignore,500,5500,3000,4000
Area3=hide,500,500,2800,3000
"""


def wait_for(test, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = test()
        if found:
            return found
        time.sleep(0.2)
    return None


def xdotool(env, *args):
    done = subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else ""


def window_named(env, name):
    found = xdotool(env, "search", "--onlyvisible", "--name", name)
    return found.split()[0] if found else None


def geometry(env, window):
    values = dict(line.split("=") for line in
                  xdotool(env, "getwindowgeometry", "--shell", window).splitlines())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def read_xwd(path):
    """(width, height, rows of RGB bytes) of a 24 or 32 bit ZPixmap XWD file."""
    data = Path(path).read_bytes()
    header = struct.unpack(">25I", data[:100])
    header_size, width, height = header[0], header[4], header[5]
    byte_order, bits_per_pixel, bytes_per_line = header[7], header[11], header[12]
    ncolors = header[19]
    if bits_per_pixel != 32:
        raise SystemExit(f"an XWD of {bits_per_pixel} bits per pixel is not read here")
    start = header_size + 12 * ncolors
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + 4 * width]
        row = bytearray(3 * width)
        # LSB first: blue, green, red, pad.
        b, g, r = (0, 1, 2) if byte_order == 0 else (3, 2, 1)
        row[0::3], row[1::3], row[2::3] = line[r::4], line[g::4], line[b::4]
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, rows, width):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xffffffff))
    raw = b"".join(b"\x00" + row[:3 * width] for row in rows)
    png = (b"\x89PNG\r\n\x1a\n" +
           chunk(b"IHDR", struct.pack(">IIBBBBB", width, len(rows), 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    Path(path).write_bytes(png)


def main():
    with tempfile.TemporaryDirectory(prefix="vistrel-shot-") as tmp:
        root = Path(tmp)
        data = root / "data" / "_data_Vistrel"
        data.mkdir(parents=True)
        (data / "detection.ini").write_text(DETECTION_INI)
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
             "-fbdir", tmp, "-nolisten", "tcp"], pass_fds=[write_fd])
        os.close(write_fd)
        with os.fdopen(read_fd) as told:
            display = ":" + told.readline().strip()
        env = dict(os.environ, DISPLAY=display, HOME=str(root / "home"),
                   XDG_DATA_HOME=str(root / "data"), XDG_CONFIG_HOME=str(root / "config"),
                   XDG_RUNTIME_DIR=tmp, VISTREL_CAMERA=CAMERA,
                   VISTREL_WEB_BASE="http://127.0.0.1:9", QT_QPA_PLATFORM="xcb")
        program = subprocess.Popen([str(PROGRAM)], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            window = wait_for(lambda: window_named(env, "^Vistrel"), 30)
            if not window:
                raise SystemExit("the main window did not open")
            time.sleep(2)  # a few ticks: the live picture is there
            dialog = None
            for _ in range(5):
                xdotool(env, "mousemove", "--window", window, "100", "100", "click", "3")
                time.sleep(1)
                # "Detection..." comes second in the live picture's menu.
                xdotool(env, "key", "Down", "Down", "Return")
                dialog = wait_for(lambda: window_named(env, "^Detection$"), 5)
                if dialog:
                    break
            if not dialog:
                raise SystemExit("the Detection dialog did not open")
            # The pointer out of the picture.
            xdotool(env, "mousemove", "1279", "1023")
            time.sleep(3)  # the live picture and the watch level in the dialog
            x, y, width, height = geometry(env, dialog)
            _, _, rows = read_xwd(root / "Xvfb_screen0")
            OUTPUT.parent.mkdir(parents=True, exist_ok=True)
            write_png(OUTPUT, [row[3 * x:] for row in rows[y:y + height]], width)
            print(f"{OUTPUT}: {width} x {height}")
        finally:
            program.terminate()
            program.wait(10)
            xvfb.terminate()
            xvfb.wait(10)


if __name__ == "__main__":
    main()
