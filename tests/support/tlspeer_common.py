"""What the scripted TLS peers of the tests share.

The socket tests' TLS peer (tests/net/tls/tlspeer.py) and the scripted FTPS
server (tests/ftps/ftpsfake.py) both listen on 127.0.0.1 on a port the
system picks, print that port on the first line of stdout and serve each
connection on a thread of its own; both speak TLS with a certificate and key
given on their command line, and both can break a TLS stream on purpose.
"""

import os
import socket
import ssl
import sys
import threading

# A record header announcing 16 bytes of application data followed by
# zeros: no valid record, so the peer's TLS layer reports a broken stream.
BROKEN_RECORD = b"\x17\x03\x03\x00\x10" + b"\x00" * 16


def report(text):
    """Prints one line on stdout at once (the tests read it as it comes)."""
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def pattern(n, block):
    """n bytes of `block` repeated."""
    return (block * (n // len(block) + 1))[:n]


def read_line(conn, buf):
    """Reads up to the next line feed; returns (line, rest of the buffer).

    The line is None when the connection ended first.
    """
    while b"\n" not in buf:
        chunk = conn.recv(65536)
        if not chunk:
            return None, buf
        buf += chunk
    line, _, rest = buf.partition(b"\n")
    return line.rstrip(b"\r").decode("latin-1"), rest


def server_context(cert, key, tls12_only=False, tls13_only=False, strict_eof=False):
    """A server context of TLS 1.2 or later with the certificate `cert`.

    strict_eof: a connection closed without close_notify raises an error
    instead of reading as a proper end.
    """
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert, key)
    if strict_eof:
        ctx.options &= ~ssl.OP_IGNORE_UNEXPECTED_EOF
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    if tls12_only:
        ctx.maximum_version = ssl.TLSVersion.TLSv1_2
    if tls13_only:
        ctx.minimum_version = ssl.TLSVersion.TLSv1_3
    return ctx


def send_broken_record(conn):
    """Writes BROKEN_RECORD under the TLS layer of `conn`."""
    os.write(conn.fileno(), BROKEN_RECORD)


def serve_forever(handle, backlog):
    """Listens on 127.0.0.1, prints the port, and runs handle(raw socket) on
    a thread for every connection."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(backlog)
    report(str(listener.getsockname()[1]))
    while True:
        raw, _ = listener.accept()
        threading.Thread(target=handle, args=(raw,), daemon=True).start()
