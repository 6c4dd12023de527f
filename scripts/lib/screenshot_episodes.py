#!/usr/bin/env python3
"""Takes docs/episodes.png: the Episodes window of the real program over a
few episodes of GStreamer test pictures, under Xvfb.

    python3 scripts/lib/screenshot_episodes.py [build/vistrel] [docs/episodes.png]

Needs Xvfb, xdotool and gst-launch-1.0; shares the XWD reading of
screenshot_detection.py.
"""
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import screenshot_detection as shot  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
PROGRAM = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "vistrel"
OUTPUT = Path(sys.argv[2]) if len(sys.argv) > 2 else ROOT / "docs" / "episodes.png"
# (episode, pattern, start hour, minute, pictures)
EPISODES = [("D0001", "ball", 9, 12, 12), ("R0001", "smpte", 11, 30, 20),
            ("D0002", "snow", 14, 5, 8), ("D0003", "pinwheel", 17, 41, 16)]


def write_episode(day, episode, pattern, hour, minute, count):
    folder = day / episode
    folder.mkdir(parents=True)
    subprocess.run(["gst-launch-1.0", "-q", "videotestsrc", f"pattern={pattern}",
                    f"num-buffers={count}", "!", "video/x-raw,width=640,height=480", "!",
                    "jpegenc", "!", "multifilesink", f"location={folder}/frame%05d.jpg"],
                   check=True)
    # Five pictures a second, named as the program names them.
    for index in range(count):
        second = index // 5
        name = f"I_{hour:02d}_{minute + second // 60:02d}_{second % 60:02d}__{index + 1:05d}.jpg"
        (folder / f"frame{index:05d}.jpg").rename(folder / name)


def main():
    with tempfile.TemporaryDirectory(prefix="vistrel-shot-") as tmp:
        root = Path(tmp)
        data = root / "data" / "_data_Vistrel"
        data.mkdir(parents=True)
        # The default destination with this HOME.
        dest = root / "home" / "Pictures" / "Vistrel"
        for day_name in ("RIDEV_2026_12_09", "RIDEV_2026_12_10"):
            for episode, pattern, hour, minute, count in EPISODES:
                write_episode(dest / day_name, episode, pattern, hour, minute, count)
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
             "-fbdir", tmp, "-nolisten", "tcp"], pass_fds=[write_fd])
        os.close(write_fd)
        with os.fdopen(read_fd) as told:
            display = ":" + told.readline().strip()
        env = dict(os.environ, DISPLAY=display, HOME=str(root / "home"),
                   XDG_DATA_HOME=str(root / "data"), XDG_CONFIG_HOME=str(root / "config"),
                   XDG_RUNTIME_DIR=tmp, VISTREL_CAMERA=shot.CAMERA,
                   VISTREL_WEB_BASE="http://127.0.0.1:9", QT_QPA_PLATFORM="xcb")
        program = subprocess.Popen([str(PROGRAM)], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            window = shot.wait_for(lambda: shot.window_named(env, "^Vistrel"), 30)
            if not window:
                raise SystemExit("the main window did not open")
            time.sleep(2)
            episodes = None
            for _ in range(5):
                shot.xdotool(env, "mousemove", "--window", window, "100", "100", "click", "3")
                time.sleep(1)
                # "Episodes..." comes fourth in the live picture's menu.
                shot.xdotool(env, "key", "Down", "Down", "Down", "Down", "Return")
                episodes = shot.wait_for(lambda: shot.window_named(env, "^Episodes$"), 5)
                if episodes:
                    break
            if not episodes:
                raise SystemExit("the Episodes window did not open")
            shot.xdotool(env, "windowmove", episodes, "0", "0")
            shot.xdotool(env, "mousemove", "1279", "1023")
            time.sleep(3)  # the thumbnails
            x, y, width, height = shot.geometry(env, episodes)
            _, _, rows = shot.read_xwd(root / "Xvfb_screen0")
            OUTPUT.parent.mkdir(parents=True, exist_ok=True)
            shot.write_png(OUTPUT, [row[3 * x:] for row in rows[y:y + height]], width)
            print(f"{OUTPUT}: {width} x {height}")
        finally:
            program.terminate()
            program.wait(10)
            xvfb.terminate()
            xvfb.wait(10)


if __name__ == "__main__":
    main()
