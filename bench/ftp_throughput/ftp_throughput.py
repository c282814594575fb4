#!/usr/bin/python3
"""FTP throughput: tarvik-ftp against curl on loopback, and the main window
against tarvik-ftp.

Starts pyftpdlib and vsftpd on 127.0.0.1, then for each server, direction
(download, upload) and mode (passive, active) runs one warm-up and N measured
transfers of a file of random bytes with each client, alternating them.
Prints the median MB/s, the ratio tarvik/curl and the CPU seconds per GiB of
each client (user + system time of the client process).

With the GUI driver (tarvik_bench_gui_transfer, built beside the main window)
the same rounds also move the file through the main window's ReceiveAFile
and SendAFile, offscreen with the progress dialog shown, and a second table
gives the GUI's MB/s against tarvik-ftp's. Both are timed over the transfer
alone, without process start, connection and login (starting Qt and building
the window is no part of a transfer, and vsftpd's login alone takes more
than 100 ms): the GUI over the ReceiveAFile/SendAFile call (the driver's own
clock: size query, TYPE, data connection, transfer, dialog), tarvik-ftp from
the TYPE command after its login to its transfer statistics line (its
--verbose dialogue read as it comes). CPU seconds are the GUI's over the
call, tarvik-ftp's over its whole process.

vsftpd needs root (it logs a local user in through PAM); without root it is
skipped with a note.

The server "vsftpd-tls" is vsftpd requiring FTPS (explicit TLS for logins and
data, sessions resumed on data connections) with a test authority made by
the script: tarvik-ftp runs with --tls and curl with --ssl-reqd, passive
only.

With --tarvik-before PATH a second tarvik-ftp (for example one built from
the main branch) takes part in the same rounds, and the table gains its MB/s
and the ratio of the two builds: a before/after comparison on equal terms.

Usage: ftp_throughput.py [--size-mib N] [--runs N] [--tarvik PATH] [--tarvik-before PATH]
                         [--gui PATH|none] [--servers pyftpdlib,vsftpd] [--modes passive,active]
"""

import argparse
import os
import pwd
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
LAUNCHER = os.path.join(REPO, "tests", "support", "ftpserver_pyftpdlib.py")
VSFTPD_USER = "tarviktest"
VSFTPD_PASSWORD = "Tarvik-Test-1"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_listening(port, timeout=5.0):
    end = time.time() + timeout
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


class Server:
    def __init__(self, name, port, user, password, root, proc, base, ca=None):
        self.name, self.port, self.user, self.password = name, port, user, password
        self.root, self.proc, self.base = root, proc, base
        self.ca = ca  # the authority of an FTPS server's certificate

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        shutil.rmtree(self.base, ignore_errors=True)


def make_base():
    base = tempfile.mkdtemp(prefix="tarvik-bench-")
    os.chmod(base, 0o755)
    root = os.path.join(base, "root")
    os.mkdir(root)
    return base, root


def start_pyftpdlib():
    base, root = make_base()
    proc = subprocess.Popen(["/usr/bin/python3", LAUNCHER, root, "bench", "bench"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    port = int(proc.stdout.readline().strip())
    return Server("pyftpdlib", port, "bench", "bench", root, proc, base)


def make_test_certs(base):
    """The test authority and a certificate for 127.0.0.1, in base/certs."""
    certs = os.path.join(base, "certs")
    subprocess.run(["/bin/sh", os.path.join(REPO, "tests", "net", "tls", "makecerts.sh"), certs], check=True)
    return certs


def start_vsftpd(tls=False):
    if os.geteuid() != 0 or not os.path.exists("/usr/sbin/vsftpd"):
        return None
    try:
        pwd.getpwnam(VSFTPD_USER)
    except KeyError:
        subprocess.run(["useradd", "-M", "-d", "/tmp", "-s", "/bin/bash", VSFTPD_USER], check=True)
    subprocess.run(["usermod", "-d", "/tmp", VSFTPD_USER], check=True)
    subprocess.run(["chpasswd"], input=f"{VSFTPD_USER}:{VSFTPD_PASSWORD}\n", text=True, check=True)
    base, root = make_base()
    user = pwd.getpwnam(VSFTPD_USER)
    os.chown(root, user.pw_uid, user.pw_gid)
    port = free_port()
    conf = os.path.join(base, "vsftpd.conf")
    with open(conf, "w") as f:
        f.write(f"""listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port={port}
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root={root}
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
pasv_enable=YES
port_enable=YES
connect_from_port_20=NO
pam_service_name=vsftpd
userlist_enable=NO
secure_chroot_dir=/var/run/vsftpd/empty
xferlog_enable=NO
vsftpd_log_file={base}/vsftpd.log
max_per_ip=0
max_clients=0
""")
        ca = None
        if tls:
            certs = make_test_certs(base)
            ca = os.path.join(certs, "ca.pem")
            f.write(f"""ssl_enable=YES
rsa_cert_file={certs}/good.pem
rsa_private_key_file={certs}/good.key
force_local_logins_ssl=YES
force_local_data_ssl=YES
require_ssl_reuse=YES
ssl_tlsv1=YES
ssl_ciphers=HIGH
""")
    os.chmod(conf, 0o600)
    proc = subprocess.Popen(["/usr/sbin/vsftpd", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not wait_listening(port):
        proc.kill()
        return None
    return Server("vsftpd-tls" if tls else "vsftpd", port, VSFTPD_USER, VSFTPD_PASSWORD, root, proc, base, ca)


def run_timed(cmd, env=None):
    """Returns (wall seconds, CPU seconds of the child)."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} failed ({proc.returncode}): {err}")
    return wall, usage.ru_utime + usage.ru_stime


def run_timed_dialogue(cmd, env):
    """Like run_timed, and also returns the stderr lines with the time each arrived."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    lines = [(time.monotonic(), line.decode(errors="replace").rstrip("\n")) for line in iter(proc.stderr.readline, b"")]
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    proc.stderr.close()
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} failed ({proc.returncode}): {chr(10).join(l for _, l in lines)}")
    return wall, usage.ru_utime + usage.ru_stime, lines


def transfer_seconds(lines):
    """From the TYPE command after the login to the transfer statistics line."""
    begin = next((t for t, l in lines if l.startswith("> TYPE ")), None)
    end = next((t for t, l in lines if l.startswith("! ") and "bytes received/sent" in l), None)
    if begin is None or end is None:
        raise RuntimeError("tarvik-ftp's dialogue lacks the TYPE or the statistics line:\n" +
                           "\n".join(l for _, l in lines))
    return end - begin


def tarvik_cmd(tarvik, server, direction, mode, local, remote):
    cmd = [tarvik, "--port", str(server.port), "--user", server.user, "--timeout", "120"]
    if server.ca:
        cmd += ["--tls", "--cacert", server.ca]
    if mode == "passive":
        cmd.append("--passive")
    cmd.append("127.0.0.1")
    if direction == "download":
        cmd += ["get", remote, local]
    else:
        cmd += ["put", local, remote]
    return cmd


def gui_cmd(gui, server, direction, mode, local, remote, size):
    cmd = [gui, "get" if direction == "download" else "put", "--port", str(server.port), "--user", server.user,
           "--remote", remote, "--local", local, "--size", str(size)]
    if mode == "passive":
        cmd.append("--passive")
    return cmd


def run_gui(cmd, env):
    """Returns (seconds, CPU seconds) of the transfer call, as the driver measured them."""
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True)
    if proc.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} failed ({proc.returncode}): {proc.stderr}")
    for line in proc.stdout.splitlines():
        if line.startswith("gui_transfer "):
            fields = dict(f.split("=", 1) for f in line.split()[1:])
            return float(fields["transfer_s"]), float(fields["transfer_cpu_s"])
    raise RuntimeError(f"{' '.join(cmd)} printed no result: {proc.stdout}")


def curl_cmd(server, direction, mode, local, remote):
    url = f"ftp://127.0.0.1:{server.port}/{remote}"
    cmd = ["curl", "-s", "-S", "--user", f"{server.user}:{server.password}"]
    if server.ca:
        cmd += ["--ssl-reqd", "--cacert", server.ca]
    if mode == "passive":
        cmd += ["--ftp-pasv", "--disable-epsv"]
    else:
        cmd += ["--ftp-port", "127.0.0.1", "--disable-eprt"]
    if direction == "download":
        cmd += ["-o", local, url]
    else:
        cmd += ["-T", local, url]
    return cmd


def make_random_file(path, size):
    chunk = 1 << 20
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(chunk, left)
            f.write(os.urandom(n))
            left -= n


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--size-mib", type=int, default=1024)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--tarvik", default=os.path.join(REPO, "build", "release", "cli", "tarvik-ftp"))
    ap.add_argument("--tarvik-before", default=None,
                    help="a second tarvik-ftp to compare with, run in the same rounds")
    ap.add_argument("--gui", default=os.path.join(REPO, "build", "release", "bench", "ftp_throughput",
                                                  "tarvik_bench_gui_transfer"),
                    help="the GUI transfer driver, or 'none' to leave the GUI out")
    ap.add_argument("--servers", default="pyftpdlib,vsftpd,vsftpd-tls")
    ap.add_argument("--modes", default="passive,active")
    args = ap.parse_args()

    if not os.access(args.tarvik, os.X_OK):
        sys.exit(f"tarvik-ftp not found at {args.tarvik} (build the release preset or pass --tarvik)")
    if args.tarvik_before and not os.access(args.tarvik_before, os.X_OK):
        sys.exit(f"no tarvik-ftp at {args.tarvik_before}")
    if not shutil.which("curl"):
        sys.exit("curl is not installed (apt-get install curl)")

    gui = None
    if args.gui != "none":
        if os.access(args.gui, os.X_OK):
            gui = args.gui
        else:
            print(f"note: no GUI driver at {args.gui}, the GUI table is left out", file=sys.stderr)

    size = args.size_mib << 20
    gib = size / float(1 << 30)
    work = tempfile.mkdtemp(prefix="tarvik-bench-local-")
    source = os.path.join(work, "source.bin")
    make_random_file(source, size)

    servers = []
    for name in args.servers.split(","):
        server = (start_pyftpdlib() if name == "pyftpdlib" else start_vsftpd() if name == "vsftpd" else
                  start_vsftpd(tls=True) if name == "vsftpd-tls" else None)
        if server is None:
            print(f"note: {name} cannot run here, skipped", file=sys.stderr)
            continue
        servers.append(server)

    env = dict(os.environ)
    gui_env = dict(os.environ)
    gui_env["QT_QPA_PLATFORM"] = "offscreen"
    runtime = os.path.join(work, "runtime")
    os.mkdir(runtime, 0o700)
    gui_env.setdefault("XDG_RUNTIME_DIR", runtime)
    rows = []
    gui_rows = []
    if gui:
        print("note: tarvik-ftp runs with --verbose so that its transfer can be timed", file=sys.stderr)
    try:
        for server in servers:
            remote_source = os.path.join(server.root, "source.bin")
            shutil.copyfile(source, remote_source)
            if server.name.startswith("vsftpd"):
                u = pwd.getpwnam(VSFTPD_USER)
                os.chown(remote_source, u.pw_uid, u.pw_gid)
            for direction in ("download", "upload"):
                for mode in args.modes.split(","):
                    if server.ca and mode != "passive":
                        continue
                    results = {"tarvik": [], "curl": [], "before": [], "gui": []}
                    cli_transfer = []  # tarvik-ftp's transfer alone, (seconds, CPU seconds)
                    clients = (["tarvik", "curl"] + (["before"] if args.tarvik_before else []) +
                               (["gui"] if gui and not server.ca else []))
                    for i in range(args.runs + 1):  # the first round warms up
                        # Each client takes each place in the order in turn.
                        shift = i % len(clients)
                        order = clients[shift:] + clients[:shift]
                        if len(clients) == 2 and i % 2:
                            order = ["curl", "tarvik"]
                        for client in order:
                            local = os.path.join(work, "down.bin") if direction == "download" else source
                            remote = "source.bin" if direction == "download" else f"up-{client}.bin"
                            env["TARVIK_PASSWORD"] = server.password
                            gui_env["TARVIK_PASSWORD"] = server.password
                            if client == "gui":
                                wall, cpu = run_gui(gui_cmd(gui, server, direction, mode, local, remote, size),
                                                    gui_env)
                            elif client == "tarvik" and gui:
                                cmd = tarvik_cmd(args.tarvik, server, direction, mode, local, remote)
                                cmd.insert(1, "--verbose")
                                wall, cpu, lines = run_timed_dialogue(cmd, env)
                                if i > 0:
                                    cli_transfer.append((transfer_seconds(lines), cpu))
                            elif client == "before":
                                wall, cpu = run_timed(
                                    tarvik_cmd(args.tarvik_before, server, direction, mode, local, remote), env)
                            else:
                                cmd = (tarvik_cmd(args.tarvik, server, direction, mode, local, remote)
                                       if client == "tarvik" else curl_cmd(server, direction, mode, local, remote))
                                wall, cpu = run_timed(cmd, env)
                            check = os.path.join(work, "down.bin") if direction == "download" else \
                                os.path.join(server.root, remote)
                            if os.path.getsize(check) != size:
                                raise RuntimeError(f"{client} {direction} moved {os.path.getsize(check)} bytes")
                            if i > 0:
                                results[client].append((wall, cpu))
                            if direction == "download":
                                os.remove(check)
                    med = {c: statistics.median(w for w, _ in r) for c, r in results.items() if r}
                    cpu = {c: statistics.median(p for _, p in r) / gib for c, r in results.items() if r}
                    mbps = {c: size / 1e6 / med[c] for c in med}
                    rows.append((server.name, direction, mode, mbps["tarvik"], mbps["curl"],
                                 mbps["tarvik"] / mbps["curl"], cpu["tarvik"], cpu["curl"],
                                 mbps.get("before"), cpu.get("before")))
                    if gui and results["gui"]:
                        cli = size / 1e6 / statistics.median(s for s, _ in cli_transfer)
                        gui_rows.append((server.name, direction, mode, mbps["gui"], cli, mbps["gui"] / cli,
                                         cpu["gui"], cpu["tarvik"]))
                        per_run = " ".join(f"{c / g:.2f}" for (g, _), (c, _) in zip(results["gui"], cli_transfer))
                        print(f"  gui/cli per round: {per_run}", file=sys.stderr)
                    print(f"  done: {server.name} {direction} {mode}", file=sys.stderr)
            for f in os.listdir(server.root):
                os.remove(os.path.join(server.root, f))
    finally:
        for server in servers:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)

    print(f"\nFTP throughput on loopback, {args.size_mib} MiB of random bytes, median of {args.runs} runs")
    header = ("server", "direction", "mode", "tarvik MB/s", "curl MB/s", "tarvik/curl", "tarvik CPU s/GiB",
              "curl CPU s/GiB")
    if args.tarvik_before:
        header += ("before MB/s", "after/before", "before/curl", "before CPU s/GiB")
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for r in rows:
        line = f"| {r[0]} | {r[1]} | {r[2]} | {r[3]:.0f} | {r[4]:.0f} | {r[5]:.2f} | {r[6]:.2f} | {r[7]:.2f} |"
        if r[8] is not None:
            line += f" {r[8]:.0f} | {r[3] / r[8]:.2f} | {r[8] / r[4]:.2f} | {r[9]:.2f} |"
        print(line)

    if gui_rows:
        print(f"\nMain window (ReceiveAFile/SendAFile, offscreen, progress dialog shown) against tarvik-ftp, "
              f"{args.size_mib} MiB, median of {args.runs} runs")
        header = ("server", "direction", "mode", "GUI MB/s", "CLI MB/s", "GUI/CLI", "GUI CPU s/GiB",
                  "CLI CPU s/GiB")
        print("| " + " | ".join(header) + " |")
        print("|" + "---|" * len(header))
        for r in gui_rows:
            print(f"| {r[0]} | {r[1]} | {r[2]} | {r[3]:.0f} | {r[4]:.0f} | {r[5]:.2f} | {r[6]:.2f} | {r[7]:.2f} |")


if __name__ == "__main__":
    main()
