#!/usr/bin/env python3
"""Times qirn-scan with 100,000 MD5 plus 100,000 SHA-256 signatures against
qirn-scan with the 100,000 MD5 signatures alone, on the same copy of a real
folder, --jobs 1, warm cache. The SHA-256 list makes the scan digest every
file twice from one read. Peers from the same run: `md5sum` and `sha256sum`
over the same files. Target: with SHA-256 <= 1.5 x MD5 only.

    python3 bench/sha256_scan_bench.py                       # /usr/share, first 20,000 files
    python3 bench/sha256_scan_bench.py --source /usr/lib --max-files 0 --rounds 5
"""

import argparse
import hashlib
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIZE_LIMIT = 83000


def build(build_dir):
    if not os.path.exists(os.path.join(build_dir, "build.ninja")):
        subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DQIRN_BUILD_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "qirn-scan"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "cli", "qirn-scan")


def copy_tree(source, dest, max_files):
    """Regular files of SOURCE in sorted walk order (all when max_files is 0)."""
    copied = []
    for folder, subfolders, names in os.walk(source):
        subfolders.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            if not os.path.isfile(path) or os.path.islink(path):
                continue
            target = os.path.join(dest, os.path.relpath(path, source))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            try:
                shutil.copyfile(path, target)
            except OSError:
                continue
            copied.append(target)
            if max_files and len(copied) >= max_files:
                return copied
    return copied


def timed(command):
    """Wall seconds, CPU seconds (user + system, children included) and the result."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, result


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", default="/usr/share")
    parser.add_argument("--max-files", type=int, default=20000, help="0 copies every file")
    parser.add_argument("--signatures", type=int, default=100_000, help="random digests of each kind")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--qirn-scan", help="a built qirn-scan instead of building one")
    args = parser.parse_args()
    scan = args.qirn_scan or build(args.build_dir)

    work = tempfile.mkdtemp(prefix="qirn-sha256-bench-")
    try:
        tree = os.path.join(work, "tree")
        files = copy_tree(args.source, tree, args.max_files)
        small = [path for path in files if os.path.getsize(path) <= SIZE_LIMIT]
        rng = random.Random(256)
        md5_hits = rng.sample(small, min(100, len(small)))
        sha_hits = rng.sample(small, min(100, len(small)))

        def digest(path, kind):
            with open(path, "rb") as data:
                return hashlib.new(kind, data.read()).hexdigest()

        md5_lines = ["%032x=Random.%d" % (rng.getrandbits(128), i) for i in range(args.signatures)]
        md5_lines += ["%s=Md5.%d" % (digest(path, "md5"), i) for i, path in enumerate(md5_hits)]
        sha_lines = ["%064x=Random.Sha.%d" % (rng.getrandbits(256), i) for i in range(args.signatures)]
        sha_lines += ["%s=Sha.%d" % (digest(path, "sha256"), i) for i, path in enumerate(sha_hits)]
        rng.shuffle(md5_lines)
        both_lines = md5_lines + sha_lines
        rng.shuffle(both_lines)
        md5_kvd = os.path.join(work, "md5.kvd")
        both_kvd = os.path.join(work, "both.kvd")
        for path, lines in ((md5_kvd, md5_lines), (both_kvd, both_lines)):
            with open(path, "w", newline="") as out:
                out.write("\r\n".join(lines) + "\r\n")

        # The hits are checked once against hashlib before anything is timed;
        # files of equal content share a digest, so each hit may find several.
        md5_set = {digest(path, "md5") for path in md5_hits}
        sha_set = {digest(path, "sha256") for path in sha_hits}
        by_md5 = {path for path in small if digest(path, "md5") in md5_set}
        by_sha = {path for path in small if digest(path, "sha256") in sha_set}
        expected = {"md5": by_md5, "both": by_md5 | by_sha}
        for name, kvd in (("md5", md5_kvd), ("both", both_kvd)):
            _, _, result = timed([scan, "--quiet", "--jobs", "1", "--signatures", kvd, tree])
            found = {line.rsplit(": ", 1)[0] for line in result.stdout.decode(errors="surrogateescape").splitlines()}
            if found != expected[name]:
                print("%s: qirn-scan found %d files, hashlib %d" % (name, len(found), len(expected[name])))
                return 1

        listing = os.path.join(work, "small-files")
        with open(listing, "w") as out:
            out.write("\0".join(small))
        commands = {
            "qirn-scan, MD5 only": [scan, "--quiet", "--jobs", "1", "--signatures", md5_kvd, tree],
            "qirn-scan, MD5 + SHA-256": [scan, "--quiet", "--jobs", "1", "--signatures", both_kvd, tree],
            "md5sum (peer)": ["xargs", "-0", "-a", listing, "md5sum"],
            "sha256sum (peer)": ["xargs", "-0", "-a", listing, "sha256sum"],
        }
        walls = {name: [] for name in commands}
        cpus = {name: [] for name in commands}
        for name, command in commands.items():  # warm-up
            timed(command)
        for _ in range(args.rounds):
            for name, command in commands.items():
                wall, cpu, _ = timed(command)
                walls[name].append(wall)
                cpus[name].append(cpu)
        wall = {name: statistics.median(values) for name, values in walls.items()}
        cpu = {name: statistics.median(values) for name, values in cpus.items()}
        print("%d files (%d of at most %d bytes), %d MD5 + %d SHA-256 signatures, %d rounds (medians)" %
              (len(files), len(small), SIZE_LIMIT, len(md5_lines), len(sha_lines), args.rounds))
        print("  %-26s %9s %9s" % ("", "wall", "CPU"))
        for name in commands:
            print("  %-26s %7.3f s %7.3f s" % (name, wall[name], cpu[name]))
        both, alone = "qirn-scan, MD5 + SHA-256", "qirn-scan, MD5 only"
        ratio = wall[both] / wall[alone]
        print("  with SHA-256 / MD5 only: wall %.2f (target <= 1.5), CPU %.2f; sha256sum / md5sum: wall %.2f, CPU %.2f"
              % (ratio, cpu[both] / cpu[alone], wall["sha256sum (peer)"] / wall["md5sum (peer)"],
                 cpu["sha256sum (peer)"] / cpu["md5sum (peer)"]))
        return 0 if ratio <= 1.5 else 1
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
