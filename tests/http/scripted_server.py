#!/usr/bin/python3
"""Scripted HTTP/1.0 peer for the HTTP client tests.

Listens on 127.0.0.1 on a port the system picks and prints that port on the
first line of stdout. Each request path selects one scripted behaviour (see
ROUTES). A request whose target is an absolute URL is treated as a proxied
request: with --proxy-auth USER:PASS it must carry a matching
Proxy-Authorization header, else the answer is 407.
"""

import argparse
import base64
import select
import socket
import ssl
import sys
import threading
import time
import urllib.parse

SERVER_AUTH = "alice:s3cret"


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data and b"\n\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
    sep = b"\r\n\r\n" if b"\r\n\r\n" in data else b"\n\n"
    head, _, body = data.partition(sep)
    lines = head.decode("latin-1").split("\r\n" if sep == b"\r\n\r\n" else "\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    length = int(headers.get("content-length", "0") or "0")
    while len(body) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        body += chunk
    return lines[0], headers, data[: len(head) + len(sep)] + body


def response(status, headers=(), body=b""):
    text = "HTTP/1.0 %s\r\n" % status
    for name, value in headers:
        text += "%s: %s\r\n" % (name, value)
    return text.encode("latin-1") + b"\r\n" + body


def wait_for_client_close(conn, limit=20.0):
    conn.settimeout(limit)
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def relay(a, b):
    """Copies bytes both ways until either side closes."""
    socks = [a, b]
    while True:
        ready, _, _ = select.select(socks, [], [], 30)
        if not ready:
            return
        for s in ready:
            data = s.recv(65536)
            if not data:
                return
            (b if s is a else a).sendall(data)


def tunnel(conn, target, headers, proxy_auth):
    if proxy_auth is not None:
        expected = "Basic " + base64.b64encode(proxy_auth.encode()).decode()
        if headers.get("proxy-authorization") != expected:
            conn.sendall(response("407 Proxy Authentication Required",
                                  [("Proxy-Authenticate", 'Basic realm="proxy"')]))
            return
    host, _, port = target.rpartition(":")
    try:
        upstream = socket.create_connection((host, int(port)), timeout=10)
    except OSError:
        conn.sendall(response("502 Bad Gateway"))
        return
    conn.sendall(b"HTTP/1.0 200 Connection established\r\n\r\n")
    try:
        relay(conn, upstream)
    finally:
        upstream.close()


def big_header(conn, total):
    """Header lines until `total` bytes went out or the client gave up."""
    conn.sendall(b"HTTP/1.0 200 OK\r\n")
    line = b"X-Filler: " + b"f" * 100 + b"\r\n"
    block = line * 1000
    sent = 0
    try:
        while sent < total:
            conn.sendall(block)
            sent += len(block)
    except OSError:
        pass


def handle(conn, port, proxy_auth):
    request = read_request(conn)
    if request is None:
        return
    request_line, headers, raw = request
    target = request_line.split(" ")[1] if " " in request_line else "/"
    if request_line.startswith("CONNECT "):
        tunnel(conn, target, headers, proxy_auth)
        return
    if target.startswith("http://"):
        if proxy_auth is not None:
            expected = "Basic " + base64.b64encode(proxy_auth.encode()).decode()
            if headers.get("proxy-authorization") != expected:
                conn.sendall(response("407 Proxy Authentication Required",
                                      [("Proxy-Authenticate", 'Basic realm="proxy"')], b"who are you"))
                return
        target = "/" + target.split("/", 3)[3] if target.count("/") >= 3 else "/"
    path = target.split("?")[0]
    query = urllib.parse.parse_qs(target.split("?", 1)[1]) if "?" in target else {}

    if path.startswith("/echo"):
        # A HEAD gets the header only, as from any server.
        body = b"" if request_line.startswith("HEAD ") else raw
        conn.sendall(response("200 OK", [("Content-Type", "text/plain"), ("Content-Length", len(raw))], body))
    elif path.startswith("/redir/"):
        left = int(path[len("/redir/"):])
        if left > 0:
            conn.sendall(response("302 Found", [("Location", "/redir/%d" % (left - 1))], b"moved"))
        else:
            conn.sendall(response("200 OK", [("Content-Length", 7)], b"arrived"))
    elif path == "/absredir":
        conn.sendall(response("301 Moved Permanently", [("Location", "http://127.0.0.1:%d/echo/abs" % port)]))
    elif path == "/relredir":
        conn.sendall(response("302 Found", [("Location", "echo")]))
    elif path.startswith("/goto"):
        # /goto?u=URL (302), /goto303, /goto301, /goto307: a Location of
        # any form, taken as given.
        code = {"/goto": "302 Found", "/goto301": "301 Moved Permanently", "/goto303": "303 See Other",
                "/goto307": "307 Temporary Redirect"}[path]
        conn.sendall(response(code, [("Location", query["u"][0])], b"moved"))
    elif path.startswith("/dir/"):
        # Relative Locations resolved against /dir/sub/page.
        conn.sendall(response("302 Found", [("Location", query["u"][0])]))
    elif path == "/bigheader":
        big_header(conn, int(query.get("n", ["1073741824"])[0]))
    elif path == "/headerlines":
        n = int(query["n"][0])
        conn.sendall(response("200 OK", [("X-Line-%d" % i, "v") for i in range(n)], b"lines-ok"))
    elif path == "/loop":
        conn.sendall(response("302 Found", [("Location", "/loop")]))
    elif path == "/auth":
        expected = "Basic " + base64.b64encode(SERVER_AUTH.encode()).decode()
        if headers.get("authorization") == expected:
            conn.sendall(response("200 OK", [("Content-Length", 7)], b"welcome"))
        else:
            conn.sendall(response("401 Unauthorized", [("WWW-Authenticate", 'Basic realm="tarvik"')],
                                  b"denied"))
    elif path == "/missing":
        conn.sendall(response("404 Not Found", [("Content-Type", "text/html")], b"<p>no such page</p>"))
    elif path == "/nohdr":
        conn.sendall(b"<hTmL><body>\r\nline two\nline three\r\n</body></html>\n")
    elif path == "/longline":
        conn.sendall(b"HTTP/1.0 200 OK\r\nX-Long: " + b"a" * 10000 + b"\r\n\r\nbody")
        wait_for_client_close(conn)
    elif path == "/midbody":
        conn.sendall(response("200 OK", [("Content-Length", 1000)], b"m" * 300))
    elif path == "/slow":
        conn.sendall(response("200 OK", [("Content-Length", 100000)], b"s" * 100))
        wait_for_client_close(conn)
    elif path == "/fields":
        conn.sendall(response("206 Partial Content", [
            ("Content-Range", "bytes 100-199/1000"),
            ("Accept-Ranges", "bytes"),
            ("Content-Type", "Text/HTML; Charset=UTF-8"),
            ("Set-Cookie", "a=1; path=/"),
            ("Set-Cookie", "b=2"),
            ("X-Other", "kept"),
            ("Content-Length", 100)], b"r" * 100))
    elif path == "/file.exe":
        conn.sendall(response("200 OK", [("Content-Type", "text/html")], b"<p>x</p>"))
    elif path == "/badlength":
        conn.sendall(response("200 OK", [("Content-Length", "abc")], b"hello"))
    elif path == "/lf":
        conn.sendall(b"HTTP/1.1 200 Fine\nContent-Length: 5\nX-Lf: yes\n\nlf-ok")
    elif path == "/empty":
        pass
    elif path == "/hold":
        # Sends nothing until the client gives up.
        wait_for_client_close(conn)
    else:
        conn.sendall(response("404 Not Found", [], b"unknown route"))


def serve_one(conn, port, proxy_auth, tls):
    try:
        if tls is not None:
            conn = tls.wrap_socket(conn, server_side=True)
        handle(conn, port, proxy_auth)
        if tls is not None:
            conn = conn.unwrap()
        conn.shutdown(socket.SHUT_WR)
        # Let the client read everything before the socket goes away.
        time.sleep(0.05)
    except OSError:
        pass
    finally:
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--proxy-auth")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"), help="serve https")
    args = parser.parse_args()
    tls = None
    if args.tls:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.tls[0], args.tls[1])
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    port = listener.getsockname()[1]
    sys.stdout.write("%d\n" % port)
    sys.stdout.flush()
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve_one, args=(conn, port, args.proxy_auth, tls), daemon=True).start()


if __name__ == "__main__":
    main()
