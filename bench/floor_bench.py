#!/usr/bin/env python3
"""A first scan against its floor: the same walk that reads every file and digests nothing.

Each round runs, in an order that turns every round, `stat-walk --read TREE`
(bench/StatWalk.cpp: the walk of qirn-scan through the engine's folder layer,
opening and reading every regular file as the scan does) and `qirn-scan
--no-cache --quiet` with each --jobs given. It judges each scan by the median
of its per-round ratios to the floor of the same round, with the middle half
of those ratios and their whole range as the spread.

    python3 bench/floor_bench.py --qirn-scan build/bench/cli/qirn-scan \\
        --stat-walk build/bench/bench/stat-walk --signatures sa.kvd --jobs 1 2 --rounds 15 TREE
"""

import argparse
import statistics
import subprocess
import sys
import time


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--qirn-scan", required=True)
    p.add_argument("--stat-walk", required=True)
    p.add_argument("--signatures", required=True, help="the sa.kvd of the scans")
    p.add_argument("--jobs", type=int, nargs="+", default=[1], help="the --jobs of the scans timed (default: 1)")
    p.add_argument("--rounds", type=int, default=15, help="timed rounds (default: 15)")
    p.add_argument("--warmup", type=int, default=1, help="warm-up rounds (default: 1)")
    p.add_argument("tree")
    return p.parse_args()


def timed(argv):
    started = time.perf_counter()
    done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    elapsed = time.perf_counter() - started
    if done.returncode not in (0, 1):
        sys.exit(f"{argv[0]} exited with {done.returncode}")
    return elapsed


def spread(values):
    quartiles = statistics.quantiles(values, n=4) if len(values) > 1 else values * 3
    return (f"paired median {statistics.median(values):.3f}, middle half {quartiles[0]:.3f}-{quartiles[2]:.3f}, "
            f"range {min(values):.3f}-{max(values):.3f}")


def main():
    args = parse_args()
    commands = {"floor": [args.stat_walk, "--read", args.tree]}
    for jobs in args.jobs:
        commands[f"--jobs {jobs}"] = [args.qirn_scan, "--no-cache", "--quiet", "--jobs", str(jobs),
                                      "--signatures", args.signatures, args.tree]
    labels = list(commands)
    times = {label: [] for label in labels}
    for round_number in range(args.warmup + args.rounds):
        turn = round_number % len(labels)
        elapsed = {label: timed(commands[label]) for label in labels[turn:] + labels[:turn]}
        if round_number < args.warmup:
            continue
        for label in labels:
            times[label].append(elapsed[label])
        print(f"round {round_number - args.warmup + 1}: " +
              ", ".join(f"{label} {elapsed[label]:.3f} s" for label in labels), file=sys.stderr, flush=True)
    for label in labels:
        print(f"{label}: median {statistics.median(times[label]):.3f} s")
    for label in labels[1:]:
        ratios = [scan / floor for scan, floor in zip(times[label], times["floor"])]
        print(f"{label} / floor: {spread(ratios)} ({len(ratios)} rounds)")


if __name__ == "__main__":
    main()
