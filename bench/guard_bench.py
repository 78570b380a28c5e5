#!/usr/bin/env python3
"""Benchmark qirn-guard: what it adds to opening a file and to running a program.

Needs root. Re-executes itself in a private mount namespace and works on a
tmpfs of its own there, so the guard's marks reach no process outside.

Times, one call at a time, with and without the guard:
- open and close of a 5 KB file: a cache hit (the same settled file again
  and again) and a miss (a different settled file each time, never opened
  before, so each is read and digested);
- fork, exec and wait of a small clean program (a copy of /usr/bin/true):
  hit (the same copy) and miss (a new copy each time).
Prints medians and 99th percentiles, and what the guard adds to each.

With --deb PACKAGE it also times `dpkg --root` of the package into a fresh
folder on the tmpfs, without the guard and with the guard marking this
namespace's own copy of the root mount in exec mode (every program dpkg
runs from /usr is judged). The machine's own dpkg database and /usr are
never touched: that is why the package goes into a folder of its own.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NS_FLAG = "QIRN_GUARD_BENCH_IN_NAMESPACE"


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * (len(ordered) - 1) + 0.5))]


def time_open(path):
    start = time.perf_counter_ns()
    fd = os.open(path, os.O_RDONLY)
    os.close(fd)
    return time.perf_counter_ns() - start


def time_run(path):
    start = time.perf_counter_ns()
    pid = os.posix_spawn(path, [path], {})
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter_ns() - start
    if status != 0:
        sys.exit(f"{path} failed (status {status}): the guard refused a clean program")
    return elapsed


class Guard:
    def __init__(self, program, work, marks, events, signatures, max_size=83000):
        self.status = os.path.join(work, "status")
        if os.path.exists(self.status):
            os.unlink(self.status)
        config = os.path.join(work, "guard.ini")
        with open(config, "w") as out:
            out.write("[guard]\n" + "".join(f"marks = {m}\n" for m in marks))
            out.write(f"events = {events}\nsignatures = {signatures}\nstatus = {self.status}\nsettle = 0\nmax_size = {max_size}\n")
        self.records = open(os.path.join(work, "records.jsonl"), "w")
        self.process = subprocess.Popen([program, "--config", config], stdout=self.records)
        deadline = time.monotonic() + 10
        while not os.path.exists(self.status):
            if self.process.poll() is not None or time.monotonic() > deadline:
                sys.exit("qirn-guard did not start")
            time.sleep(0.01)

    def counts(self):
        with open(self.status) as text:
            return dict(line.split() for line in text if line.strip())

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.records.close()
        return self.counts()


def make_files(folder, prefix, count, content_of):
    os.makedirs(folder, exist_ok=True)
    paths = []
    for i in range(count):
        path = os.path.join(folder, f"{prefix}{i}")
        with open(path, "wb") as out:
            out.write(content_of(i))
        os.chmod(path, 0o755)
        paths.append(path)
    return paths


def measure(marked, rounds, program_bytes, tag):
    """Times of each kind; files are made afresh and left to settle first."""
    rng = random.Random(tag)
    doc = make_files(os.path.join(marked, tag), "doc", 1, lambda i: rng.randbytes(5000))[0]
    docs = make_files(os.path.join(marked, tag), "miss", rounds, lambda i: rng.randbytes(5000))
    prog = make_files(os.path.join(marked, tag), "prog", 1, lambda i: program_bytes + b"hit")[0]
    progs = make_files(os.path.join(marked, tag), "run", rounds // 4,
                       lambda i: program_bytes + str(i).encode())
    time.sleep(0.2)  # older than the time resolution: a verdict may be kept
    times = {}
    time_open(doc)
    time_run(prog)
    times["open, hit"] = [time_open(doc) for _ in range(rounds)]
    times["open, miss"] = [time_open(path) for path in docs]
    times["run, hit"] = [time_run(prog) for _ in range(rounds // 4)]
    times["run, miss"] = [time_run(path) for path in progs]
    return times


def dpkg_times(deb, marked, rounds):
    times = []
    for i in range(rounds):
        root = os.path.join(marked, f"root{i}")
        admin = os.path.join(root, "var/lib/dpkg")
        os.makedirs(os.path.join(admin, "updates"))
        os.makedirs(os.path.join(admin, "info"))
        open(os.path.join(admin, "status"), "w").close()
        start = time.perf_counter_ns()
        subprocess.run(["dpkg", f"--root={root}", "--force-depends", "--force-script-chrootless", "--log=/dev/null",
                        "-i", deb], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter_ns() - start)
        shutil.rmtree(root)
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--guard", default=os.path.join(REPO, "build", "dev", "guard", "qirn-guard"))
    parser.add_argument("--rounds", type=int, default=2000, help="opens per kind (runs: a quarter)")
    parser.add_argument("--deb", help="also time dpkg --root of this package")
    parser.add_argument("--deb-rounds", type=int, default=11)
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("guard_bench.py needs root (fanotify permission events, a tmpfs)")
    if os.environ.get(NS_FLAG) != "1":
        env = dict(os.environ, **{NS_FLAG: "1"})
        os.execvpe("unshare", ["unshare", "--mount", "--propagation", "private", sys.executable] + sys.argv, env)

    work = tempfile.mkdtemp(prefix="qirn-guard-bench-")
    marked = os.path.join(work, "marked")
    os.mkdir(marked)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=512m", "qirn-guard-bench", marked], check=True)
    try:
        with open("/usr/bin/true", "rb") as f:
            program = f.read()
        signatures = os.path.join(work, "sa.kvd")
        rng = random.Random(1)
        with open(signatures, "w") as out:
            for i in range(100_000):
                out.write(f"{rng.randbytes(16).hex()}=Bench.Listed.{i}\n")
        print(f"program {len(program)} bytes, document 5000 bytes, 100000 signatures, {args.rounds} opens")

        without = measure(marked, args.rounds, program, "without")
        guard = Guard(args.guard, work, [marked], "open", signatures)
        with_guard = measure(marked, args.rounds, program, "with")
        counts = guard.stop()
        print(f"guard counts: events {counts['events']}, read {counts['read']}, cached {counts['cached']}, "
              f"deadline {counts['deadline']}, denied {counts['denied']}")
        print(f"{'':12} {'median µs':>22} {'p99 µs':>22}")
        print(f"{'':12} {'without':>7} {'with':>7} {'added':>6} {'without':>7} {'with':>7} {'added':>6}")
        for kind in without:
            a50, b50 = statistics.median(without[kind]) / 1e3, statistics.median(with_guard[kind]) / 1e3
            a99, b99 = percentile(without[kind], 0.99) / 1e3, percentile(with_guard[kind], 0.99) / 1e3
            print(f"{kind:12} {a50:7.1f} {b50:7.1f} {b50 - a50:6.1f} {a99:7.1f} {b99:7.1f} {b99 - a99:6.1f}")

        if args.deb:
            # The size limit of the settings leaves most programs unread; 64 MiB reads every one.
            for max_size in (83000, 64 << 20):
                dpkg_without = dpkg_times(args.deb, marked, args.deb_rounds)
                guard = Guard(args.guard, work, ["/"], "exec", signatures, max_size)
                dpkg_with = dpkg_times(args.deb, marked, args.deb_rounds)
                counts = guard.stop()
                a, b = statistics.median(dpkg_without) / 1e6, statistics.median(dpkg_with) / 1e6
                print(f"dpkg --root -i {os.path.basename(args.deb)}, max_size {max_size}: median {a:.1f} ms "
                      f"without, {b:.1f} ms with the guard on / in exec mode ({b / a:.2f}x); guard events "
                      f"{counts['events']}, read {counts['read']}, cached {counts['cached']}, "
                      f"too large {counts['too_large']}, deadline {counts['deadline']}")
    finally:
        subprocess.run(["umount", "-l", marked])
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
