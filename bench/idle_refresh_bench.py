#!/usr/bin/env python3
"""Benchmark the window's once-a-second signature refresh with a huge sa.kvd.

Starts qirn-checker (offscreen) beside a sa.kvd of many signatures, then
measures the process's CPU time over an idle interval while the file stays
unchanged, and the CPU burst of the refresh that follows a change of the file,
against qirn-scan loading the same file in the same run.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import scan_bench
from scan_bench import BenchError, log
import signature_load_bench

REPO = scan_bench.REPO
DEFAULT_APP = os.path.join(REPO, "build", "bench", "app", "qirn-checker")
TICKS = os.sysconf("SC_CLK_TCK")


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--lines", type=int, default=10_000_000, help="signatures (default: 10000000)")
    p.add_argument("--idle", type=float, default=30.0, help="idle interval in seconds (default: 30)")
    p.add_argument("--changes", type=int, default=3, help="file changes to time (default: 3)")
    p.add_argument("--seed", type=int, default=20240601, help="RNG seed")
    p.add_argument("--app", default=DEFAULT_APP, help="qirn-checker binary (built if missing)")
    p.add_argument("--qirn-scan", default=scan_bench.DEFAULT_QIRN, help="qirn-scan binary (built if missing)")
    p.add_argument("--keep", action="store_true", help="keep the temporary folder")
    return p.parse_args()


def ensure_built(path, target):
    if os.access(path, os.X_OK):
        return
    log(f"building {target} in build/bench ...")
    for cmd in (scan_bench.BUILD_COMMANDS[0], ["cmake", "--build", "build/bench", "--target", target]):
        if subprocess.run(cmd, cwd=REPO, stdout=subprocess.DEVNULL).returncode != 0:
            raise BenchError("build failed: " + " ".join(cmd))


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def wait_until_quiet(pid, quiet_for=3.0, limit=120.0):
    """Waits until the process used almost no CPU for quiet_for seconds."""
    start = time.monotonic()
    last = cpu_seconds(pid)
    quiet_since = time.monotonic()
    while time.monotonic() - start < limit:
        time.sleep(0.25)
        now = cpu_seconds(pid)
        if now - last > 0.02:
            quiet_since = time.monotonic()
        last = now
        if time.monotonic() - quiet_since >= quiet_for:
            return
    raise BenchError("the window never went quiet")


def bursts_after_change(pid, kvd, limit=60.0):
    """Rewrites sa.kvd with one more line and returns the busy stretches of the
    refreshes that follow, as (CPU seconds, wall seconds) each. A stretch ends
    at the first gap of more than GAP seconds without CPU use."""
    gap = 0.3
    with open(kvd, "ab") as f:
        f.write(b"0123456789abcdef0123456789abcdef=Bench.Changed.%d\r\n" % time.monotonic_ns())
    stretches = []
    start = time.monotonic()
    last = cpu_seconds(pid)
    current = None  # [first busy, last busy, cpu at start]
    while time.monotonic() - start < limit:
        time.sleep(0.02)
        now_cpu = cpu_seconds(pid)
        now = time.monotonic()
        if now_cpu > last:
            if current is None:
                current = [now, now, last]
            current[1] = now
        elif current is not None and now - current[1] > gap:
            stretches.append((now_cpu - current[2], current[1] - current[0]))
            current = None
            if now - start > 4.0:
                break
        last = now_cpu
    if not stretches:
        raise BenchError("no refresh followed the change")
    return stretches


def main():
    args = parse_args()
    ensure_built(os.path.abspath(args.app), "qirn-checker")
    ensure_built(os.path.abspath(args.qirn_scan), "qirn-scan")
    work = tempfile.mkdtemp(prefix="qirn-idle-")
    try:
        return bench(args, work)
    except BenchError as error:
        log(f"error: {error}")
        return 2
    finally:
        if args.keep:
            log(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


def bench(args, work):
    app_dir = os.path.join(work, "app")
    os.makedirs(app_dir)
    shutil.copy2(args.app, app_dir)
    log(f"writing {args.lines} signatures ...")
    signature_load_bench.write_signatures(work, args.lines, args.seed, "0" * 32, 1)
    kvd = os.path.join(app_dir, "sa.kvd")
    os.replace(os.path.join(work, "sa.kvd"), kvd)
    os.remove(os.path.join(work, "big.hdb"))
    empty = os.path.join(work, "empty")
    os.makedirs(empty)

    loads = []
    for _ in range(args.changes):
        start = time.monotonic()
        subprocess.run([args.qirn_scan, "--jobs", "1", "--signatures", kvd, empty],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        loads.append(time.monotonic() - start)

    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=work)
    app = subprocess.Popen([os.path.join(app_dir, "qirn-checker")], env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_until_quiet(app.pid)
        before = cpu_seconds(app.pid)
        time.sleep(args.idle)
        idle_cpu = cpu_seconds(app.pid) - before
        changes = []
        for _ in range(args.changes):
            changes.append(bursts_after_change(app.pid, kvd))
            wait_until_quiet(app.pid)
    finally:
        app.terminate()
        app.wait(timeout=10)

    load = statistics.median(loads)
    longest = max((stretch for stretches in changes for stretch in stretches), key=lambda s: s[1])
    reloads = statistics.median(len(stretches) for stretches in changes)
    print(f"sa.kvd: {args.lines} signatures, {os.path.getsize(kvd) / 1e6:.0f} MB")
    print(f"idle, file unchanged: {idle_cpu:.2f} s CPU in {args.idle:.0f} s = "
          f"{100 * idle_cpu / args.idle:.2f} % (target < 1 %)")
    print(f"after each of {args.changes} changes: {reloads:.0f} busy stretch(es) (median); the longest: "
          f"{longest[1]:.2f} s wall, {longest[0]:.2f} s CPU")
    print(f"qirn-scan loading the same file (median of {args.changes}): {load:.2f} s")
    print(f"longest freeze / load: {longest[1] / load:.2f}x (target <= 1x; sampled every 20 ms)")
    print("commands: qirn-checker (QT_QPA_PLATFORM=offscreen) beside sa.kvd; "
          f"qirn-scan --jobs 1 --signatures sa.kvd EMPTY")
    return 0


if __name__ == "__main__":
    sys.exit(main())
