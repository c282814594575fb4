#!/usr/bin/python3
"""Tree mirroring: tarvik-ftp mirror against lftp mirror on loopback vsftpd.

Starts vsftpd on 127.0.0.1 (the launcher of bench/ftp_throughput), builds a
tree of 2,000 files of 8 KiB and 20 files of 20 MiB, then in the same run
downloads it (tarvik-ftp mirror --parallel N / lftp mirror --parallel=N) and
uploads it (mirror --reverse / mirror -R), each client in turn, into fresh
folders. Every copy is compared with the source byte for byte. Prints the
wall seconds and CPU seconds (user + system of the client process) of each
client, the speed ratio lftp/tarvik (above 1: tarvik is faster) and the CPU
ratio.

The trees live on a tmpfs (/dev/shm) when there is one with room, or in
--scratch. On ext4, files created just after thousands were deleted are
slow to create: the inode allocator steps over recently freed inodes, and
whichever client runs after a deletion pays more for that than for its own
work. A tmpfs measures the clients.

vsftpd needs root; without root the script stops with a note.

Usage: mirror_bench.py [--tarvik PATH] [--parallel N] [--runs N] [--scratch DIR]
                       [--small N] [--small-kib N] [--large N] [--large-mib N]
"""

import argparse
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "bench", "ftp_throughput"))
import ftp_throughput as servers  # noqa: E402  (the server launchers)


def make_tree(root, small, small_kib, large, large_mib):
    folders = [os.path.join(root, f"dir{i:02d}") for i in range(20)]
    for folder in folders:
        os.makedirs(folder)
    for i in range(small):
        with open(os.path.join(folders[i % len(folders)], f"small {i:04d}.bin"), "wb") as f:
            f.write(os.urandom(small_kib * 1024))
    block = os.urandom(1024 * 1024)
    for i in range(large):
        with open(os.path.join(root, f"large {i:02d}.bin"), "wb") as f:
            for m in range(large_mib):
                # Every MiB different, cheaply.
                f.write(block[m:] + block[:m])


def same_tree(a, b):
    compare = filecmp.dircmp(a, b)
    if compare.left_only or compare.right_only or compare.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, compare.common_files, shallow=False)
    if mismatch or errors:
        return False
    return all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in compare.common_dirs)


def scratch_folder(needed_mib):
    shm = "/dev/shm"
    try:
        stat = os.statvfs(shm)
    except OSError:
        return None
    free_mib = stat.f_bavail * stat.f_frsize / (1024 * 1024)
    return shm if free_mib > needed_mib * 1.5 else None


def share(path, server):
    user = servers.pwd.getpwnam(server.user)
    for folder, dirs, files in os.walk(path):
        os.chown(folder, user.pw_uid, user.pw_gid)
        for name in files:
            os.chown(os.path.join(folder, name), user.pw_uid, user.pw_gid)


def lftp(server, script):
    return ["lftp", "-u", f"{server.user},{server.password}", "-p", str(server.port),
            "-e", "set ftp:passive-mode on; set net:max-retries 2; set xfer:clobber on; " + script + "; quit",
            "127.0.0.1"]


def tarvik(path, server, parallel, *args):
    env = dict(os.environ, TARVIK_PASSWORD=server.password)
    return [path, "--user", server.user, "--passive", "--port", str(server.port), "127.0.0.1", "mirror",
            "--parallel", str(parallel), *args], env


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tarvik", default=os.path.join(REPO, "build", "release", "cli", "tarvik-ftp"))
    parser.add_argument("--parallel", type=int, default=4)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--small", type=int, default=2000)
    parser.add_argument("--small-kib", type=int, default=8)
    parser.add_argument("--large", type=int, default=20)
    parser.add_argument("--large-mib", type=int, default=20)
    parser.add_argument("--scratch", default=None, help="folder for the trees (default: /dev/shm when it has room)")
    args = parser.parse_args()
    tree_mib = args.small * args.small_kib / 1024 + args.large * args.large_mib
    # The source, its local copy and one download and one upload at a time.
    tempfile.tempdir = args.scratch or scratch_folder(4 * tree_mib)
    if not shutil.which("lftp"):
        sys.exit("mirror_bench: lftp is not installed")
    server = servers.start_vsftpd()
    if server is None:
        sys.exit("mirror_bench: vsftpd needs root and /usr/sbin/vsftpd")
    work = tempfile.mkdtemp(prefix="tarvik-mirror-bench-")
    results = {}
    try:
        source = os.path.join(server.root, "tree")
        make_tree(source, args.small, args.small_kib, args.large, args.large_mib)
        share(source, server)
        local_source = os.path.join(work, "source")
        shutil.copytree(source, local_source)
        for run in range(args.runs):
            for client in ("lftp", "tarvik") if run % 2 == 0 else ("tarvik", "lftp"):
                # Download.
                target = os.path.join(work, f"down-{client}-{run}")
                if client == "lftp":
                    cmd, env = lftp(server, f"mirror --parallel={args.parallel} tree {target}"), None
                else:
                    cmd, env = tarvik(args.tarvik, server, args.parallel, "tree", target)
                wall, cpu = servers.run_timed(cmd, env)
                if not same_tree(source, target):
                    sys.exit(f"mirror_bench: {client} download differs from the source")
                results.setdefault((client, "download"), []).append((wall, cpu))
                shutil.rmtree(target)
                # Upload.
                remote = f"up-{client}-{run}"
                if client == "lftp":
                    cmd, env = lftp(server, f"mirror -R --parallel={args.parallel} {local_source} {remote}"), None
                else:
                    cmd, env = tarvik(args.tarvik, server, args.parallel, "--reverse", remote, local_source)
                wall, cpu = servers.run_timed(cmd, env)
                if not same_tree(local_source, os.path.join(server.root, remote)):
                    sys.exit(f"mirror_bench: {client} upload differs from the source")
                results.setdefault((client, "upload"), []).append((wall, cpu))
                shutil.rmtree(os.path.join(server.root, remote))
    finally:
        server.stop()
        shutil.rmtree(work, ignore_errors=True)

    total_mib = (args.small * args.small_kib / 1024) + args.large * args.large_mib
    print(f"\nTrees in {tempfile.gettempdir()}")
    print(f"vsftpd on 127.0.0.1, {args.small} files of {args.small_kib} KiB + {args.large} files of "
          f"{args.large_mib} MiB ({total_mib:.0f} MiB), --parallel {args.parallel}, {args.runs} run(s), medians\n")
    print("| direction | lftp s | tarvik s | speed lftp/tarvik | lftp CPU s | tarvik CPU s | CPU tarvik/lftp |")
    print("|---|---|---|---|---|---|---|")
    for direction in ("download", "upload"):
        lw = statistics.median(w for w, _ in results[("lftp", direction)])
        lc = statistics.median(c for _, c in results[("lftp", direction)])
        tw = statistics.median(w for w, _ in results[("tarvik", direction)])
        tc = statistics.median(c for _, c in results[("tarvik", direction)])
        print(f"| {direction} | {lw:.2f} | {tw:.2f} | {lw / tw:.2f}x | {lc:.2f} | {tc:.2f} | {tc / lc:.2f} |")


if __name__ == "__main__":
    main()
