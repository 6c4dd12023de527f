#!/usr/bin/env python3
"""A throw-away FTP server for the integration tests.

Usage: ftp_server.py HOME USER PASSWORD [PORT [REFUSED]]

Serves HOME to USER with every right, on the loopback PORT (a free one when
absent or 0), and prints that port as the first line of its output once it
accepts connections. A store of a file named REFUSED, in any folder, is
refused for good with 553, as a server's rules may refuse one file.

With VISTREL_FTP_TLS_CERT (a PEM file with the certificate chain and, unless
VISTREL_FTP_TLS_KEY names another file, the key) the server speaks explicit
FTPS and requires TLS on the control and on every data connection.
"""
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    home, user, password = sys.argv[1:4]
    port = int(sys.argv[4]) if len(sys.argv) > 4 else 0
    refused = sys.argv[5] if len(sys.argv) > 5 else ""
    # Only trouble is worth a line in the test output.
    logging.basicConfig(level=logging.WARNING)
    if os.environ.get("VISTREL_FTP_STDIN_LIFELINE") == "1":
        # The test holds the other end of stdin: when it dies, however it
        # dies, the end of input ends this server too.
        def watch_parent():
            while sys.stdin.buffer.read(4096):
                pass
            os._exit(0)
        threading.Thread(target=watch_parent, daemon=True).start()

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")

    certificate = os.environ.get("VISTREL_FTP_TLS_CERT", "")
    base = TLS_FTPHandler if certificate else FTPHandler

    class Handler(base):
        def ftp_STOR(self, file, mode="w"):
            if refused and os.path.basename(file) == refused:
                self.respond("553 File name not allowed.")
                return None
            return super().ftp_STOR(file, mode)

    Handler.authorizer = authorizer
    if certificate:
        Handler.certfile = certificate
        Handler.keyfile = os.environ.get("VISTREL_FTP_TLS_KEY") or None
        Handler.tls_control_required = True
        Handler.tls_data_required = True
    # A refused login is answered at once: no one guesses passwords here.
    Handler.auth_failed_timeout = 0
    server = FTPServer(("127.0.0.1", port), Handler)
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
