#!/usr/bin/env python3
"""Benchmark the signature index against hash flooding.

Times qirn-scan loading a signature file of digests crafted to collide under
the unkeyed index hash the program used before it was keyed, against a file of
random digests of the same size, and times 10M random digests against a
qirn-scan built from the code before the keyed hash.
"""

import argparse
import os
import random
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile

import scan_bench
from scan_bench import BenchError, log

CHUNK = 100_000
MASK = (1 << 64) - 1
# The old index hash was (low ^ high * GOLDEN) * MIX over the digest's two
# little-endian words: low = high * GOLDEN makes it zero for every digest.
GOLDEN = 0x9E3779B97F4A7C15
TARGET_CRAFTED = 2.0
TARGET_BASELINE = 1.10


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--lines", type=int, default=1_000_000,
                   help="crafted and random lines (default: 1000000)")
    p.add_argument("--big-lines", type=int, default=10_000_000,
                   help="random lines for the comparison with the old code (default: 10000000)")
    p.add_argument("--old-crafted-lines", type=int, default=80_000,
                   help="crafted lines loaded by the old code, to show the flood (default: 80000; 0 skips)")
    p.add_argument("--rounds", type=int, default=3, help="timed rounds (default: 3)")
    p.add_argument("--seed", type=int, default=20261207, help="RNG seed")
    p.add_argument("--baseline-rev", default=None,
                   help="git revision of the old code (default: the parent of the commit "
                        "that added engine/KeyedHash.h)")
    p.add_argument("--baseline-qirn-scan", default=None,
                   help="an already built qirn-scan of the old code (instead of --baseline-rev)")
    p.add_argument("--qirn-scan", default=scan_bench.DEFAULT_QIRN,
                   help="qirn-scan binary (default: build/bench/cli/qirn-scan, built if missing)")
    p.add_argument("--build", action="store_true", help="(re)build the default qirn-scan first")
    p.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = p.parse_args()
    if args.rounds < 1 or args.lines < 1 or args.big_lines < 1:
        p.error("--lines, --big-lines and --rounds must be at least 1")
    return args


def crafted_digest(i):
    high = ((i + 1) * 0x100000001B3) & MASK
    low = (high * GOLDEN) & MASK
    return (low.to_bytes(8, "little") + high.to_bytes(8, "little")).hex()


def write_kvd(path, n, crafted, rng):
    with open(path, "wb") as f:
        for start in range(0, n, CHUNK):
            count = min(CHUNK, n - start)
            if crafted:
                digests = [crafted_digest(start + j) for j in range(count)]
            else:
                hexes = rng.randbytes(16 * count).hex()
                digests = [hexes[32 * j:32 * j + 32] for j in range(count)]
            f.write("".join(f"{d}=Sig.Flood.{start + j:08d}\r\n"
                            for j, d in enumerate(digests)).encode())


def git(*argv):
    r = subprocess.run(["git", *argv], cwd=scan_bench.REPO, capture_output=True, text=True)
    if r.returncode != 0:
        raise BenchError(f"git {' '.join(argv)} failed: {r.stderr.strip()}")
    return r.stdout.strip()


def build_baseline(rev, work):
    if rev is None:
        added = git("log", "--diff-filter=A", "--format=%H", "--", "engine/KeyedHash.h").splitlines()
        if not added:
            raise BenchError("engine/KeyedHash.h has no commit yet: pass --baseline-rev")
        rev = added[-1] + "^"
    commit = git("rev-parse", "--verify", rev + "^{commit}")
    source = os.path.join(work, "baseline-src")
    os.mkdir(source)
    archive = subprocess.Popen(["git", "archive", commit], cwd=scan_bench.REPO, stdout=subprocess.PIPE)
    extract = subprocess.run(["tar", "-x", "-C", source], stdin=archive.stdout)
    if archive.wait() != 0 or extract.returncode != 0:
        raise BenchError(f"cannot extract {commit}")
    build = os.path.join(work, "baseline-build")
    log(f"building qirn-scan of {commit[:12]} ...")
    for cmd in (["cmake", "-S", source, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                 "-DQIRN_BUILD_TESTS=OFF"], ["cmake", "--build", build, "--target", "qirn-scan"]):
        if subprocess.run(cmd, stdout=subprocess.DEVNULL).returncode != 0:
            raise BenchError("baseline build failed: " + shlex.join(cmd))
    return os.path.join(build, "cli", "qirn-scan"), commit


def load_time(qirn, kvd, lines, empty, work):
    out, err = os.path.join(work, "out.txt"), os.path.join(work, "err.txt")
    rc, wall, _ = scan_bench.run_timed([qirn, "--jobs", "1", "--signatures", kvd, empty], out, err)
    summary = scan_bench.parse_summary(scan_bench.read(err))
    if rc != 0 or summary.get("Signatures loaded") != str(lines):
        raise BenchError(f"{qirn} on {kvd}: exit {rc}, summary {summary}")
    return wall


def main():
    args = parse_args()
    qirn = scan_bench.ensure_qirn_scan(args)
    work = tempfile.mkdtemp(prefix="qirn-flood-", dir="/tmp")
    try:
        return bench(args, qirn, work)
    finally:
        if args.keep:
            log(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


def bench(args, qirn, work):
    if args.baseline_qirn_scan:
        old, commit = os.path.abspath(args.baseline_qirn_scan), "given binary"
    else:
        old, commit = build_baseline(args.baseline_rev, work)
    empty = os.path.join(work, "empty")
    os.mkdir(empty)
    rng = random.Random(args.seed)
    files = {
        "crafted": (os.path.join(work, "crafted.kvd"), args.lines, True),
        "random": (os.path.join(work, "random.kvd"), args.lines, False),
        "big": (os.path.join(work, "big.kvd"), args.big_lines, False),
    }
    if args.old_crafted_lines:
        files["old-crafted"] = (os.path.join(work, "old-crafted.kvd"), args.old_crafted_lines, True)
    for path, n, crafted in files.values():
        log(f"writing {n} {'crafted' if crafted else 'random'} lines to {os.path.basename(path)} ...")
        write_kvd(path, n, crafted, rng)

    runs = {
        "new crafted": (qirn, "crafted"),
        "new random": (qirn, "random"),
        "new big random": (qirn, "big"),
        "old big random": (old, "big"),
    }
    times = {name: [] for name in runs}
    for rnd in range(1 + args.rounds):
        order = list(runs) if rnd % 2 == 0 else list(reversed(runs))
        line = []
        for name in order:
            binary, key = runs[name]
            path, n, _ = files[key]
            wall = load_time(binary, path, n, empty, work)
            if rnd > 0:
                times[name].append(wall)
            line.append(f"{name} {wall:.2f}s")
        log(("warm-up: " if rnd == 0 else f"round {rnd}: ") + ", ".join(line))
    old_crafted = None
    if args.old_crafted_lines:
        path, n, _ = files["old-crafted"]
        old_crafted = (load_time(old, path, n, empty, work), load_time(qirn, path, n, empty, work))

    med = {name: statistics.median(t) for name, t in times.items()}
    print()
    print(f"Baseline: qirn-scan of {commit[:12]}; {args.rounds} timed rounds after a warm-up, "
          f"order alternated; median wall time of 'qirn-scan --jobs 1 --signatures FILE EMPTY'")
    for name in runs:
        print(f"  {name:<16}{files[runs[name][1]][1]:>10} lines {med[name]:>9.3f} s")
    crafted_ratio = med["new crafted"] / med["new random"]
    big_ratio = med["new big random"] / med["old big random"]
    print(f"crafted / random ({args.lines} lines):      {crafted_ratio:.3f}x  "
          f"(target <= {TARGET_CRAFTED}: {'met' if crafted_ratio <= TARGET_CRAFTED else 'MISSED'})")
    print(f"new / old ({args.big_lines} random lines): {big_ratio:.3f}x  "
          f"(target <= {TARGET_BASELINE}: {'met' if big_ratio <= TARGET_BASELINE else 'MISSED'})")
    if old_crafted:
        print(f"{args.old_crafted_lines} crafted lines: old {old_crafted[0]:.3f} s, new {old_crafted[1]:.3f} s")
    return 0 if crafted_ratio <= TARGET_CRAFTED and big_ratio <= TARGET_BASELINE else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as e:
        log(f"hash_flood_bench: {e}")
        sys.exit(2)
    except KeyboardInterrupt:
        sys.exit(130)
