#!/usr/bin/env python3
"""Benchmark the digest cache: first scan, rescan, --rematch, against hashdeep and a stat-only walk.

Copies a real folder into /tmp and builds the same signature set as
scan_bench.py, then times, round by round on a warm page cache and with the
same --jobs: qirn-scan --no-cache, a first scan with an empty cache, a second
scan of the unchanged tree, the stat-only walk (bench/StatWalk.cpp), hashdeep
and, after a signature update, --rematch against a full scan with the new
list. Every qirn-scan output is checked against the oracle.

A ratio is judged as the median of its per-round ratios: the two runs of a
round follow each other, so a slow phase of the machine slows both, where a
ratio of medians may take its two medians from different rounds. The ratio
of the medians is printed too.
"""

import argparse
import collections
import os
import random
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scan_bench  # noqa: E402
from scan_bench import log  # noqa: E402

REPO = scan_bench.REPO
BUILD = os.path.join(REPO, "build", "bench")
TARGETS = {
    "rescan / first scan": (0.35, "second scan", "first scan, cache"),
    "rescan / hashdeep": (0.15, "second scan", "hashdeep"),
    "rescan / stat-only walk": (1.3, "second scan", "stat-only walk"),
    # 1.10 with --jobs 1; 1.15 at the default jobs, where the cache's writer shares the cores.
    "first scan with cache / --no-cache": (1.15, "first scan, cache", "first scan, --no-cache"),
    "--rematch / full scan": (0.1, "--rematch", "full scan, new list"),
}


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--source", default="/usr/share", help="folder to copy and scan (default: /usr/share)")
    p.add_argument("--max-files", type=int, default=0, help="copy only the first N files (quick run)")
    p.add_argument("--rounds", type=int, default=5, help="timed rounds (default: 5)")
    p.add_argument("--jobs", type=int, default=0,
                   help="--jobs for every qirn-scan run (default: 0, qirn-scan's own default)")
    p.add_argument("--update", type=int, default=100,
                   help="real files whose digests the signature update adds (default: 100)")
    p.add_argument("--seed", type=int, default=20240601, help="RNG seed")
    p.add_argument("--no-build", action="store_true", help="use the binaries already in build/bench")
    p.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = p.parse_args()
    if args.rounds < 1 or args.jobs < 0:
        p.error("--rounds must be at least 1 and --jobs at least 0")
    return args


def build():
    for cmd in (["cmake", "-S", ".", "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                 "-DQIRN_BUILD_TESTS=OFF"],
                ["cmake", "--build", BUILD, "--target", "qirn-scan", "stat-walk"]):
        if subprocess.run(cmd, cwd=REPO, stdout=subprocess.DEVNULL).returncode != 0:
            raise scan_bench.BenchError("build failed: " + shlex.join(cmd))


def expected_lines(files, names):
    lines = collections.Counter()
    for path, _, digest in files:
        for name in names.get(digest, ()):
            lines[path + b": " + name.encode() + b" FOUND"] += 1
    return lines


def dirty_page_lifetime():
    """Seconds a page may stay dirty: dirty_expire plus dirty_writeback, as the cache reads them."""
    try:
        with open("/proc/sys/vm/dirty_expire_centisecs") as expire, \
                open("/proc/sys/vm/dirty_writeback_centisecs") as writeback:
            return (int(expire.read()) + int(writeback.read())) / 100 + 1
    except (OSError, ValueError):
        return 36


def main():
    args = parse_args()
    if not args.no_build:
        log("building qirn-scan and stat-walk in build/bench ...")
        build()
    qirn = os.path.join(BUILD, "cli", "qirn-scan")
    stat_walk = os.path.join(BUILD, "bench", "stat-walk")
    if not shutil.which("hashdeep"):
        raise scan_bench.BenchError("hashdeep not found (Debian package hashdeep)")
    work = tempfile.mkdtemp(prefix="qirn-cache-bench-", dir="/tmp")
    try:
        return bench(args, qirn, stat_walk, work)
    finally:
        if args.keep:
            log(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


def bench(args, qirn, stat_walk, work):
    tree = os.path.join(work, "tree")
    log(f"copying {args.source} to {tree} ...")
    scan_bench.copy_tree(args.source, tree, args.max_files)
    copied = time.monotonic()
    files, _ = scan_bench.survey(tree)
    # The cache trusts a digest only once the file's last change is older
    # than pages written through a mapping may stay dirty (30 + 5 s by
    # default): a fresh copy would be read again by every rescan until then.
    settle = dirty_page_lifetime() - (time.monotonic() - copied)
    if settle > 0:
        log(f"waiting {settle:.0f} s for the copy's change times to settle ...")
        time.sleep(settle)
    names, _, _ = scan_bench.build_signatures(files, work, 200, 100_000, args.seed)
    kvd = os.path.join(work, "sa.kvd")
    # The update: the old list plus the digests of other real files.
    rng = random.Random(args.seed + 1)
    added = rng.sample(files, min(args.update, len(files)))
    new_names = collections.defaultdict(list, {d: list(n) for d, n in names.items()})
    updated_kvd = os.path.join(work, "sa-updated.kvd")
    with open(kvd, "rb") as old, open(updated_kvd, "wb") as new:
        new.write(old.read())
        for i, (_, _, digest) in enumerate(added):
            new.write(f"{digest}=Bench.Update.{i}\r\n".encode())
            new_names[digest].append(f"Bench.Update.{i}")
    cache = os.path.join(work, "cache", "digests.sqlite")
    jobs = ["--jobs", str(args.jobs)] if args.jobs else []

    def drop_cache():
        shutil.rmtree(os.path.dirname(cache), ignore_errors=True)

    known = os.path.join(work, "known.hashdeep")
    runs = [
        ("first scan, --no-cache", [qirn, *jobs, "--no-cache", "-s", kvd, tree], None, names),
        ("first scan, cache", [qirn, *jobs, "--cache", cache, "-s", kvd, tree], drop_cache, names),
        ("second scan", [qirn, *jobs, "--cache", cache, "-s", kvd, tree], None, names),
        ("stat-only walk", [stat_walk, tree], None, None),
        ("hashdeep", ["hashdeep", "-j0", "-o", "f", "-r", "-i", str(scan_bench.SIZE_LIMIT), "-m", "-k", known,
                      tree], None, None),
        ("full scan, new list", [qirn, *jobs, "--no-cache", "-s", updated_kvd, tree], None, new_names),
        ("--rematch", [qirn, "--rematch", "--cache", cache, "-s", updated_kvd, tree], None, new_names),
    ]
    samples = collections.defaultdict(list)
    out, err = os.path.join(work, "out.txt"), os.path.join(work, "err.txt")
    for rnd in range(1 + args.rounds):
        line = []
        for name, argv, before, expect in runs:
            if before:
                before()
            elif name == "second scan":
                time.sleep(0.1)  # the first scan's entries become trustworthy
            code, wall, _ = scan_bench.run_timed(argv, out, err)
            if code not in (0, 1):
                raise scan_bench.BenchError(f"{name} exited with {code}: {scan_bench.read(err)[-500:]!r}")
            if expect is not None:
                got = collections.Counter(l for l in scan_bench.read(out).split(b"\n") if l)
                if got != expected_lines(files, expect):
                    log(f"FAIL: {name} hits differ from the oracle: {shlex.join(argv)}")
                    return 1
                summary = scan_bench.parse_summary(scan_bench.read(err))
                if name != "--rematch" and summary.get("Files examined") != str(len(files)):
                    log(f"FAIL: {name} examined {summary.get('Files examined')} files, not {len(files)}")
                    return 1
            if rnd > 0:
                samples[name].append(wall)
            line.append(f"{name} {wall:.3f}s")
        log(("warm-up" if rnd == 0 else f"round {rnd}") + ": " + ", ".join(line))

    medians = {name: statistics.median(walls) for name, walls in samples.items()}
    print(f"tree: {args.source} copied, {len(files)} files of at most {scan_bench.SIZE_LIMIT} bytes; "
          f"--jobs {args.jobs or 'default'}; median of {args.rounds} rounds; all outputs agree with the oracle")
    for name, argv, _, _ in runs:
        print(f"  {name:24} {medians[name]:7.3f} s   {shlex.join(argv)}")
    failed = False
    print(f"  {'ratio':36} {'paired':>6}  {'range':>13}  {'of medians':>10}")
    for title, (target, a, b) in TARGETS.items():
        if title.startswith("first scan") and args.jobs == 1:
            target = 1.10
        ratios = [x / y for x, y in zip(samples[a], samples[b])]
        ratio = statistics.median(ratios)
        ok = ratio <= target
        failed |= not ok
        print(f"  {title:36} {ratio:6.3f}  {min(ratios):5.3f}..{max(ratios):5.3f}  {medians[a] / medians[b]:10.3f}"
              f"  (target at most {target})  {'OK' if ok else 'MISSED'}")
    return 3 if failed else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except scan_bench.BenchError as e:
        log(f"error: {e}")
        sys.exit(2)
