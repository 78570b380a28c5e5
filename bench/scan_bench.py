#!/usr/bin/env python3
"""Benchmark qirn-scan against hashdeep and a find | md5sum pipeline.

Copies a real folder into /tmp, builds a signature set (real hits plus many
random digests), checks qirn-scan's hits against an independent Python oracle
and hashdeep, then times the tools round by round on a warm cache.
With --parallel it times qirn-scan --jobs 1, qirn-scan --jobs N and hashdeep
with its default threads instead, and checks that --jobs N prints exactly
what --jobs 1 prints.
"""

import argparse
import collections
import hashlib
import os
import random
import shlex
import shutil
import stat
import statistics
import subprocess
import sys
import tempfile
import time

SIZE_LIMIT = 83000
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_QIRN = os.path.join(REPO, "build", "bench", "cli", "qirn-scan")
BUILD_COMMANDS = [
    ["cmake", "-S", ".", "-B", "build/bench", "-G", "Ninja",
     "-DCMAKE_BUILD_TYPE=Release", "-DQIRN_BUILD_TESTS=OFF"],
    ["cmake", "--build", "build/bench", "--target", "qirn-scan"],
]


class BenchError(Exception):
    """Setup problem: the benchmark cannot run (exit 2)."""


def log(message):
    print(message, file=sys.stderr, flush=True)


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--source", default="/usr/share",
                   help="folder to copy and scan (default: /usr/share)")
    p.add_argument("--max-files", type=int, default=0,
                   help="copy only the first N regular files of SOURCE in sorted walk "
                        "order (default: copy everything with cp -a)")
    p.add_argument("--rounds", type=int, default=7, help="timed rounds (default: 7)")
    p.add_argument("--warmup", type=int, default=1, help="warm-up rounds (default: 1)")
    p.add_argument("--hits", type=int, default=200,
                   help="real files whose digests become signatures (default: 200)")
    p.add_argument("--random", type=int, default=100_000,
                   help="random digests added to the signature set (default: 100000)")
    p.add_argument("--seed", type=int, default=20240601, help="RNG seed")
    p.add_argument("--qirn-scan", default=DEFAULT_QIRN,
                   help="qirn-scan binary (default: build/bench/cli/qirn-scan, "
                        "built if missing)")
    p.add_argument("--build", action="store_true",
                   help="(re)build the default qirn-scan before running")
    p.add_argument("--jobs", type=int, default=None,
                   help="--jobs passed to qirn-scan if it has that option (default: 1; "
                        "with --parallel: the number of cores)")
    p.add_argument("--parallel", action="store_true",
                   help="time qirn-scan --jobs 1, qirn-scan --jobs N and multi-threaded "
                        "hashdeep instead of the single-threaded comparison")
    p.add_argument("--no-grep", action="store_true",
                   help="skip the find | md5sum | grep -F variant")
    p.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = p.parse_args()
    if args.rounds < 1 or args.warmup < 1:
        p.error("--rounds and --warmup must be at least 1")
    if args.jobs is None:
        args.jobs = (os.cpu_count() or 1) if args.parallel else 1
    if args.jobs < 1 or (args.parallel and args.jobs < 2):
        p.error("--jobs must be at least 1, and at least 2 with --parallel")
    return args


def ensure_qirn_scan(args):
    path = os.path.abspath(args.qirn_scan)
    is_default = path == DEFAULT_QIRN
    if is_default and (args.build or not os.access(path, os.X_OK)):
        log("building qirn-scan in build/bench ...")
        for cmd in BUILD_COMMANDS:
            if subprocess.run(cmd, cwd=REPO, stdout=subprocess.DEVNULL).returncode != 0:
                raise BenchError("build failed: " + shlex.join(cmd))
    if not os.access(path, os.X_OK):
        raise BenchError(f"qirn-scan not found or not executable: {path}")
    return path


def copy_tree(source, dest, max_files):
    """Copies SOURCE to DEST: whole tree with cp -a, or the first MAX_FILES files."""
    if not os.path.isdir(source):
        raise BenchError(f"source is not a folder: {source}")
    if not max_files:
        r = subprocess.run(["cp", "-a", "--", source, dest])
        if r.returncode != 0:
            raise BenchError(f"cp -a {source} {dest} failed ({r.returncode})")
        return
    copied = 0
    src_b, dest_b = os.fsencode(source), os.fsencode(dest)
    for dirpath, dirnames, filenames in os.walk(src_b):
        dirnames.sort()
        target_dir = dest_b + dirpath[len(src_b):]
        os.makedirs(target_dir, exist_ok=True)
        for name in sorted(filenames + [d for d in dirnames if os.path.islink(os.path.join(dirpath, d))]):
            src = os.path.join(dirpath, name)
            st = os.lstat(src)
            if stat.S_ISLNK(st.st_mode):
                os.symlink(os.readlink(src), os.path.join(target_dir, name))
            elif stat.S_ISREG(st.st_mode):
                shutil.copy2(src, os.path.join(target_dir, name))
                copied += 1
                if copied >= max_files:
                    return


def md5_file(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 16):
            h.update(chunk)
    return h.hexdigest()


def survey(root):
    """Oracle walk: every regular file <= SIZE_LIMIT bytes, links not followed.

    Returns (list of (path bytes, size, md5 hex) in sorted path order, totals)."""
    files = []
    totals = collections.Counter()

    def onerror(e):
        raise BenchError(f"cannot walk {e.filename!r}: {e}")

    for dirpath, dirnames, filenames in os.walk(os.fsencode(root), onerror=onerror):
        for name in filenames + dirnames:
            path = os.path.join(dirpath, name)
            st = os.lstat(path)
            if stat.S_ISDIR(st.st_mode):
                continue
            totals["entries"] += 1
            if not stat.S_ISREG(st.st_mode):
                continue
            totals["regular"] += 1
            totals["regular_bytes"] += st.st_size
            if st.st_size <= SIZE_LIMIT:
                files.append((path, st.st_size, md5_file(path)))
                totals["eligible_bytes"] += st.st_size
    files.sort()
    return files, totals


def build_signatures(files, work, n_hits, n_random, seed):
    """Writes sa.kvd (CR LF), known.hashdeep and digests.txt; returns digest -> [names]."""
    rng = random.Random(seed)
    picked = rng.sample(files, min(n_hits, len(files)))
    entries = []  # (digest, name, size)
    for i, (path, size, _) in enumerate(picked):
        entries.append((md5_file(path), f"Bench.Hit.{i}", size))
    # A few digests listed twice: each entry must give its own hit line.
    for i in range(min(3, len(picked))):
        entries.append((entries[i][0], f"Bench.Dup.{i}", entries[i][2]))
    for i in range(n_random):
        entries.append((f"{rng.getrandbits(128):032x}", f"Bench.Random.{i}",
                        rng.randint(0, SIZE_LIMIT)))
    rng.shuffle(entries)

    with open(os.path.join(work, "sa.kvd"), "wb") as f:
        f.write(b"".join(f"{d}={n}\r\n".encode() for d, n, _ in entries))
    # hashdeep 4.4 accepts only its own format (not md5sum's) and matches
    # only if the size is right too.
    with open(os.path.join(work, "known.hashdeep"), "w") as f:
        f.write("%%%% HASHDEEP-1.0\n%%%% size,md5,filename\n")
        f.writelines(f"{s},{d},{n}\n" for d, n, s in entries)
    with open(os.path.join(work, "digests.txt"), "w") as f:
        f.writelines(f"{d}\n" for d in sorted({d for d, _, _ in entries}))

    names = collections.defaultdict(list)
    for d, n, _ in entries:
        names[d].append(n)
    return names, len(entries), len(picked)


def run_timed(argv, out_path, err_path):
    """Runs ARGV with stdout/stderr to files; returns (exit code, wall s, cpu s)."""
    flags = os.O_WRONLY | os.O_CREAT | os.O_TRUNC
    actions = [
        (os.POSIX_SPAWN_OPEN, 0, "/dev/null", os.O_RDONLY, 0),
        (os.POSIX_SPAWN_OPEN, 1, out_path, flags, 0o644),
        (os.POSIX_SPAWN_OPEN, 2, err_path, flags, 0o644),
    ]
    start = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)
    _, status, ru = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    # wait4's usage includes the grandchildren a shell pipeline waited for.
    return os.waitstatus_to_exitcode(status), wall, ru.ru_utime + ru.ru_stime


def read(path):
    with open(path, "rb") as f:
        return f.read()


def parse_qirn_hits(data):
    hits = collections.Counter()
    for line in data.split(b"\n"):
        if not line:
            continue
        if not line.endswith(b" FOUND") or b": " not in line:
            raise BenchError(f"unexpected qirn-scan output line: {line!r}")
        path, name = line[: -len(b" FOUND")].rsplit(b": ", 1)
        hits[(path, name)] += 1
    return hits


def parse_summary(data):
    summary = {}
    for line in data.decode(errors="replace").splitlines():
        key, sep, value = line.partition(": ")
        if sep and key in ("Signatures loaded", "Files examined", "Hits", "Unreadable", "Time"):
            summary[key] = value
    return summary


def parse_md5sum(data):
    """md5sum lines 'DIGEST  PATH'; a leading backslash marks escaped names."""
    result = {}
    for line in data.split(b"\n"):
        if not line:
            continue
        escaped = line.startswith(b"\\")
        if escaped:
            line = line[1:]
        digest, path = line[:32], line[34:]
        if escaped:
            path = path.replace(b"\\n", b"\n").replace(b"\\\\", b"\\")
        result[path] = digest.decode()
    return result


def show_mismatch(title, items):
    items = sorted(items)
    log(f"  {title}: {len(items)}")
    for item in items[:50]:
        log(f"    {item!r}")
    if len(items) > 50:
        log("    ...")


def check(outputs, files, names, tools, qirn_name="qirn-scan"):
    """Compares the warm-up outputs with the oracle; returns a list of failures."""
    failures = []
    expected = collections.Counter()
    for path, _, digest in files:
        for name in names.get(digest, ()):
            expected[(path, name.encode())] += 1
    expected_paths = {p for p, _ in expected}

    got = parse_qirn_hits(outputs[qirn_name][0])
    if got != expected:
        failures.append("qirn-scan hits differ from the oracle")
        show_mismatch("expected but missing or too few (path, name)", (expected - got).keys())
        show_mismatch("reported but not expected or too many (path, name)", (got - expected).keys())
    summary = parse_summary(outputs[qirn_name][1])
    log(f"qirn-scan summary: {summary}")
    if summary.get("Hits") != str(sum(got.values())):
        failures.append("qirn-scan summary Hits does not match its hit lines")
    if summary.get("Unreadable") != "0":
        failures.append("qirn-scan reported unreadable files")
    if summary.get("Signatures loaded") != str(sum(len(v) for v in names.values())):
        log("note: qirn-scan 'Signatures loaded' differs from the number of entries")
    if summary.get("Files examined") != str(len(files)):
        log(f"note: qirn-scan 'Files examined' {summary.get('Files examined')} "
            f"!= {len(files)} regular files <= {SIZE_LIMIT} bytes")

    hd_paths = [l for l in outputs["hashdeep"][0].split(b"\n") if l]
    if len(hd_paths) != len(set(hd_paths)) or set(hd_paths) != expected_paths:
        failures.append("hashdeep matches differ from the oracle")
        show_mismatch("oracle paths hashdeep missed", expected_paths - set(hd_paths))
        show_mismatch("hashdeep paths not in the oracle", set(hd_paths) - expected_paths)

    if "find | md5sum" in tools:
        want = {p: d for p, _, d in files}
        got_md5 = parse_md5sum(outputs["find | md5sum"][0])
        if got_md5 != want:
            failures.append("find | md5sum output differs from the oracle's file list")
            show_mismatch("oracle files missing", want.keys() - got_md5.keys())
            show_mismatch("extra files", got_md5.keys() - want.keys())
    if "find | md5sum | grep" in tools:
        got_grep = parse_md5sum(outputs["find | md5sum | grep"][0])
        if set(got_grep) != expected_paths:
            failures.append("find | md5sum | grep matches differ from the oracle")
    return failures, len(expected_paths), sum(expected.values())


def main():
    args = parse_args()
    qirn = ensure_qirn_scan(args)
    if not shutil.which("hashdeep"):
        raise BenchError("hashdeep not found")
    qirn_help = subprocess.run([qirn, "--help"], capture_output=True).stdout
    qirn_jobs = ["--jobs", str(args.jobs)] if b"--jobs" in qirn_help else []
    # Every round reads every file, as a first scan does.
    if b"--no-cache" in qirn_help:
        qirn_jobs.append("--no-cache")
    if args.parallel and not qirn_jobs:
        raise BenchError("--parallel needs a qirn-scan with --jobs")

    work = tempfile.mkdtemp(prefix="qirn-bench-", dir="/tmp")
    try:
        return bench(args, qirn, qirn_jobs, work)
    finally:
        if args.keep:
            log(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


def bench(args, qirn, qirn_jobs, work):
    tree = os.path.join(work, "tree")
    log(f"copying {args.source} to {tree} ...")
    t = time.perf_counter()
    copy_tree(args.source, tree, args.max_files)
    log(f"  {time.perf_counter() - t:.1f} s")

    log("oracle walk and digests ...")
    files, totals = survey(tree)
    if not files:
        raise BenchError("no regular file of at most 83000 bytes in the copy")
    names, n_entries, n_picked = build_signatures(files, work, args.hits, args.random, args.seed)
    kvd = os.path.join(work, "sa.kvd")
    known = os.path.join(work, "known.hashdeep")
    digests = os.path.join(work, "digests.txt")

    q = shlex.quote
    find_md5 = f"find {q(tree)} -type f -size -{SIZE_LIMIT + 1}c -print0 | xargs -0 md5sum"
    hashdeep = ["hashdeep", "-o", "f", "-r", "-i", str(SIZE_LIMIT), "-m", "-k", known, tree]
    if args.parallel:
        # hashdeep without -j uses one thread per core.
        qirn_ref, qirn_par = "qirn-scan --jobs 1", f"qirn-scan --jobs {args.jobs}"
        tools = {
            qirn_ref: [qirn, "--jobs", "1", "--signatures", kvd, tree],
            qirn_par: [qirn, *qirn_jobs, "--signatures", kvd, tree],
            "hashdeep": hashdeep,
        }
    else:
        qirn_ref = qirn_par = "qirn-scan"
        tools = {
            "qirn-scan": [qirn, *qirn_jobs, "--signatures", kvd, tree],
            "hashdeep": hashdeep[:1] + ["-j0"] + hashdeep[1:],
            "find | md5sum": ["bash", "-c", f"set -o pipefail; {find_md5}"],
        }
    if not args.no_grep and not args.parallel:
        tools["find | md5sum | grep"] = [
            "bash", "-c", f"set -o pipefail; {find_md5} | LC_ALL=C grep -F -f {q(digests)}"]
    expected_rc = {"qirn-scan": {1}, "hashdeep": {0, 1},  # 1: some known hashes unused
                   "find | md5sum": {0},
                   "find | md5sum | grep": {0}}

    names_list = list(tools)
    samples = {n: [] for n in names_list}
    qirn_times = collections.defaultdict(list)
    outputs = {}
    first_qirn = None
    for rnd in range(args.warmup + args.rounds):
        timed = rnd >= args.warmup
        # Rotate the starting tool each round so none always runs first.
        order = names_list[rnd % len(names_list):] + names_list[:rnd % len(names_list)]
        line = []
        round_qirn = {}
        for name in order:
            out = os.path.join(work, "out.txt")
            err = os.path.join(work, "err.txt")
            rc, wall, cpu = run_timed(tools[name], out, err)
            is_qirn = name.startswith("qirn-scan")
            if rc not in expected_rc["qirn-scan" if is_qirn else name]:
                sys.stderr.buffer.write(read(err)[-2000:])
                raise BenchError(f"{name} exited with {rc}: {shlex.join(tools[name])}")
            if rnd == 0:
                outputs[name] = (read(out), read(err))
            if is_qirn:
                stdout, summary = read(out), parse_summary(read(err))
                hits = sorted(stdout.split(b"\n"))
                if first_qirn is None:
                    first_qirn = hits
                elif hits != first_qirn:
                    raise BenchError(f"{name} output changed in round {rnd}")
                internal = summary.pop("Time", "").split(" ")[0]
                if timed and internal:
                    qirn_times[name].append(float(internal))
                round_qirn[name] = (stdout, summary)
            if timed:
                samples[name].append((wall, cpu))
            line.append(f"{name} {wall:.3f}s")
        log(f"{'round ' + str(rnd - args.warmup + 1) if timed else 'warm-up'}: " + ", ".join(line))
        if round_qirn[qirn_par] != round_qirn[qirn_ref]:
            # Same hit lines in the same order, same summary apart from Time.
            log(f"FAIL: {qirn_par} output differs from {qirn_ref} "
                f"({round_qirn[qirn_par][1]} vs {round_qirn[qirn_ref][1]})")
            return 1
        if rnd == 0:
            failures, n_hit_files, n_hit_lines = check(outputs, files, names, tools, qirn_ref)
            if failures:
                for f in failures:
                    log("FAIL: " + f)
                return 1
            log(f"correctness: OK ({n_hit_lines} hit lines on {n_hit_files} files agree "
                f"with the oracle and hashdeep)")
            if args.parallel:
                log(f"{qirn_par} output is byte-identical to {qirn_ref} "
                    f"(checked every round)")

    report(args, tools, samples, qirn_times, files, totals, n_entries, n_picked,
           n_hit_files, n_hit_lines, qirn_ref, qirn_par)
    return 0


def target_note(ratio, target):
    return f"(target <= {target}: " + ("met)" if ratio <= target else
                                       f"MISSED by {ratio / target:.2f}x)")


def report(args, tools, samples, qirn_times, files, totals, n_entries, n_picked,
           n_hit_files, n_hit_lines, qirn_ref="qirn-scan", qirn_par="qirn-scan"):
    eligible_mb = sum(s for _, s, _ in files) / 1e6
    med = {n: (statistics.median(w for w, _ in s), statistics.median(c for _, c in s),
               min(w for w, _ in s)) for n, s in samples.items()}
    print()
    print(f"Tree: copy of {args.source}" + (f" (first {args.max_files} files)" if args.max_files else ""))
    print(f"  {totals['entries']} non-folder entries, {totals['regular']} regular files; "
          f"{len(files)} of at most {SIZE_LIMIT} bytes ({eligible_mb:.1f} MB)")
    print(f"Signatures: {n_entries} entries ({n_picked} real files, 3 duplicated, "
          f"{args.random} random), seed {args.seed}")
    print(f"Expected hits: {n_hit_lines} lines on {n_hit_files} files (verified)")
    print(f"Rounds: {args.warmup} warm-up + {args.rounds} timed, tools alternated each round")
    if args.parallel:
        print(f"Parallel: hashdeep with its default threads (one per core, "
              f"{os.cpu_count()} cores); {qirn_par} output identical to {qirn_ref} (verified)")
    print()
    print(f"{'tool':<24}{'median wall s':>14}{'min wall s':>12}{'median cpu s':>14}{'files/s':>10}{'MB/s':>8}")
    for name, (wall, cpu, best) in med.items():
        print(f"{name:<24}{wall:>14.3f}{best:>12.3f}{cpu:>14.3f}"
              f"{len(files) / wall:>10.0f}{eligible_mb / wall:>8.0f}")
    for name in tools:
        if qirn_times.get(name):
            print(f"({name}'s own 'Time:' median: {statistics.median(qirn_times[name]):.3f} s)")
    print()
    if args.parallel:
        pairs = [(qirn_par, "hashdeep", 0.33), (qirn_par, qirn_ref, 0.6),
                 (qirn_ref, "hashdeep", None)]
        for a, b, target in pairs:
            ratio = med[a][0] / med[b][0]
            print(f"{a + ' / ' + b:<42} wall {ratio:.2f}x   cpu {med[a][1] / med[b][1]:.2f}x"
                  + (f"   {target_note(ratio, target)}" if target else ""))
    else:
        q = med["qirn-scan"]
        for other in tools:
            if other == "qirn-scan":
                continue
            o = med[other]
            print(f"qirn-scan / {other:<22} wall {q[0] / o[0]:.2f}x   cpu {q[1] / o[1]:.2f}x")
    print()
    print("Commands (cpu = user+sys of the process and its children):")
    for name, argv in tools.items():
        print(f"  {name}: {argv[2] if argv[0] == 'bash' else shlex.join(argv)}")


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as e:
        log(f"scan_bench: {e}")
        sys.exit(2)
    except KeyboardInterrupt:
        sys.exit(130)
