#!/usr/bin/env python3
"""Benchmark a whole scan through the window against qirn-scan on the same tree.

Builds the same tree and signature set as scan_bench.py (a copy of a real
folder, real hits plus many random digests), then times, round by round on a
warm cache, qirn-scan --jobs 1 and one click on "Scan" in the offscreen
window (qirn-window-scan). Both must examine the same files and find the same
hits. The window does all its work on one thread, letting Qt's event loop run
after every file, so the single-threaded qirn-scan is the fair reference.
"""

import argparse
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scan_bench  # noqa: E402  (same tree and signature set)
from scan_bench import log  # noqa: E402

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(REPO, "build", "bench-window")
LIMIT = 1.5


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--source", default="/usr/share", help="folder to copy and scan (default: /usr/share)")
    p.add_argument("--max-files", type=int, default=0, help="copy only the first N regular files")
    p.add_argument("--rounds", type=int, default=5, help="timed rounds (default: 5)")
    p.add_argument("--hits", type=int, default=200, help="real files whose digests become signatures")
    p.add_argument("--random", type=int, default=100_000, help="random digests in the signature set")
    p.add_argument("--seed", type=int, default=20240601, help="RNG seed")
    p.add_argument("--no-build", action="store_true", help="use the binaries already in build/bench-window")
    p.add_argument("--keep", action="store_true", help="keep the temporary folder")
    return p.parse_args()


def build():
    for cmd in (["cmake", "-S", ".", "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                 "-DQIRN_BUILD_TESTS=OFF", "-DQIRN_BUILD_TOOLS=ON"],
                ["cmake", "--build", BUILD, "--target", "qirn-scan", "qirn-window-scan"]):
        if subprocess.run(cmd, cwd=REPO, stdout=subprocess.DEVNULL).returncode != 0:
            raise scan_bench.BenchError("build failed: " + shlex.join(cmd))


def first_scan(work):
    """Both scans use the digest cache in the work folder; it is emptied so each reads every file."""
    os.environ["XDG_CACHE_HOME"] = os.path.join(work, "cache-home")
    shutil.rmtree(os.environ["XDG_CACHE_HOME"], ignore_errors=True)


def run_qirn_scan(binary, work, tree):
    first_scan(work)
    out, err = os.path.join(work, "scan.out"), os.path.join(work, "scan.err")
    code, wall, _ = scan_bench.run_timed([binary, "--jobs", "1", "--signatures",
                                          os.path.join(work, "sa.kvd"), tree], out, err)
    if code not in (0, 1):
        raise scan_bench.BenchError(f"qirn-scan failed ({code}): {scan_bench.read(err)[-500:]!r}")
    summary = scan_bench.parse_summary(scan_bench.read(err))
    return wall, int(summary["Files examined"]), int(summary["Hits"])


def run_window(binary, work, tree):
    first_scan(work)
    out, err = os.path.join(work, "window.out"), os.path.join(work, "window.err")
    code, wall, _ = scan_bench.run_timed([binary, os.path.join(work, "sa.kvd"), tree], out, err)
    if code != 0:
        raise scan_bench.BenchError(f"qirn-window-scan failed ({code}): {scan_bench.read(err)[-500:]!r}")
    seconds, examined, hits = scan_bench.read(out).decode().split()
    return float(seconds), wall, int(examined), int(hits)


def main():
    args = parse_args()
    os.environ["QT_QPA_PLATFORM"] = "offscreen"
    if not args.no_build:
        log("building qirn-scan and qirn-window-scan in build/bench-window ...")
        build()
    qirn_scan = os.path.join(BUILD, "cli", "qirn-scan")
    window = os.path.join(BUILD, "app", "qirn-window-scan")
    work = tempfile.mkdtemp(prefix="qirn-window-bench-")
    try:
        tree = os.path.join(work, "tree")
        log(f"copying {args.source} ...")
        scan_bench.copy_tree(args.source, tree, args.max_files)
        files, _ = scan_bench.survey(tree)
        _, entries, hits = scan_bench.build_signatures(files, work, args.hits, args.random, args.seed)
        log(f"{len(files)} files of at most 83000 bytes, {entries} signatures, {hits} real hits")

        _, examined, found = run_qirn_scan(qirn_scan, work, tree)  # warm-up
        _, _, window_examined, window_found = run_window(window, work, tree)
        if (window_examined, window_found) != (examined, found):
            raise scan_bench.BenchError(f"window examined {window_examined} files with {window_found} hits, "
                                        f"qirn-scan {examined} with {found}")
        scan_walls, window_scans, window_walls = [], [], []
        for round_number in range(args.rounds):
            scan_walls.append(run_qirn_scan(qirn_scan, work, tree)[0])
            seconds, wall, _, _ = run_window(window, work, tree)
            window_scans.append(seconds)
            window_walls.append(wall)
            log(f"round {round_number + 1}: qirn-scan {scan_walls[-1]:.3f} s, "
                f"window scan {seconds:.3f} s (process {wall:.3f} s)")

        reference = statistics.median(scan_walls)
        scan = statistics.median(window_scans)
        process = statistics.median(window_walls)
        print(f"files examined: {examined}, hits: {found}")
        print(f"qirn-scan --jobs 1, whole process:  {reference:.3f} s (median of {args.rounds})")
        print(f"window, click on Scan to its end:   {scan:.3f} s = {scan / reference:.2f} x")
        print(f"window, whole process:              {process:.3f} s = {process / reference:.2f} x")
        print(f"limit {LIMIT:.1f} x: {'met' if scan / reference <= LIMIT else 'NOT met'}")
    finally:
        if args.keep:
            log(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    try:
        main()
    except scan_bench.BenchError as error:
        log(f"window_scan_bench: {error}")
        sys.exit(2)
