#!/usr/bin/env python3
"""Benchmark loading a huge signature file: qirn-scan versus clamscan.

Writes the same seeded random MD5 digests as sa.kvd (CR LF) and as a ClamAV
.hdb database, then times, round by round, qirn-scan scanning an empty folder
and clamscan scanning one small file, measuring wall time and peak RSS.
"""

import argparse
import multiprocessing
import os
import random
import shlex
import shutil
import statistics
import sys
import tempfile
import time

import scan_bench
from scan_bench import BenchError, log

KINDS = ("Trojan", "Worm", "Virus", "Adware", "Dropper", "Spy")
CHUNK = 100_000
TARGET_TIME = 1 / 3
TARGET_MEMORY = 1.0


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--lines", type=int, default=10_000_000,
                   help="signatures to generate (default: 10000000)")
    p.add_argument("--rounds", type=int, default=3, help="timed rounds (default: 3)")
    p.add_argument("--warmup", type=int, default=1, help="warm-up rounds (default: 1)")
    p.add_argument("--seed", type=int, default=20240601, help="RNG seed")
    p.add_argument("--qirn-scan", default=scan_bench.DEFAULT_QIRN,
                   help="qirn-scan binary (default: build/bench/cli/qirn-scan, "
                        "built if missing)")
    p.add_argument("--build", action="store_true",
                   help="(re)build the default qirn-scan before running")
    p.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = p.parse_args()
    if args.rounds < 1 or args.warmup < 1 or args.lines < 1:
        p.error("--lines, --rounds and --warmup must be at least 1")
    return args


def write_signatures(work, n, seed, probe_digest, probe_size):
    """Writes sa.kvd and big.hdb with N random digests; entry n // 2 is the probe.

    Returns the probe's signature name."""
    rng = random.Random(seed)
    width = max(7, len(str(n - 1)))
    probe_index = n // 2
    probe_name = None
    with open(os.path.join(work, "sa.kvd"), "wb") as kvd, \
            open(os.path.join(work, "big.hdb"), "wb") as hdb:
        for start in range(0, n, CHUNK):
            count = min(CHUNK, n - start)
            hexes = rng.randbytes(16 * count).hex()
            kinds = rng.randbytes(count)
            kvd_lines, hdb_lines = [], []
            for j in range(count):
                i = start + j
                digest = hexes[32 * j:32 * j + 32]
                name = f"Sig.Random.{i:0{width}d}.{KINDS[kinds[j] % len(KINDS)]}"
                # Varied sizes: with one size for all entries clamscan fails
                # at 8,388,608 entries.
                size = rng.randint(1, 83000)
                if i == probe_index:
                    digest, size, probe_name = probe_digest, probe_size, name
                kvd_lines.append(f"{digest}={name}\r\n")
                hdb_lines.append(f"{digest}:{size}:{name}\n")
            kvd.write("".join(kvd_lines).encode())
            hdb.write("".join(hdb_lines).encode())
    return probe_name


def run_measured(argv, out_path, err_path):
    """Runs ARGV; returns (exit code, wall s, peak RSS bytes).

    fork, not posix_spawn: a vfork child's ru_maxrss starts at the parent's
    peak RSS, a forked child's at the parent's current RSS (kept small)."""
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        try:
            flags = os.O_WRONLY | os.O_CREAT | os.O_TRUNC
            for fd, (path, mode) in enumerate([("/dev/null", os.O_RDONLY),
                                               (out_path, flags), (err_path, flags)]):
                os.dup2(os.open(path, mode, 0o644), fd)
            os.execvp(argv[0], argv)
        finally:
            os._exit(127)
    _, status, ru = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    return os.waitstatus_to_exitcode(status), wall, ru.ru_maxrss * 1024  # KiB on Linux


def main():
    args = parse_args()
    qirn = scan_bench.ensure_qirn_scan(args)
    if not shutil.which("clamscan"):
        raise BenchError("clamscan not found")
    work = tempfile.mkdtemp(prefix="qirn-sigload-", dir="/tmp")
    try:
        return bench(args, qirn, work)
    finally:
        if args.keep:
            log(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


def bench(args, qirn, work):
    empty = os.path.join(work, "empty")
    os.mkdir(empty)
    clam_tmp = os.path.join(work, "clamtmp")
    os.mkdir(clam_tmp)
    sample = os.path.join(work, "sample.txt")
    with open(sample, "wb") as f:
        f.write(b"qirn signature load benchmark sample\n")
    probe = scan_bench.md5_file(sample)

    log(f"writing {args.lines} signatures ...")
    t = time.perf_counter()
    # In a child process, so that this one stays small (see run_measured).
    with multiprocessing.get_context("fork").Pool(1) as pool:
        probe_name = pool.apply(write_signatures, (work, args.lines, args.seed, probe,
                                                   os.path.getsize(sample)))
    kvd, hdb = os.path.join(work, "sa.kvd"), os.path.join(work, "big.hdb")
    log(f"  {time.perf_counter() - t:.1f} s; sa.kvd {os.path.getsize(kvd) / 1e6:.0f} MB, "
        f"big.hdb {os.path.getsize(hdb) / 1e6:.0f} MB")

    tools = {
        "qirn-scan": [qirn, "--jobs", "1", "--signatures", kvd, empty],
        # -d loads only this database (no default database, no network).
        "clamscan": ["clamscan", "--no-summary", f"--tempdir={clam_tmp}", "-d", hdb, sample],
    }
    floor = run_measured(["true"], os.devnull, os.devnull)[2]
    samples = {n: [] for n in tools}
    qirn_times = []
    order = list(tools)
    out, err = os.path.join(work, "out.txt"), os.path.join(work, "err.txt")
    for rnd in range(args.warmup + args.rounds):
        timed = rnd >= args.warmup
        line = []
        for name in order[rnd % 2:] + order[:rnd % 2]:
            rc, wall, rss = run_measured(tools[name], out, err)
            stdout, stderr = scan_bench.read(out), scan_bench.read(err)
            if name == "qirn-scan":
                summary = scan_bench.parse_summary(stderr)
                if rc != 0 or summary.get("Signatures loaded") != str(args.lines):
                    sys.stderr.buffer.write(stderr[-2000:])
                    raise BenchError(f"qirn-scan exited with {rc}, summary {summary}")
                internal = summary.get("Time", "").split(" ")[0]
                if timed and internal:
                    qirn_times.append(float(internal))
            else:
                # The sample's digest is one of the entries: a hit shows the
                # database was really loaded.
                want = f"{sample}: {probe_name}.UNOFFICIAL FOUND".encode()
                if rc != 1 or want not in stdout:
                    sys.stderr.buffer.write(stdout[-2000:] + stderr[-2000:])
                    raise BenchError(f"clamscan exited with {rc} without the expected hit")
            if timed:
                samples[name].append((wall, rss))
            line.append(f"{name} {wall:.2f}s {rss / 2**20:.0f} MiB")
        log(f"{'round ' + str(rnd - args.warmup + 1) if timed else 'warm-up'}: " + ", ".join(line))

    report(args, tools, samples, qirn_times, kvd, hdb, floor)
    return 0


def verdict(ratio, target):
    if ratio <= target:
        return "met"
    return f"MISSED by {ratio / target:.2f}x"


def report(args, tools, samples, qirn_times, kvd, hdb, floor):
    med = {n: (statistics.median(w for w, _ in s), min(w for w, _ in s),
               statistics.median(r for _, r in s)) for n, s in samples.items()}
    print()
    print(f"Signatures: {args.lines} random MD5 digests, seed {args.seed}; "
          f"sa.kvd {os.path.getsize(kvd) / 1e6:.0f} MB (CR LF), "
          f"big.hdb {os.path.getsize(hdb) / 1e6:.0f} MB")
    print(f"Rounds: {args.warmup} warm-up + {args.rounds} timed, tools alternated each round")
    print()
    print(f"{'tool':<12}{'median wall s':>14}{'min wall s':>12}{'median peak RSS MiB':>21}")
    for name, (wall, best, rss) in med.items():
        print(f"{name:<12}{wall:>14.3f}{best:>12.3f}{rss / 2**20:>21.0f}")
    if qirn_times:
        print(f"(qirn-scan's own 'Time:' median: {statistics.median(qirn_times):.3f} s)")
    print(f"(peak RSS is ru_maxrss from wait4; 'true' started the same way shows "
          f"{floor / 2**20:.0f} MiB)")
    print()
    q, c = med["qirn-scan"], med["clamscan"]
    t_ratio, m_ratio = q[0] / c[0], q[2] / c[2]
    print(f"qirn-scan / clamscan  time   {t_ratio:.3f}x  (target <= 0.333: {verdict(t_ratio, TARGET_TIME)})")
    print(f"qirn-scan / clamscan  memory {m_ratio:.3f}x  (target <= 1.000: {verdict(m_ratio, TARGET_MEMORY)})")
    print()
    print("Commands:")
    for name, argv in tools.items():
        print(f"  {name}: {shlex.join(argv)}")


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as e:
        log(f"signature_load_bench: {e}")
        sys.exit(2)
    except KeyboardInterrupt:
        sys.exit(130)
