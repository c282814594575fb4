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
import socket
import sys
import threading
import time

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


def handle(conn, port, proxy_auth):
    request = read_request(conn)
    if request is None:
        return
    request_line, headers, raw = request
    target = request_line.split(" ")[1] if " " in request_line else "/"
    if target.startswith("http://"):
        if proxy_auth is not None:
            expected = "Basic " + base64.b64encode(proxy_auth.encode()).decode()
            if headers.get("proxy-authorization") != expected:
                conn.sendall(response("407 Proxy Authentication Required",
                                      [("Proxy-Authenticate", 'Basic realm="proxy"')], b"who are you"))
                return
        target = "/" + target.split("/", 3)[3] if target.count("/") >= 3 else "/"
    path = target.split("?")[0]

    if path.startswith("/echo"):
        conn.sendall(response("200 OK", [("Content-Type", "text/plain"), ("Content-Length", len(raw))], raw))
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


def serve_one(conn, port, proxy_auth):
    try:
        handle(conn, port, proxy_auth)
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
    args = parser.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    port = listener.getsockname()[1]
    sys.stdout.write("%d\n" % port)
    sys.stdout.flush()
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve_one, args=(conn, port, args.proxy_auth), daemon=True).start()


if __name__ == "__main__":
    main()
