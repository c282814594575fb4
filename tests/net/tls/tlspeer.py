#!/usr/bin/python3
"""TLS peer for the socket and client tests.

Listens on 127.0.0.1 on a port the system picks and prints that port on the
first line of stdout. Every connection is TLS from the first byte, or after
a clear-text "STARTTLS" line when --explicit is given. After the handshake
the peer greets with "HELLO <version> reused=<0|1>" and then answers lines:

  ECHO <text>  "ECHO <text>" back
  BIG <n>      n bytes of a fixed pattern, then "END"
  SUM <n>      reads n bytes and answers "SUM <sha256 hex>"
  CLOSE        "BYE", then close_notify and the end of the connection
  CUT          "BYE", then the end of the connection without close_notify
  ALERT        sends garbage in place of a record (a broken TLS stream)

How each connection ended is printed on stdout: "END notify" when the client
sent close_notify, "END cut" when it closed without one.
"""

import argparse
import hashlib
import os
import socket
import ssl
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from tlspeer_common import pattern, read_line, report, send_broken_record, server_context, serve_forever  # noqa: E402

PATTERN_BLOCK = bytes(range(256))


def serve(raw, ctx, explicit):
    buf = b""
    try:
        if explicit:
            line, buf = read_line(raw, buf)
            if line != "STARTTLS":
                raw.close()
                return
            raw.sendall(b"GO\r\n")
        conn = ctx.wrap_socket(raw, server_side=True, suppress_ragged_eofs=False)
    except (ssl.SSLError, OSError) as e:
        report("HANDSHAKE failed %s" % e.__class__.__name__)
        raw.close()
        return
    buf = b""
    conn.sendall(("HELLO %s reused=%d\r\n" % (conn.version(), 1 if conn.session_reused else 0)).encode())
    try:
        while True:
            line, buf = read_line(conn, buf)
            if line is None:
                report("END notify")
                conn.close()
                return
            if line.startswith("ECHO "):
                conn.sendall((line + "\r\n").encode())
            elif line.startswith("BIG "):
                conn.sendall(pattern(int(line[4:]), PATTERN_BLOCK) + b"END\r\n")
            elif line.startswith("SUM "):
                want = int(line[4:])
                data = buf
                while len(data) < want:
                    chunk = conn.recv(65536)
                    if not chunk:
                        break
                    data += chunk
                buf = data[want:]
                conn.sendall(("SUM %s\r\n" % hashlib.sha256(data[:want]).hexdigest()).encode())
            elif line == "CLOSE":
                conn.sendall(b"BYE\r\n")
                raw2 = conn.unwrap()
                raw2.close()
                return
            elif line == "CUT":
                conn.sendall(b"BYE\r\n")
                conn.shutdown(socket.SHUT_RDWR)
                conn.close()
                return
            elif line == "ALERT":
                send_broken_record(conn)
            else:
                conn.sendall(b"ERR\r\n")
    except (ssl.SSLEOFError, ConnectionResetError):
        report("END cut")
    except (ssl.SSLError, OSError) as e:
        if "UNEXPECTED_EOF" in str(e).upper():
            report("END cut")
        else:
            report("END error %s" % e.__class__.__name__)
    try:
        conn.close()
    except OSError:
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--tls12", action="store_true", help="TLS 1.2 only")
    parser.add_argument("--tls13", action="store_true", help="TLS 1.3 only")
    parser.add_argument("--explicit", action="store_true")
    args = parser.parse_args()

    # Tell a connection cut without close_notify from a proper end.
    ctx = server_context(args.cert, args.key, tls12_only=args.tls12, tls13_only=args.tls13, strict_eof=True)
    serve_forever(lambda raw: serve(raw, ctx, args.explicit), 16)


if __name__ == "__main__":
    main()
