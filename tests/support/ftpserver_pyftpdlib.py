"""Starts a pyftpdlib server on 127.0.0.1 for the tests.

Usage: ftpserver_pyftpdlib.py ROOT USER PASSWORD [ADDRESS [CERT KEY explicit|implicit]] [--faulty]
ADDRESS is the loopback address to listen on (default 127.0.0.1; ::1 for
IPv6). With CERT and KEY the server speaks FTPS: explicit (AUTH TLS,
required for logins and data) or implicit (TLS from the first byte).
Binds port 0, prints the chosen port on the first line of stdout and serves
until it is terminated. One virtual user with every permission, plus an
anonymous read-only user on the same folder.

With --faulty, transfers of files whose name starts with one of the prefixes
below break after LIMIT bytes; every other file is served normally.

  reset-  the data connection is reset (RST), then "426" is answered
          (downloads and uploads)
  close-  the data connection is closed in order, then "426" is answered
  drop-   the data connection is closed in order, then the control
          connection is dropped without a reply
  stall-  the server stops sending, keeps both connections open and never
          answers
  slow-   the file is sent at about SLOW_CHUNK / SLOW_PAUSE bytes a second,
          every time, so that a test can act while a download runs
"""

import logging
import os
import socket
import struct
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

LIMIT = 128 * 1024
SLOW_CHUNK = 64 * 1024
SLOW_PAUSE = 0.05
logger = logging.getLogger("faultyftpd")


class FaultyDTPHandler(DTPHandler):
    # Each file breaks once, for its first transfer in each direction, so
    # that a resume or a second attempt goes through.
    _spent = set()
    _stalled = False
    _broken = False
    _mode = False

    def _fault(self):
        if self._mode is not False:
            return self._mode
        self._mode = None
        if self.file_obj is None or not hasattr(self.file_obj, "name"):
            return None
        name = os.path.basename(str(self.file_obj.name))
        key = (name, self.receive)
        if name.startswith("slow-"):
            self._mode = "slow"
            return self._mode
        for prefix in ("reset", "close", "drop", "stall"):
            if name.startswith(prefix + "-") and key not in FaultyDTPHandler._spent:
                FaultyDTPHandler._spent.add(key)
                self._mode = prefix
        return self._mode

    def _break(self, mode):
        self._stalled = False
        self._broken = True
        if mode == "reset":
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self._resp = ("426 Connection reset; transfer aborted.", logger.info)
            self.close()
        elif mode == "close":
            self._resp = ("426 Transfer aborted; %d bytes transmitted." % self.get_transmitted_bytes(), logger.info)
            self.close()
        elif mode == "drop":
            self._resp = None
            channel = self.cmd_channel
            self.close()
            channel.close()
        elif mode == "stall":
            self._stalled = True

    def send(self, data):
        mode = self._fault()
        if mode is None or self.receive:
            return DTPHandler.send(self, data)
        if mode == "slow":
            return self._send_slowly(data)
        if self._stalled or self._broken:
            return 0
        left = LIMIT - self.tot_bytes_sent
        if left <= 0:
            # Give the client a moment to read what was sent, so that the
            # test knows which bytes it must have kept.
            self._stalled = True
            self.ioloop.call_later(0.2, self._break, mode)
            return 0
        return DTPHandler.send(self, data[:left])

    def _send_slowly(self, data):
        sent = DTPHandler.send(self, data[:SLOW_CHUNK])
        # Out of the loop for a moment, as pyftpdlib's own throttling does.
        if not self._closed and self.socket is not None:
            self.del_channel()
            self.ioloop.call_later(SLOW_PAUSE, self._wake, _errback=self.handle_error)
        return sent

    def _wake(self):
        if not self._closed:
            self.add_channel(events=self.ioloop.WRITE)

    def writable(self):
        if self._stalled or self._broken:
            return False
        return DTPHandler.writable(self)

    def handle_read(self):
        mode = self._fault()
        if mode is not None and self.receive and not self._broken and self.tot_bytes_received >= LIMIT:
            self._break(mode)
            return
        DTPHandler.handle_read(self)

    # The base class binds the loop's read event to its own handle_read.
    handle_read_event = handle_read

    def handle_timeout(self):
        # A stalled transfer is the client's to give up on.
        if not self._stalled:
            DTPHandler.handle_timeout(self)


def main():
    root, user, password = sys.argv[1:4]
    faulty = "--faulty" in sys.argv[4:]
    rest = [a for a in sys.argv[4:] if a != "--faulty"]
    address = rest[0] if rest else "127.0.0.1"
    tls = rest[1:4]
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
    if faulty:
        Handler.banner = "faulty pyftpdlib test server ready."
        Handler.dtp_handler = FaultyDTPHandler
        # The faults are injected in send(); sendfile() would go around them.
        Handler.use_sendfile = False
    server = FTPServer((address, 0), Handler)
    server.max_cons = 64
    print(server.socket.getsockname()[1], flush=True)
    # No poll time-out: scheduled calls (the faults, the slow pace, idle
    # time-outs) then run on time rather than at the next half second.
    server.serve_forever(timeout=None)


if __name__ == "__main__":
    main()
