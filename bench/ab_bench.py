#!/usr/bin/env python3
"""Paired A/B timing of two qirn-scan binaries on the same tree.

Each round runs both binaries back to back, in alternating order, with the
same arguments; the figure judged is the median of the per-round ratios
B/A, with the middle half of them (and their whole range) as the spread. Both binaries must print the same
lines in every round. A slow phase of the machine slows both runs of a
round alike, so the per-round ratio is steadier than a ratio of medians.

    python3 bench/ab_bench.py --a OLD/qirn-scan --b NEW/qirn-scan \\
        --rounds 15 -- --signatures sa.kvd --no-cache TREE

Arguments after -- go to both binaries. With --fresh-cache DIR, each run
gets an empty digest cache in DIR (a first scan with the cache on), and
with --warm-cache DIR each binary keeps its own cache in DIR, filled in the
warm-up round (a rescan); with --rematch among the arguments, each cache is
first filled by a scan without it.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--a", required=True, help="the binary before the change")
    p.add_argument("--b", required=True, help="the binary after the change")
    p.add_argument("--rounds", type=int, default=15, help="timed rounds (default: 15)")
    p.add_argument("--warmup", type=int, default=1, help="warm-up rounds (default: 1)")
    cache = p.add_mutually_exclusive_group()
    cache.add_argument("--fresh-cache", metavar="DIR", help="an empty --cache FILE in DIR for every run")
    cache.add_argument("--warm-cache", metavar="DIR", help="a --cache FILE in DIR per binary, kept between runs")
    p.add_argument("args", nargs=argparse.REMAINDER, help="-- then the arguments of both binaries")
    args = p.parse_args()
    if args.args[:1] == ["--"]:
        args.args = args.args[1:]
    if not args.args:
        p.error("give the binaries' arguments after --")
    return args


def run(binary, arguments):
    started = time.perf_counter()
    done = subprocess.run([binary] + arguments, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False)
    elapsed = time.perf_counter() - started
    if done.returncode not in (0, 1):
        sys.exit(f"{binary} exited with {done.returncode}")
    return elapsed, sorted(done.stdout.splitlines())


def cache_arguments(args, label):
    if args.fresh_cache:
        shutil.rmtree(args.fresh_cache, ignore_errors=True)
        return ["--cache", os.path.join(args.fresh_cache, "digests.sqlite")]
    if args.warm_cache:
        return ["--cache", os.path.join(args.warm_cache, label, "digests.sqlite")]
    return []


def main():
    args = parse_args()
    if args.warm_cache:
        shutil.rmtree(args.warm_cache, ignore_errors=True)
    binaries = {"a": args.a, "b": args.b}
    if args.warm_cache and "--rematch" in args.args:
        # --rematch reads only what a scan kept: each cache is filled first.
        scan = [a for a in args.args if a != "--rematch"]
        for label, binary in binaries.items():
            run(binary, cache_arguments(args, label) + scan)
    ratios = []
    times = {"a": [], "b": []}
    for round_number in range(args.warmup + args.rounds):
        order = ["a", "b"] if round_number % 2 == 0 else ["b", "a"]
        outputs = {}
        elapsed = {}
        for label in order:
            elapsed[label], outputs[label] = run(binaries[label], cache_arguments(args, label) + args.args)
        if outputs["a"] != outputs["b"]:
            sys.exit(f"round {round_number}: the binaries printed different lines")
        if round_number < args.warmup:
            continue
        for label in binaries:
            times[label].append(elapsed[label])
        ratios.append(elapsed["b"] / elapsed["a"])
        print(f"round {round_number - args.warmup + 1}: a {elapsed['a']:.3f} s, b {elapsed['b']:.3f} s, "
              f"b/a {ratios[-1]:.3f}", file=sys.stderr, flush=True)
    print(f"a: median {statistics.median(times['a']):.3f} s ({args.a})")
    print(f"b: median {statistics.median(times['b']):.3f} s ({args.b})")
    quartiles = statistics.quantiles(ratios, n=4) if len(ratios) > 1 else ratios * 3
    print(f"b/a: paired median {statistics.median(ratios):.3f}, middle half {quartiles[0]:.3f}-{quartiles[2]:.3f}, "
          f"per-round range {min(ratios):.3f}-{max(ratios):.3f}, ratio of medians "
          f"{statistics.median(times['b']) / statistics.median(times['a']):.3f} ({len(ratios)} rounds)")


if __name__ == "__main__":
    main()
