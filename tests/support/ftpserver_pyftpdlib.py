"""Starts a pyftpdlib server on 127.0.0.1 for the tests.

Usage: ftpserver_pyftpdlib.py ROOT USER PASSWORD [ADDRESS]
ADDRESS is the loopback address to listen on (default 127.0.0.1; ::1 for
IPv6).
Binds port 0, prints the chosen port on the first line of stdout and serves
until it is terminated. One virtual user with every permission, plus an
anonymous read-only user on the same folder.
"""

import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, user, password = sys.argv[1:4]
    address = sys.argv[4] if len(sys.argv) > 4 else "127.0.0.1"
    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    authorizer.add_anonymous(root, perm="elr")

    class Handler(FTPHandler):
        # pyftpdlib refuses SIZE in ASCII mode; most servers answer it in
        # any mode, and the size requests run without a TYPE first.
        def ftp_SIZE(self, path):
            saved = self._current_type
            self._current_type = "i"
            try:
                return FTPHandler.ftp_SIZE(self, path)
            finally:
                self._current_type = saved

    Handler.authorizer = authorizer
    Handler.banner = "pyftpdlib test server ready."
    Handler.masquerade_address = None
    # Transfers of big files must not be cut short by the default idle
    # time-out while a client is busy elsewhere.
    Handler.timeout = 120
    Handler.auth_failed_timeout = 0.1
    server = FTPServer((address, 0), Handler)
    server.max_cons = 64
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(timeout=0.5)


if __name__ == "__main__":
    main()
