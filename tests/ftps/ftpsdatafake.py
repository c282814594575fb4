#!/usr/bin/python3
"""A scripted FTPS server whose TLS data connections fail in the ways real
servers fail them; the control connection works as in ftpsfake.py.

Usage: ftpsdatafake.py MODE CERT KEY DATACERT DATAKEY
Listens on 127.0.0.1 on a port the system picks and prints it on the first
line of stdout; every command received is then printed as "CMD <line>".
RETR sends ftpsfake's file of 100000 bytes; STOR reads what comes.

Modes (each for RETR and STOR alike):
  handshake  the data connection answers the client's hello with a fatal
             handshake_failure alert; the reply is "425 TLS negotiation failed"
  othercert  the data connection presents DATACERT instead of the control
             connection's certificate; the server carries on as far as the
             client lets it and answers 226 all the same
  noreuse    the data connection comes from a context that cannot resume the
             control connection's session; the server closes it unencrypted
             and answers "425 TLS session of data connection not resumed"
  break      after 40000 bytes (either way) the data connection gets a broken
             TLS record and is closed; the server answers 226 all the same
"""

import socket
import ssl
import sys
import time

import ftpsfake
from ftpsfake import BREAK_AT, PATTERN_BLOCK
from tlspeer_common import pattern, report, send_broken_record, server_context, serve_forever


# TLS 1.2 record: alert, fatal handshake_failure.
HANDSHAKE_ALERT = b"\x15\x03\x03\x00\x02\x02\x28"


class DataSession(ftpsfake.Session):
    def __init__(self, raw, mode, ctx, data_ctx):
        super().__init__(raw, mode, ctx)
        self.data_ctx = data_ctx

    def command(self, word, line):
        if word == "RETR":
            self.transfer(pattern(ftpsfake.FILE_SIZE, PATTERN_BLOCK), True)
            return True
        if word in ("STOR", "APPE"):
            self.transfer(None, False)
            return True
        if word in ("LIST", "NLST"):
            self.send("550 No listings here")
            return True
        return super().command(word, line)

    def accept(self):
        self.send("150 Opening BINARY mode data connection")
        raw, _ = self.pasv.accept()
        self.pasv.close()
        self.pasv = None
        return raw

    def transfer(self, data, sending):
        if not self.pasv:
            self.send("425 Use PASV first")
            return
        raw = self.accept()
        if self.mode == "handshake":
            raw.recv(16384)  # the client's hello
            raw.sendall(HANDSHAKE_ALERT)
            raw.close()
            self.reply_after_data("425 TLS negotiation failed")
            return
        ctx = self.data_ctx if self.mode in ("othercert", "noreuse") else self.ctx
        try:
            conn = ctx.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError) as e:
            report("DATA HANDSHAKE failed %s" % e.__class__.__name__)
            raw.close()
            self.send("425 TLS negotiation failed")
            return
        report("DATA reused %s" % conn.session_reused)
        if self.mode == "noreuse" and not conn.session_reused:
            # Dropped as it is: the client gets no close_notify.
            conn.shutdown(socket.SHUT_RDWR)
            conn.close()
            self.reply_after_data("425 TLS session of data connection not resumed")
            return
        try:
            if sending:
                self.send_file(conn, data)
            else:
                self.receive_file(conn)
        except (ssl.SSLError, OSError) as e:
            report("DATA failed %s" % e.__class__.__name__)
            try:
                conn.close()
            except OSError:
                pass
        self.send("226 Transfer complete")

    def reply_after_data(self, line):
        # The client has the data connection's end before the reply, as
        # from a server that replies once it has dealt with the connection.
        time.sleep(0.3)
        self.send(line)

    def send_file(self, conn, data):
        if self.mode == "break":
            conn.sendall(data[:BREAK_AT])
            send_broken_record(conn)
            conn.shutdown(socket.SHUT_RDWR)
            conn.close()
            return
        conn.sendall(data)
        conn = conn.unwrap()
        conn.close()

    def receive_file(self, conn):
        got = 0
        while True:
            chunk = conn.recv(65536)
            if not chunk:
                break
            got += len(chunk)
            if self.mode == "break" and got >= BREAK_AT:
                send_broken_record(conn)
                conn.shutdown(socket.SHUT_RDWR)
                conn.close()
                report("DATA received %d" % got)
                return
        report("DATA received %d" % got)
        conn = conn.unwrap()
        conn.close()


def main():
    mode, cert, key, data_cert, data_key = sys.argv[1:6]
    ctx = server_context(cert, key)
    # Another context has other ticket keys and no session cache in common:
    # a session from the control connection cannot be resumed with it.
    data_ctx = server_context(data_cert, data_key)
    serve_forever(lambda raw: ftpsfake.safe_run(DataSession(raw, mode, ctx, data_ctx)), 8)


if __name__ == "__main__":
    main()
