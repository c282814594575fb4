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
import threading


def pattern(n):
    block = bytes(range(256)) * 256
    out = bytearray()
    while len(out) < n:
        out += block
    return bytes(out[:n])


def report(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def read_line(conn, buf):
    while b"\n" not in buf:
        chunk = conn.recv(65536)
        if not chunk:
            return None, buf
        buf += chunk
    line, _, rest = buf.partition(b"\n")
    return line.rstrip(b"\r").decode("latin-1"), rest


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
                conn.sendall(pattern(int(line[4:])) + b"END\r\n")
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
                os.write(conn.fileno(), b"\x17\x03\x03\x00\x10" + b"\x00" * 16)
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

    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(args.cert, args.key)
    # Tell a connection cut without close_notify from a proper end.
    ctx.options &= ~ssl.OP_IGNORE_UNEXPECTED_EOF
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    if args.tls12:
        ctx.maximum_version = ssl.TLSVersion.TLSv1_2
    if args.tls13:
        ctx.minimum_version = ssl.TLSVersion.TLSv1_3

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    report(str(listener.getsockname()[1]))
    while True:
        raw, _ = listener.accept()
        threading.Thread(target=serve, args=(raw, ctx, args.explicit), daemon=True).start()


if __name__ == "__main__":
    main()
