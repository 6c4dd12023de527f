#!/usr/bin/env python3
"""Checks a built Debian package of Vistrel as Debian would, then installs,
runs and removes it on this machine.

    check_package.py PATH/vistrel_<version>_<arch>.deb
"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

APP_ID = "org.example.vistrel.Vistrel"


def step(title):
    print(f"== {title}", flush=True)


def as_root(command):
    return command if os.geteuid() == 0 else ["sudo"] + command


def run(command, **kwargs):
    print("$ " + " ".join(str(c) for c in command), flush=True)
    return subprocess.run(command, check=True, **kwargs)


def check_contents(deb):
    with tempfile.TemporaryDirectory() as unpacked:
        run(["dpkg-deb", "-x", deb, unpacked])
        root = Path(unpacked)
        step("desktop-file-validate")
        run(["desktop-file-validate", root / "usr/share/applications/vistrel.desktop"])
        step("appstreamcli validate")
        # No network here: the screenshot's and home page's addresses are
        # not fetched.
        run(["appstreamcli", "validate", "--no-net", "--explain",
             root / f"usr/share/metainfo/{APP_ID}.metainfo.xml"])
        for path in ("usr/bin/vistrel", "usr/share/man/man1/vistrel.1.gz",
                     "usr/share/doc/vistrel/copyright", "usr/share/doc/vistrel/changelog.Debian.gz",
                     "usr/share/icons/hicolor/scalable/apps/vistrel.svg",
                     "usr/share/icons/hicolor/48x48/apps/vistrel.png",
                     "usr/share/icons/hicolor/256x256/apps/vistrel.png"):
            if not (root / path).is_file():
                sys.exit(f"the package lacks /{path}")
    step("lintian")
    run(["lintian", "--fail-on", "error", "--info", "--display-info", deb])


class Xvfb:
    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            self.display = ":" + f.readline().strip()
        return self

    def __exit__(self, *_):
        self.process.terminate()
        self.process.wait(timeout=10)


def run_installed_program():
    step("a recording run of /usr/bin/vistrel")
    home = Path(tempfile.mkdtemp(prefix="vistrel-package-"))
    try:
        data = home / ".local/share/_data_Vistrel"
        data.mkdir(parents=True)
        pictures = home / "pictures"
        (data / "datas.ini").write_text(
            f"[string]\r\nDED_Dest_Folder={pictures}\r\n[integer]\r\nRBT_Rec_Launch=1\r\n"
            "EDT_Timer_Refresh=200\r\n")
        env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "QT_", "WAYLAND"))}
        # The package leaves updates to the package manager: a web server
        # that listens is never asked for the version.
        web = socket.socket()
        web.bind(("127.0.0.1", 0))
        web.listen(4)
        web.setblocking(False)
        env.update(HOME=str(home), VISTREL_CAMERA="videotestsrc is-live=true",
                   VISTREL_WEB_BASE="http://127.0.0.1:%d" % web.getsockname()[1])
        with Xvfb() as x, web:
            env["DISPLAY"] = x.display
            started = time.monotonic()
            program = subprocess.Popen(["/usr/bin/vistrel"], env=env)
            deadline = started + 30
            while time.monotonic() < deadline and not list(pictures.rglob("*.jpg")):
                if program.poll() is not None:
                    sys.exit(f"vistrel ended by itself with status {program.returncode}")
                time.sleep(0.2)
            # Past the ten seconds after which a check would ask.
            time.sleep(max(2.0, started + 12 - time.monotonic()))
            recorded = list(pictures.rglob("*.jpg"))
            program.send_signal(signal.SIGTERM)
            status = program.wait(timeout=10)
            try:
                web.accept()[0].close()
                asked = True
            except BlockingIOError:
                asked = False
        if not recorded:
            sys.exit("vistrel recorded no picture")
        if status != 0:
            sys.exit(f"vistrel ended with status {status} on SIGTERM")
        if asked:
            sys.exit("the packaged vistrel asked the web server for a newer version")
        print(f"recorded {len(recorded)} pictures, exit status 0 on SIGTERM, no update check")
        return data
    except BaseException:
        shutil.rmtree(home, ignore_errors=True)
        raise


def main():
    deb = os.path.abspath(sys.argv[1])
    check_contents(deb)

    step("apt-get install")
    run(as_root(["env", "DEBIAN_FRONTEND=noninteractive", "apt-get", "install", "-y", "-q", deb]))
    files = subprocess.run(["dpkg-query", "-L", "vistrel"], check=True, capture_output=True,
                           text=True).stdout.split("\n")
    installed = [f for f in files if f and os.path.isfile(f)]
    data = run_installed_program()

    step("apt-get remove")
    run(as_root(["env", "DEBIAN_FRONTEND=noninteractive", "apt-get", "remove", "-y", "-q", "vistrel"]))
    left = [f for f in installed if os.path.lexists(f)]
    if left:
        sys.exit("left behind by the removal: " + ", ".join(left))
    for folder in ("/usr/share/doc/vistrel",):
        if os.path.exists(folder):
            sys.exit(f"left behind by the removal: {folder}")
    if not (data / "datas.ini").is_file():
        sys.exit("the removal took the user's data folder")
    shutil.rmtree(data.parents[2], ignore_errors=True)
    print(f"removed: none of its {len(installed)} files is left; the user's data folder stays")
    step("the package passed every check")


if __name__ == "__main__":
    main()
