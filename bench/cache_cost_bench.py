#!/usr/bin/env python3
"""Paired cost of writing the digest cache in a first scan, for two builds.

Each round runs both binaries twice with the same arguments, once with
--no-cache and once with an empty --cache FILE, the four runs in an order
that turns every round. Printed for each binary: the median of its
per-round ratios "first scan with the cache / --no-cache", with the middle
half and range of them, and for both settings the paired ratio b/a. All
four runs of a round must print the same lines.

    python3 bench/cache_cost_bench.py --a OLD/qirn-scan --b NEW/qirn-scan \\
        --rounds 15 -- --quiet --signatures sa.kvd TREE
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ab_bench import run  # noqa: E402
from floor_bench import spread  # noqa: E402


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--a", required=True, help="the binary before the change")
    p.add_argument("--b", required=True, help="the binary after the change")
    p.add_argument("--rounds", type=int, default=15, help="timed rounds (default: 15)")
    p.add_argument("--warmup", type=int, default=1, help="warm-up rounds (default: 1)")
    p.add_argument("args", nargs=argparse.REMAINDER, help="-- then the arguments of both binaries")
    args = p.parse_args()
    if args.args[:1] == ["--"]:
        args.args = args.args[1:]
    if not args.args or args.rounds < 1:
        p.error("give at least one round and the binaries' arguments after --")
    return args


def main():
    args = parse_args()
    work = tempfile.mkdtemp(prefix="qirn-cache-cost-")
    cache = os.path.join(work, "cache")
    runs = [(label, binary, cached) for label, binary in (("a", args.a), ("b", args.b)) for cached in (False, True)]
    times = {(label, cached): [] for label, _, cached in runs}
    try:
        for round_number in range(args.warmup + args.rounds):
            turn = round_number % len(runs)
            outputs = set()
            for label, binary, cached in runs[turn:] + runs[:turn]:
                shutil.rmtree(cache, ignore_errors=True)
                setting = ["--cache", os.path.join(cache, "digests.sqlite")] if cached else ["--no-cache"]
                elapsed, lines = run(binary, setting + args.args)
                outputs.add(tuple(lines))
                if round_number >= args.warmup:
                    times[(label, cached)].append(elapsed)
            if len(outputs) != 1:
                sys.exit(f"round {round_number}: the runs printed different lines")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for label, binary in (("a", args.a), ("b", args.b)):
        ratios = [c / n for c, n in zip(times[(label, True)], times[(label, False)])]
        print(f"{label} ({binary}): --no-cache median {statistics.median(times[(label, False)]):.3f} s, "
              f"with the cache {statistics.median(times[(label, True)]):.3f} s; with / without: {spread(ratios)}")
    for cached, name in ((False, "--no-cache"), (True, "with the cache")):
        ratios = [b / a for a, b in zip(times[("a", cached)], times[("b", cached)])]
        print(f"b/a {name}: {spread(ratios)}")
    print(f"({args.rounds} rounds)")


if __name__ == "__main__":
    main()
