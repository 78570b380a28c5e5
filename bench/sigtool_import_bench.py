#!/usr/bin/env python3
"""Times `qirn-sigtool import` of a large hash list against `qirn-scan`
loading the sa.kvd it wrote (an empty folder is scanned, so the time is the
load), with `sort -u` over the same list as a peer that also reads and
deduplicates every line. Target: import <= 2 x load.

    python3 bench/sigtool_import_bench.py                 # 10,000,000 lines
    python3 bench/sigtool_import_bench.py --lines 1000000 --rounds 3
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

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build(build_dir):
    if not os.path.exists(os.path.join(build_dir, "build.ninja")):
        subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DQIRN_BUILD_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "qirn-scan", "qirn-sigtool"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "cli", "qirn-scan"), os.path.join(build_dir, "cli", "qirn-sigtool")


def timed(command, **kwargs):
    started = time.perf_counter()
    subprocess.run(command, check=True, stdout=kwargs.pop("stdout", subprocess.DEVNULL),
                   stderr=subprocess.DEVNULL, **kwargs)
    return time.perf_counter() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lines", type=int, default=10_000_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "bench"))
    args = parser.parse_args()
    scan, sigtool = build(args.build_dir)

    work = tempfile.mkdtemp(prefix="qirn-import-bench-")
    try:
        listing = os.path.join(work, "MD5SUMS")
        rng = random.Random(11)
        # md5sum output as people have it: upper and lower case, repeated names.
        with open(listing, "w") as out:
            for i in range(args.lines):
                digest = "%032x" % rng.getrandbits(128)
                out.write("%s  samples/file-%d.exe\n" % (digest.upper() if i % 2 else digest, i % 50000))
        kvd = os.path.join(work, "sa.kvd")
        empty = os.path.join(work, "empty")
        os.mkdir(empty)
        rows = {"qirn-sigtool import": [], "qirn-scan load": [], "sort -u (peer)": []}
        for _ in range(args.rounds):
            rows["qirn-sigtool import"].append(timed([sigtool, "import", "--output", kvd, listing]))
            rows["qirn-scan load"].append(timed([scan, "--signatures", kvd, "--jobs", "1", empty]))
            with open(os.devnull, "w") as sink:
                rows["sort -u (peer)"].append(timed(["sort", "-u", listing], stdout=sink,
                                                    env=dict(os.environ, LC_ALL="C")))
        with open(kvd, "rb") as written:
            count = sum(1 for _ in written)
        print("%d lines in, %d signatures out, %d rounds (median seconds)" % (args.lines, count, args.rounds))
        medians = {name: statistics.median(times) for name, times in rows.items()}
        for name, value in medians.items():
            print("  %-22s %7.2f s" % (name, value))
        ratio = medians["qirn-sigtool import"] / medians["qirn-scan load"]
        print("  import / load = %.2f (target <= 2)" % ratio)
        return 0 if ratio <= 2 else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
