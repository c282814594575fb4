"""Starts a pyftpdlib server on 127.0.0.1 for the tests.

Usage: ftpserver_pyftpdlib.py ROOT USER PASSWORD [ADDRESS [CERT KEY explicit|implicit]]
ADDRESS is the loopback address to listen on (default 127.0.0.1; ::1 for
IPv6).
Binds port 0, prints the chosen port on the first line of stdout and serves
until it is terminated. One virtual user with every permission, plus an
anonymous read-only user on the same folder. With CERT and KEY the server
speaks FTPS: explicit (AUTH TLS, required for logins and data) or implicit
(TLS from the first byte).
"""

import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, user, password = sys.argv[1:4]
    address = sys.argv[4] if len(sys.argv) > 4 else "127.0.0.1"
    tls = sys.argv[5:8]
    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    authorizer.add_anonymous(root, perm="elr")

    base = FTPHandler
    if tls:
        from pyftpdlib.handlers import TLS_FTPHandler
        base = TLS_FTPHandler

    class Handler(base):
        # pyftpdlib refuses SIZE in ASCII mode; most servers answer it in
        # any mode, and the size requests run without a TYPE first.
        def ftp_SIZE(self, path):
            saved = self._current_type
            self._current_type = "i"
            try:
                return FTPHandler.ftp_SIZE(self, path)
            finally:
                self._current_type = saved

        def handle(self):
            # Implicit TLS: the handshake comes before the greeting.
            if tls and tls[2] == "implicit":
                self.secure_connection(self.ssl_context)
            base.handle(self)

    Handler.authorizer = authorizer
    Handler.banner = "pyftpdlib test server ready."
    Handler.masquerade_address = None
    # Transfers of big files must not be cut short by the default idle
    # time-out while a client is busy elsewhere.
    Handler.timeout = 120
    Handler.auth_failed_timeout = 0.1
    if tls:
        Handler.certfile = tls[0]
        Handler.keyfile = tls[1]
        Handler.tls_control_required = True
        Handler.tls_data_required = True
        # Clients resume the control connection's session on data
        # connections; OpenSSL refuses that without a session id context.
        context = Handler.get_ssl_context()
        context.set_session_id(b"tarvik-test")
        Handler.ssl_context = context
    server = FTPServer((address, 0), Handler)
    server.max_cons = 64
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(timeout=0.5)


if __name__ == "__main__":
    main()
