#!/usr/bin/python3
"""HTTPS download throughput: tarvik-url against curl on loopback.

Makes a test authority and a certificate for localhost (with the TLS tests'
tests/net/tls/makecerts.sh), starts nginx on 127.0.0.1 serving a file of
random bytes over https, then runs one warm-up and N measured downloads with
each client, alternating them, both writing to a file in the same folder and
trusting the same authority. Prints the median MB/s of each, the ratio
tarvik/curl, and the CPU seconds per GiB of each client process (user +
system). Every download is checked for its size and SHA-256.

Usage: url_throughput.py [--size-mib N] [--runs N] [--tarvik-url PATH]
"""

import argparse
import hashlib
import os
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
MAKECERTS = os.path.join(REPO, "tests", "net", "tls", "makecerts.sh")


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_listening(port, timeout=10.0):
    end = time.time() + timeout
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                return h.hexdigest()
            h.update(block)


def timed(cmd):
    """Runs cmd; returns (wall seconds, cpu seconds of the child)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    result = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (result.returncode, " ".join(cmd), result.stderr.decode(errors="replace")))
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mib", type=int, default=512)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--tarvik-url", default=os.path.join(REPO, "build", "release", "cli", "tarvik-url"))
    args = parser.parse_args()
    for tool in ("nginx", "curl", "openssl"):
        if shutil.which(tool) is None and not os.path.exists("/usr/sbin/" + tool):
            sys.exit("%s is not installed (scripts/install-deps)" % tool)
    if not os.access(args.tarvik_url, os.X_OK):
        sys.exit("no tarvik-url at %s (build the release preset)" % args.tarvik_url)

    work = tempfile.mkdtemp(prefix="tarvik-url-bench-")
    # nginx's workers may run as another user (nobody, when started as root).
    os.chmod(work, 0o755)
    nginx = None
    try:
        certs = os.path.join(work, "certs")
        subprocess.run(["/bin/sh", MAKECERTS, certs], check=True)
        root = os.path.join(work, "www")
        os.makedirs(root)
        size = args.size_mib * 1024 * 1024
        source = os.path.join(root, "big.bin")
        with open(source, "wb") as f:
            for _ in range(args.size_mib):
                f.write(os.urandom(1024 * 1024))
        os.chmod(source, 0o644)
        digest = sha256_file(source)

        port = free_port()
        conf = os.path.join(work, "nginx.conf")
        with open(conf, "w") as f:
            f.write("""
worker_processes 1;
daemon off;
pid %(work)s/nginx.pid;
error_log %(work)s/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path %(work)s/body;
  proxy_temp_path %(work)s/proxy;
  fastcgi_temp_path %(work)s/fastcgi;
  uwsgi_temp_path %(work)s/uwsgi;
  scgi_temp_path %(work)s/scgi;
  server {
    listen 127.0.0.1:%(port)d ssl;
    server_name localhost;
    ssl_certificate %(certs)s/good.pem;
    ssl_certificate_key %(certs)s/good.key;
    root %(root)s;
  }
}
""" % {"work": work, "port": port, "certs": certs, "root": root})
        nginx_bin = shutil.which("nginx") or "/usr/sbin/nginx"
        nginx = subprocess.Popen([nginx_bin, "-c", conf, "-p", work], stderr=subprocess.DEVNULL)
        if not wait_listening(port):
            sys.exit("nginx did not start")

        url = "https://localhost:%d/big.bin" % port
        ca = os.path.join(certs, "ca.pem")
        out = os.path.join(work, "out.bin")
        clients = {
            "curl": ["curl", "--silent", "--show-error", "--fail", "--cacert", ca, "-o", out, url],
            "tarvik-url": [args.tarvik_url, "--cacert", ca, "--output", out, url],
        }
        results = {name: [] for name in clients}
        for run in range(args.runs + 1):
            for name, cmd in clients.items():
                if os.path.exists(out):
                    os.remove(out)
                wall, cpu = timed(cmd)
                if os.path.getsize(out) != size or sha256_file(out) != digest:
                    sys.exit("%s delivered a different file" % name)
                if run > 0:  # the first round warms caches up
                    results[name].append((wall, cpu))

        gib = size / float(1 << 30)
        print("https download of %d MiB from nginx on 127.0.0.1, %d runs each (median)" % (args.size_mib, args.runs))
        print("%-12s %10s %14s" % ("client", "MB/s", "CPU s per GiB"))
        rates = {}
        for name, runs in results.items():
            wall = statistics.median(w for w, _ in runs)
            cpu = statistics.median(c for _, c in runs)
            rates[name] = size / wall / 1e6
            print("%-12s %10.1f %14.2f" % (name, rates[name], cpu / gib))
        print("ratio tarvik-url/curl: %.2fx" % (rates["tarvik-url"] / rates["curl"]))
    finally:
        if nginx is not None:
            nginx.terminate()
            try:
                nginx.wait(10)
            except subprocess.TimeoutExpired:
                nginx.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
