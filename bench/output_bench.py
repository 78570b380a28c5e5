#!/usr/bin/env python3
"""What qirn-scan's output costs: --format jsonl against text, and the
progress line on a terminal against --quiet on the same terminal.

Same tree and signature set as scan_bench.py (a copy of /usr/share, 200 real
hits among 100,000 random digests), single-threaded, hashdeep in every round
as the peer. The JSON Lines hits must equal the text hits and every record
must parse. Targets: jsonl at most 5% over text; the progress line at most 2%.
"""

import argparse
import base64
import json
import os
import pty
import shutil
import statistics
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scan_bench  # noqa: E402  (shared tree copy, oracle and signature set)
from scan_bench import BenchError, log  # noqa: E402


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--source", default="/usr/share", help="folder to copy (default: /usr/share)")
    p.add_argument("--max-files", type=int, default=0, help="copy only the first N files")
    p.add_argument("--rounds", type=int, default=7, help="timed rounds (default: 7)")
    p.add_argument("--warmup", type=int, default=1, help="warm-up rounds (default: 1)")
    p.add_argument("--qirn-scan", default=scan_bench.DEFAULT_QIRN, help="qirn-scan binary")
    p.add_argument("--build", action="store_true", help="rebuild build/bench/cli/qirn-scan first")
    p.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = p.parse_args()
    args.hits, args.random, args.seed = 200, 100_000, 20240601
    return args


def run_on_terminal(argv, out_path):
    """Runs ARGV with standard error on a fresh pseudo-terminal that a thread
    drains, as a terminal would; returns (exit code, wall s, cpu s, shown)."""
    master, slave = pty.openpty()
    shown = bytearray()

    def drain():
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                return
            if not chunk:
                return
            shown.extend(chunk)

    reader = threading.Thread(target=drain)
    reader.start()
    flags = os.O_WRONLY | os.O_CREAT | os.O_TRUNC
    actions = [
        (os.POSIX_SPAWN_OPEN, 0, "/dev/null", os.O_RDONLY, 0),
        (os.POSIX_SPAWN_OPEN, 1, out_path, flags, 0o644),
        (os.POSIX_SPAWN_DUP2, slave, 2),
    ]
    start = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)
    _, status, ru = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    os.close(slave)
    reader.join()
    os.close(master)
    return os.waitstatus_to_exitcode(status), wall, ru.ru_utime + ru.ru_stime, bytes(shown)


def jsonl_hits(data):
    hits = []
    for line in data.decode("utf-8").splitlines():
        record = json.loads(line)
        if record["type"] == "hit":
            path = base64.b64decode(record["path_base64"]) if "path_base64" in record else record["path"].encode()
            hits.append((path, record["signature"].encode()))
    return sorted(hits)


def main():
    args = parse_args()
    qirn = scan_bench.ensure_qirn_scan(args)
    if not shutil.which("hashdeep"):
        raise BenchError("hashdeep not found")
    work = tempfile.mkdtemp(prefix="qirn-output-bench-", dir="/tmp")
    try:
        return bench(args, qirn, work)
    finally:
        if args.keep:
            log(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


def bench(args, qirn, work):
    tree = os.path.join(work, "tree")
    log(f"copying {args.source} to {tree} ...")
    scan_bench.copy_tree(args.source, tree, args.max_files)
    files, _ = scan_bench.survey(tree)
    scan_bench.build_signatures(files, work, args.hits, args.random, args.seed)
    kvd = os.path.join(work, "sa.kvd")
    # Every run reads every file: with the digest cache, all but the first would be rescans.
    base = [qirn, "--jobs", "1", "--no-cache", "--signatures", kvd]
    tools = {
        "text": (base + [tree], False),
        "jsonl": (base + ["--format", "jsonl", tree], False),
        "text, terminal, progress": (base + [tree], True),
        "text, terminal, --quiet": (base + ["--quiet", tree], True),
        "hashdeep": (["hashdeep", "-j0", "-o", "f", "-r", "-i", str(scan_bench.SIZE_LIMIT), "-m", "-k",
                      os.path.join(work, "known.hashdeep"), tree], False),
    }
    names = list(tools)
    samples = {n: [] for n in names}
    out = os.path.join(work, "out")
    err = os.path.join(work, "err")
    for rnd in range(args.warmup + args.rounds):
        order = names[rnd % len(names):] + names[:rnd % len(names)]
        line = []
        for name in order:
            argv, terminal = tools[name]
            if terminal:
                rc, wall, cpu, shown = run_on_terminal(argv, out)
            else:
                rc, wall, cpu = scan_bench.run_timed(argv, out, err)
                shown = scan_bench.read(err)
            if rc not in ({0, 1} if name == "hashdeep" else {1}):
                raise BenchError(f"{name} exited with {rc}")
            if rnd == 0 and name != "hashdeep":
                data = scan_bench.read(out)
                hits = jsonl_hits(data) if name == "jsonl" else sorted(scan_bench.parse_qirn_hits(data))
                if name == "text":
                    text_hits = hits
                elif name == "jsonl":
                    jsonl = hits
                drawn = b"files/s" in shown
                if drawn != (name == "text, terminal, progress"):
                    raise BenchError(f"{name}: progress line {'missing' if not drawn else 'drawn'}")
            if rnd >= args.warmup:
                samples[name].append((wall, cpu))
            line.append(f"{name} {wall:.3f}s")
        if rnd == 0 and jsonl != text_hits:
            log("FAIL: JSON Lines hits differ from the text hits")
            return 1
        log(("warm-up" if rnd < args.warmup else f"round {rnd - args.warmup + 1}") + ": " + ", ".join(line))

    med = {n: (statistics.median(w for w, _ in s), statistics.median(c for _, c in s)) for n, s in samples.items()}
    print(f"\nTree: copy of {args.source}, {len(files)} files of at most {scan_bench.SIZE_LIMIT} bytes; "
          f"{len(text_hits)} hit lines, the same in both formats (every JSON record parsed)")
    print(f"{'run':<28}{'median wall s':>14}{'median cpu s':>14}")
    for name, (wall, cpu) in med.items():
        print(f"{name:<28}{wall:>14.3f}{cpu:>14.3f}")
    pairs = [("jsonl", "text", 1.05), ("text, terminal, progress", "text, terminal, --quiet", 1.02),
             ("text", "hashdeep", None), ("jsonl", "hashdeep", None)]
    for a, b, target in pairs:
        ratio = med[a][0] / med[b][0]
        note = ""
        if target:
            note = f"   (target <= {target}: " + ("met)" if ratio <= target else "MISSED)")
        print(f"{a + ' / ' + b:<52} wall {ratio:.3f}x   cpu {med[a][1] / med[b][1]:.3f}x{note}")
    print("\nCommands:")
    for name, (argv, terminal) in tools.items():
        print(f"  {name}: {' '.join(argv)}" + ("   (standard error on a pseudo-terminal)" if terminal else ""))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as e:
        log(f"output_bench: {e}")
        sys.exit(2)
