#!/usr/bin/python3
"""A scripted FTPS server for the behaviour no real server shows on demand.

Usage: ftpsfake.py MODE CERT KEY
Listens on 127.0.0.1 on a port the system picks and prints it on the first
line of stdout; every command received is then printed as "CMD <line>".

Modes:
  refuse     AUTH TLS is answered "534 TLS not available"; the rest of the
             session works in clear text
  login230   AUTH TLS is answered "230 Logged in" (no TLS)
  normal     explicit FTPS: AUTH TLS, PBSZ, PROT P, PASV, LIST (one file) and
             RETR of a file of 100000 bytes over a TLS data connection ended
             with close_notify
  alert      like normal, but the data connection breaks after 40000 bytes
             with a broken TLS record, and the server answers 226 all the same
  cut        like normal, but the data connection is closed after 40000 bytes
             without close_notify, and the server answers 226 all the same
"""

import os
import socket
import ssl
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from tlspeer_common import pattern, read_line, report, send_broken_record, server_context, serve_forever  # noqa: E402

FILE_SIZE = 100000
BREAK_AT = 40000
PATTERN_BLOCK = bytes((i * 7 + 3) & 0xFF for i in range(256))


class Session:
    def __init__(self, raw, mode, ctx):
        self.sock = raw
        self.mode = mode
        self.ctx = ctx
        self.buf = b""
        self.pasv = None
        self.prot = False

    def send(self, line):
        self.sock.sendall((line + "\r\n").encode())

    def run(self):
        self.send("220 ftps fake ready")
        while True:
            line, self.buf = read_line(self.sock, self.buf)
            if line is None:
                return
            report("CMD " + line)
            word = line.split(" ")[0].upper()
            if not self.command(word, line):
                return

    def command(self, word, line):
        if word == "AUTH":
            if self.mode == "refuse":
                self.send("534 TLS not available")
            elif self.mode == "login230":
                self.send("230 Logged in")
            else:
                self.send("234 AUTH TLS successful")
                try:
                    self.sock = self.ctx.wrap_socket(self.sock, server_side=True)
                except (ssl.SSLError, OSError) as e:
                    report("HANDSHAKE failed %s" % e.__class__.__name__)
                    return False
                report("TLS " + self.sock.version())
        elif word == "USER":
            self.send("331 Password please")
        elif word == "PASS":
            self.send("230 Logged in")
        elif word == "PBSZ":
            self.send("200 PBSZ=0")
        elif word == "PROT":
            self.prot = line.upper().endswith(" P")
            self.send("200 Protection set")
        elif word in ("TYPE", "MODE", "STRU", "OPTS"):
            self.send("200 OK")
        elif word == "SYST":
            self.send("215 UNIX Type: L8")
        elif word == "PWD":
            self.send('257 "/" is the current directory')
        elif word == "FEAT":
            self.send("211-Features:\r\n AUTH TLS\r\n PBSZ\r\n PROT\r\n211 End")
        elif word == "SIZE":
            self.send("213 %d" % FILE_SIZE)
        elif word == "PASV":
            if self.pasv:
                self.pasv.close()
            self.pasv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.pasv.bind(("127.0.0.1", 0))
            self.pasv.listen(1)
            port = self.pasv.getsockname()[1]
            self.send("227 Entering Passive Mode (127,0,0,1,%d,%d)" % (port >> 8, port & 0xFF))
        elif word == "RETR":
            self.retr(pattern(FILE_SIZE, PATTERN_BLOCK), True)
        elif word in ("LIST", "NLST"):
            self.retr(b"-rw-r--r--   1 ftp ftp %d Dec 08 12:00 file.bin\r\n" % FILE_SIZE, False)
        elif word == "QUIT":
            self.send("221 Bye")
            return False
        else:
            self.send("502 Not implemented")
        return True

    def retr(self, data, is_file):
        if not self.pasv:
            self.send("425 Use PASV first")
            return
        if is_file:
            self.send("150 Opening BINARY mode data connection (%d bytes)" % len(data))
        else:
            self.send("150 Here comes the listing")
        raw, _ = self.pasv.accept()
        self.pasv.close()
        self.pasv = None
        conn = raw
        if self.prot:
            try:
                conn = self.ctx.wrap_socket(raw, server_side=True)
            except (ssl.SSLError, OSError) as e:
                report("DATA HANDSHAKE failed %s" % e.__class__.__name__)
                raw.close()
                self.send("425 TLS negotiation failed")
                return
        if self.mode == "alert" and self.prot and is_file:
            conn.sendall(data[:BREAK_AT])
            send_broken_record(conn)
            conn.shutdown(socket.SHUT_RDWR)
            conn.close()
        elif self.mode == "cut" and self.prot and is_file:
            conn.sendall(data[:BREAK_AT])
            conn.shutdown(socket.SHUT_RDWR)
            conn.close()
        else:
            conn.sendall(data)
            if self.prot:
                try:
                    conn = conn.unwrap()
                except (ssl.SSLError, OSError):
                    pass
            conn.close()
        self.send("226 Transfer complete")


def main():
    mode, cert, key = sys.argv[1:4]
    ctx = server_context(cert, key)
    serve_forever(lambda raw: safe_run(Session(raw, mode, ctx)), 8)


def safe_run(session):
    try:
        session.run()
    except (ssl.SSLError, OSError) as e:
        report("END %s" % e.__class__.__name__)
    try:
        session.sock.close()
    except OSError:
        pass


if __name__ == "__main__":
    main()
