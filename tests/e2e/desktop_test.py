#!/usr/bin/env python3
"""The real program on a real desktop: Xvfb with the openbox window manager
and a tint2 panel whose notification area holds the tray icon. The window and
the icon are driven with xdotool and read with xprop and xwininfo, as a user
and the desktop see them."""

import http.server
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

PROGRAM = None
CAMERA = "videotestsrc is-live=true ! video/x-raw,width=320,height=240,framerate=10/1"


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    return condition()


def stop(process, timeout=10):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Desktop:
    """An X server of its own with a window manager; the panel is started
    apart, so that a test can bring it late."""

    def __init__(self, home, width=1280, height=1024):
        self.home, self.size = home, f"{width}x{height}x24"
        self.panel = None

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.size, "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as reader:
            self.display = ":" + reader.readline().strip()
        self.env = dict(os.environ, DISPLAY=self.display, HOME=str(self.home))
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)  # the icon goes to the panel's tray
        self.wm_log = tempfile.TemporaryFile()
        self.window_manager = subprocess.Popen(["openbox"], env=self.env,
                                               stdout=self.wm_log, stderr=subprocess.STDOUT)
        if not wait_for(self.window_manager_running, 10):
            raise RuntimeError("openbox did not start:\n" + self.window_manager_log())
        return self

    def window_manager_running(self):
        """Whether openbox runs and has said so on the root window."""
        check = re.search(r"window id # (0x[0-9a-f]+)",
                          self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"))
        return self.window_manager.poll() is None and check is not None and \
            "Openbox" in self.run("xprop", "-id", check[1], "_NET_WM_NAME")

    def window_manager_log(self):
        self.wm_log.seek(0)
        return self.wm_log.read().decode(errors="replace")

    def start_panel(self):
        self.panel = subprocess.Popen(["tint2"], env=self.env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: self.tray_window() is not None, 10):
            raise RuntimeError("tint2 did not bring up a notification area")

    def __exit__(self, *exc):
        for process in (self.panel, self.window_manager, self.server):
            if process is not None:
                stop(process)
        self.wm_log.close()

    def run(self, *command):
        result = subprocess.run(list(command), env=self.env, capture_output=True, text=True,
                                timeout=20)
        return result.stdout

    def tray_window(self):
        out = self.run("xwininfo", "-root", "-tree")
        return re.search(r'^\s*(0x[0-9a-f]+) "tint2"', out, re.M)

    def windows_of_program(self):
        """(id, title, width, height) of the program's windows, from the tree."""
        out = self.run("xwininfo", "-root", "-tree")
        return [(m[0], m[1], int(m[2]), int(m[3])) for m in re.findall(
            r'(0x[0-9a-f]+) "([^"]*)": \("vistrel" "Vistrel"\)\s+(\d+)x(\d+)', out)]

    def ancestors(self, window):
        names = []
        for _ in range(10):
            out = self.run("xwininfo", "-id", window, "-tree")
            parent = re.search(r'Parent window id: (0x[0-9a-f]+)(?: "([^"]*)")?', out)
            if not parent or "(the root window)" in out.split("Parent window id:")[1].split("\n")[0]:
                break
            window = parent[1]
            names.append(parent[2] or "")
        return names

    def icon_docked(self):
        """Whether a window of the program sits inside the panel."""
        return any("tint2" in self.ancestors(w[0]) for w in self.windows_of_program()
                   if w[2] < 64 and w[3] < 64)

    def icon_centre(self):
        for w in self.windows_of_program():
            if w[2] < 64 and w[3] < 64 and "tint2" in self.ancestors(w[0]):
                info = self.run("xwininfo", "-id", w[0])
                x = int(re.search(r"Absolute upper-left X:\s+(-?\d+)", info)[1])
                y = int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", info)[1])
                return x + w[2] // 2, y + w[3] // 2
        return None

    def main_window(self):
        """The managed main window: the program's window with a frame."""
        for w in self.windows_of_program():
            if w[1] == "Vistrel" and w[2] > 300 and "WM_STATE" in self.run(
                    "xprop", "-id", w[0], "WM_STATE"):
                if "not found" not in self.run("xprop", "-id", w[0], "WM_STATE"):
                    return w[0]
        return None

    def geometry(self, window):
        info = self.run("xwininfo", "-id", window)
        numbers = [int(re.search(pattern + r":\s+(-?\d+)", info)[1]) for pattern in
                   ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")]
        return tuple(numbers), re.search(r"Map State: (\w+)", info)[1]

    def frame_extents(self, window):
        out = self.run("xprop", "-id", window, "_NET_FRAME_EXTENTS")
        numbers = re.findall(r"\d+", out.split("=")[-1]) if "=" in out else []
        return tuple(int(n) for n in numbers) if len(numbers) == 4 else (0, 0, 0, 0)

    def net_wm_state(self, window):
        return self.run("xprop", "-id", window, "_NET_WM_STATE")

    def wm_state(self, window):
        found = re.search(r"window state: (\w+)", self.run("xprop", "-id", window, "WM_STATE"))
        return found[1] if found else "Withdrawn"

    def open_menu(self):
        """The icon's menu, opened by a right click: (x, y, width, height)."""
        for _ in range(3):
            x, y = self.icon_centre()
            self.run("xdotool", "mousemove", str(x), str(y), "click", "3")
            menu = wait_for(self.shown_menu, 5)
            if menu:
                return menu
        raise AssertionError("the icon's menu did not open")

    def shown_menu(self):
        for w in self.windows_of_program():
            if w[1] == "Vistrel" and 60 <= w[2] < 300 and 40 <= w[3] < 200:
                geometry, mapped = self.geometry(w[0])
                if mapped == "IsViewable":
                    return geometry
        return None

    def tray_menu(self, item):
        """Picks the item of the icon's menu, counted from 1 ("Minimize")."""
        x, y, width, height = self.open_menu()
        time.sleep(0.3)  # the menu takes clicks once it has the pointer
        # Four items of one height: "Episodes..." comes before "Minimize".
        place = item + 1
        item_y = y + height * (2 * place - 1) // 8
        self.run("xdotool", "mousemove", str(x + width // 2), str(item_y), "click", "1")
        wait_for(lambda: self.shown_menu() is None, 5)


class VersionServer(http.server.ThreadingHTTPServer):
    """Answers the update check with a newer version."""

    def __init__(self):
        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                body = b"V9.9"
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()


class ProgramOnDesktop(unittest.TestCase):
    """The program with folders and an environment of its own, on a desktop
    a test brings."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="vistrel-desktop-")
        root = Path(self.tmp.name)
        self.home = root / "home"
        self.home.mkdir()
        self.data = root / "data" / "_data_Vistrel"
        self.data.mkdir(parents=True)
        self.pictures = root / "pictures"
        self.program = None
        self.web = "http://127.0.0.1:9"
        self.settings = ["[string]", f"DED_Dest_Folder={self.pictures}"]

    def tearDown(self):
        if self.program is not None:
            stop(self.program)
            self.output.close()
        self.tmp.cleanup()

    def environment(self, desktop):
        return dict(desktop.env, XDG_DATA_HOME=str(self.data.parent),
                    XDG_CONFIG_HOME=str(self.home / ".config"), XDG_RUNTIME_DIR=self.tmp.name,
                    VISTREL_CAMERA=CAMERA, VISTREL_WEB_BASE=self.web, QT_QPA_PLATFORM="xcb",
                    BROWSER="/bin/true")

    def start(self, desktop, minimized_mode=False):
        lines = self.settings + ["[integer]", f"RBT_Mode_Start={1 if minimized_mode else 0}"]
        (self.data / "datas.ini").write_bytes(("\r\n".join(lines) + "\r\n").encode())
        env = self.environment(desktop)
        # Into a file: a pipe nobody reads while the test waits would fill up
        # and stop the program in the middle of a write.
        self.output = tempfile.TemporaryFile()
        self.program = subprocess.Popen([PROGRAM], env=env, stdout=self.output,
                                        stderr=subprocess.STDOUT)

    def program_output(self):
        self.output.seek(0)
        return self.output.read().decode(errors="replace")

    def main_window(self, desktop):
        window = wait_for(desktop.main_window, 20)
        if window is None:
            if self.program.poll() is not None:
                output = self.program_output()
                self.fail(f"the program ended ({self.program.returncode}):\n{output}")
            self.fail("the main window never appeared; the windows:\n" +
                      desktop.run("xwininfo", "-root", "-tree") +
                      f"\nopenbox running: {desktop.window_manager.poll() is None}\n" +
                      desktop.window_manager_log() + "\nthe program said:\n" +
                      self.program_output())
        return window

    def end(self):
        """Asks the program to stop as the session would, and waits for it."""
        self.program.send_signal(signal.SIGTERM)
        self.program.wait(timeout=15)
        return self.program.returncode, self.program_output()

    def end_status(self):
        """For assertEqual: the exit status, 0, and what the program said."""
        code, output = self.end()
        return code, 0, output


class DesktopTest(ProgramOnDesktop):

    def test_first_run_opens_at_the_top_left_corner(self):
        with Desktop(self.home) as desktop:
            desktop.start_panel()
            self.start(desktop)
            window = self.main_window(desktop)
            time.sleep(1)
            (x, y, width, height), mapped = desktop.geometry(window)
            left, _, top, _ = desktop.frame_extents(window)
            self.assertEqual(mapped, "IsViewable")
            self.assertEqual((x - left, y - top), (0, 0), "the frame is not at 0, 0")
            self.assertEqual((width, height), (579, 581))
            self.assertNotIn("SKIP_TASKBAR", desktop.net_wm_state(window))
            self.assertEqual(*self.end_status())

    def test_a_stored_placement_is_restored_also_partly_off_screen(self):
        for screen_width, expected_left in ((1280, 100), (640, 50)):
            with self.subTest(screen_width=screen_width), \
                    Desktop(self.home, screen_width, 1024) as desktop:
                (self.data / "appli.ini").write_bytes(
                    b"[Common]\r\nF_Main=200,0,1,100,50,690,669\r\n")
                self.start(desktop)
                window = self.main_window(desktop)
                time.sleep(1)
                (x, y, width, height), _ = desktop.geometry(window)
                self.assertEqual((x, y, width, height), (expected_left, 50, 590, 619))
                self.assertEqual(*self.end_status())

    def test_minimized_mode_lives_in_the_tray_and_restore_leaves_the_taskbar(self):
        with Desktop(self.home) as desktop:
            desktop.start_panel()
            self.start(desktop, minimized_mode=True)
            self.assertTrue(wait_for(desktop.icon_docked, 15), "no icon in the tray")
            time.sleep(2)
            self.assertIsNone(desktop.main_window(), "a window is mapped besides the icon")

            # Started minimized, then minimized by the window manager: each
            # time one Restore brings the window back, off the taskbar.
            for round_number in range(2):
                with self.subTest(round=round_number):
                    desktop.tray_menu(2)  # Restore
                    self.assertTrue(wait_for(desktop.main_window, 10),
                                    "Restore left the window withdrawn")
                    window = self.main_window(desktop)
                    self.assertTrue(
                        wait_for(lambda: "SKIP_TASKBAR" in desktop.net_wm_state(window), 5))
                    self.assertIn("SKIP_PAGER", desktop.net_wm_state(window))
                    self.assertEqual(desktop.wm_state(window), "Normal")

                    # Minimized again in this mode: back to the icon alone.
                    desktop.run("xdotool", "windowminimize", window)
                    self.assertTrue(
                        wait_for(lambda: desktop.wm_state(window) == "Withdrawn", 5))
                    self.assertTrue(desktop.icon_docked())
            self.assertEqual(*self.end_status())

    def test_normal_mode_minimizes_with_its_taskbar_entry_and_exits_from_the_menu(self):
        with Desktop(self.home) as desktop:
            desktop.start_panel()
            self.start(desktop)
            window = self.main_window(desktop)
            self.assertTrue(wait_for(desktop.icon_docked, 15), "no icon in the tray")
            desktop.run("xdotool", "windowminimize", window)
            self.assertTrue(wait_for(lambda: desktop.wm_state(window) == "Iconic", 5))
            time.sleep(1)
            self.assertEqual(desktop.wm_state(window), "Iconic")
            self.assertNotIn("SKIP_TASKBAR", desktop.net_wm_state(window))

            desktop.tray_menu(3)  # Exit
            self.program.wait(timeout=15)
            self.assertEqual(self.program.returncode, 0, self.program_output())
            self.assertIn("F_Main=200,", (self.data / "appli.ini").read_text())

    def test_a_panel_that_starts_late_takes_the_window(self):
        with Desktop(self.home) as desktop:
            self.start(desktop, minimized_mode=True)
            window = self.main_window(desktop)
            # No notification area: minimized, but still on the taskbar.
            self.assertTrue(wait_for(lambda: desktop.wm_state(window) == "Iconic", 10))
            time.sleep(5)
            self.assertEqual(desktop.wm_state(window), "Iconic")
            self.assertNotIn("SKIP_TASKBAR", desktop.net_wm_state(window))

            desktop.start_panel()
            self.assertTrue(wait_for(desktop.icon_docked, 10), "the icon never docked")
            self.assertTrue(wait_for(lambda: desktop.wm_state(window) == "Withdrawn", 10),
                            "the window stayed out of the tray")
            desktop.tray_menu(2)  # Restore
            self.assertTrue(wait_for(lambda: desktop.wm_state(window) == "Normal", 10))
            self.assertEqual(*self.end_status())

    def test_the_update_dialog_title_is_exactly_its_caption(self):
        server = VersionServer()
        self.web = f"http://127.0.0.1:{server.server_address[1]}"
        try:
            with Desktop(self.home) as desktop:
                self.start(desktop)
                self.main_window(desktop)
                # The check runs ten seconds after start.
                dialog = wait_for(lambda: [w for w in desktop.windows_of_program()
                                           if w[1].startswith("Update")], 30)
                self.assertTrue(dialog, "no update dialog")
                title = desktop.run("xprop", "-id", dialog[0][0], "_NET_WM_NAME")
                self.assertEqual(title.split("=", 1)[1].strip(), '"Update ..."')
                self.assertEqual(*self.end_status())
        finally:
            server.shutdown()
            server.server_close()


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
