#!/usr/bin/env python3
"""The real program on a desktop (openbox, tint2): a second start on the same
data folder only brings the first one's window forward, and the program ends
within two seconds, with status 0, whatever dialog or menu is open when the
end is asked for."""

import signal
import subprocess
import sys
import time
import unittest

import desktop_test
from desktop_test import Desktop, ProgramOnDesktop, VersionServer, wait_for


def folder_state(folder):
    """Every file below the folder with its bytes and modification time."""
    return {str(p.relative_to(folder)): (p.read_bytes(), p.stat().st_mtime_ns)
            for p in sorted(folder.rglob("*")) if p.is_file()}


class SecondStart(ProgramOnDesktop):

    def second_start(self, desktop):
        """Starts the program again on the same folders; what it said."""
        started = time.monotonic()
        second = subprocess.run([desktop_test.PROGRAM], env=self.environment(desktop),
                                capture_output=True, timeout=20)
        output = (second.stdout + second.stderr).decode(errors="replace")
        self.assertEqual(second.returncode, 0, output)
        self.assertLess(time.monotonic() - started, 10, output)
        return output

    def test_a_second_start_brings_the_window_out_of_the_tray_and_changes_nothing(self):
        with Desktop(self.home) as desktop:
            desktop.start_panel()
            self.start(desktop, minimized_mode=True)
            self.assertTrue(wait_for(desktop.icon_docked, 15), "no icon in the tray")
            time.sleep(2)
            self.assertIsNone(desktop.main_window())
            data_before = folder_state(self.data)
            self.second_start(desktop)
            window = wait_for(desktop.main_window, 10)
            self.assertIsNotNone(window, "the running window did not come forward")
            self.assertEqual(desktop.wm_state(window), "Normal")
            self.assertEqual(folder_state(self.data), data_before)
            self.assertFalse(self.pictures.exists() and any(self.pictures.rglob("*.jpg")))
            self.assertEqual(*self.end_status())

    def test_a_second_start_restores_a_minimized_window(self):
        with Desktop(self.home) as desktop:
            self.start(desktop)
            window = self.main_window(desktop)
            desktop.run("xdotool", "windowminimize", window)
            self.assertTrue(wait_for(lambda: desktop.wm_state(window) == "Iconic", 5))
            self.second_start(desktop)
            self.assertTrue(wait_for(lambda: desktop.wm_state(window) == "Normal", 10),
                            "the minimized window stayed minimized")
            self.assertEqual(*self.end_status())

    def test_another_data_folder_is_another_vistrel(self):
        with Desktop(self.home) as desktop:
            self.start(desktop)
            self.main_window(desktop)
            other = dict(self.environment(desktop), XDG_DATA_HOME=str(self.home / "other"))
            second = subprocess.Popen([desktop_test.PROGRAM], env=other,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                time.sleep(4)
                self.assertIsNone(second.poll(), "a Vistrel on another data folder ended")
                self.assertTrue((self.home / "other" / "_data_Vistrel" / "datas.ini").exists())
            finally:
                second.send_signal(signal.SIGTERM)
                self.assertEqual(second.wait(timeout=10), 0)
            self.assertEqual(*self.end_status())


class CloseWithSomethingOpen(ProgramOnDesktop):
    """{what is open} x {how the end comes}."""

    def open_update_dialog(self, desktop, window):
        # The check asks ten seconds after start, and the server answers a
        # newer version.
        self.assertTrue(wait_for(lambda: self.titled("Update"), 30), "no update dialog")

    def open_picture_menu(self, desktop, window):
        for _ in range(3):
            desktop.run("xdotool", "mousemove", "--window", window, "100", "100", "click", "3")
            if wait_for(desktop.shown_menu, 5):
                return
        self.fail("the live picture's menu did not open")

    def open_storage_dialog(self, desktop, window):
        self.open_picture_menu(desktop, window)
        x, y, width, height = desktop.shown_menu()
        time.sleep(0.3)
        # "Storage..." is its first item (the camera comes from the
        # environment, so no camera is offered).
        desktop.run("xdotool", "mousemove", str(x + width // 2), str(y + 12), "click", "1")
        self.assertTrue(wait_for(lambda: self.titled("Storage"), 10), "no Storage dialog")

    def open_episodes_window(self, desktop, window):
        desktop.tray_menu(0)  # "Episodes...", just before "Minimize"
        self.assertTrue(wait_for(lambda: self.titled("Episodes"), 10), "no Episodes window")

    def titled(self, title):
        return [w for w in self.desktop.windows_of_program() if w[1].startswith(title)]

    def test_each_way_of_ending_with_each_thing_open(self):
        server = VersionServer()
        newer = f"http://127.0.0.1:{server.server_address[1]}"
        opened = {"the update dialog": self.open_update_dialog,
                  "the Storage dialog": self.open_storage_dialog,
                  "the live picture's menu": self.open_picture_menu,
                  "the Episodes window": self.open_episodes_window}
        try:
            for what, open_it in opened.items():
                # Only the update dialog's case has a server that answers.
                self.web = newer if what == "the update dialog" else "http://127.0.0.1:9"
                for how in ("SIGTERM", "SIGINT", "the tray's Exit", "the window's close box"):
                    with self.subTest(open=what, end=how), Desktop(self.home) as desktop:
                        try:
                            self.end_with_open(desktop, open_it, how, what)
                        finally:
                            if self.program is not None:
                                desktop_test.stop(self.program)
                                self.output.close()
                                self.program = None
        finally:
            server.shutdown()
            server.server_close()

    def end_with_open(self, desktop, open_it, how, what):
        self.desktop = desktop
        desktop.start_panel()
        self.start(desktop)
        window = self.main_window(desktop)
        self.assertTrue(wait_for(desktop.icon_docked, 15), "no icon in the tray")
        open_it(desktop, window)
        started = time.monotonic()
        if how == "the tray's Exit":
            desktop.tray_menu(3)
        elif how == "the window's close box":
            # As the close box does: the window manager asks the window to
            # close (WM_DELETE_WINDOW).
            desktop.run("wmctrl", "-i", "-c", window)
        else:
            self.program.send_signal(getattr(signal, how))
        try:
            self.program.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.fail(f"still running 15 s after {how} with {what} open")
        took = time.monotonic() - started
        output = self.program_output()
        self.assertEqual(self.program.returncode, 0, output)
        # The tray's Exit is counted from before its menu is opened.
        self.assertLess(took, 2.0 if how != "the tray's Exit" else 8.0, output)
        self.assertIn("F_Main=200,", (self.data / "appli.ini").read_text())


if __name__ == "__main__":
    desktop_test.PROGRAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
