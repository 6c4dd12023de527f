#!/usr/bin/env python3
"""A throw-away FTP server for the integration tests.

Usage: ftp_server.py HOME USER PASSWORD [PORT]

Serves HOME to USER with every right, on the loopback PORT (a free one when
absent or 0), and prints that port as the first line of its output once it
accepts connections.
"""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    home, user, password = sys.argv[1:4]
    port = int(sys.argv[4]) if len(sys.argv) > 4 else 0
    # Only trouble is worth a line in the test output.
    logging.basicConfig(level=logging.WARNING)

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    # A refused login is answered at once: no one guesses passwords here.
    Handler.auth_failed_timeout = 0
    server = FTPServer(("127.0.0.1", port), Handler)
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
