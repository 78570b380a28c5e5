#!/usr/bin/env python3
"""qirn-scan.exe --jobs 1 under Wine against the Linux qirn-scan --jobs 1.

Builds three trees of the same shape (N files in folders of 100), each adding
one step of the per-file work, and times both programs on each, warm cache:
  listed  - files excluded by name: the folder listing only;
  opened  - sparse files over the size limit: listing + open + size check;
  digested- files of 60 kB: listing + open + read + MD5.
The differences give the cost of listing, opening and digesting per file.
Wine's own start-up (measured with --help) is subtracted from the Windows
times. Needs build/dev/cli/qirn-scan and build/test-windows/cli/qirn-scan.exe
(tools/test-windows.sh builds the latter).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def make_tree(root, files, size, suffix):
    for i in range(files):
        folder = os.path.join(root, f"d{i // 100:04d}")
        if i % 100 == 0:
            os.makedirs(folder)
        path = os.path.join(folder, f"f{i:06d}{suffix}")
        with open(path, "wb") as out:
            if size > 70000:
                out.truncate(size)  # sparse: nothing is read from it
            else:
                out.write(os.urandom(size))


def timed(command, env, rounds):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        done = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        times.append(time.perf_counter() - start)
        if done.returncode not in (0, 1):
            raise SystemExit(f"{command[0]} failed ({done.returncode}): {done.stderr.decode()[-400:]}")
    return statistics.median(times)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--files", type=int, default=5000)
    p.add_argument("--rounds", type=int, default=3)
    p.add_argument("--linux", default=os.path.join(REPO, "build/dev/cli/qirn-scan"))
    p.add_argument("--windows", default=os.path.join(REPO, "build/test-windows/cli/qirn-scan.exe"))
    args = p.parse_args()

    work = tempfile.mkdtemp(prefix="qirn-winbench-")
    env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=os.path.join(work, "prefix"),
               WINEDLLOVERRIDES="mscoree,mshtml=", PATH="/usr/lib/wine:" + os.environ["PATH"])
    try:
        kvd = os.path.join(work, "sa.kvd")
        with open(kvd, "w") as out:
            for _ in range(1000):
                out.write(os.urandom(16).hex() + "=Random\r\n")
        trees = {"listed": (0, ".x"), "opened": (100000, ""), "digested": (60000, "")}
        for name, (size, suffix) in trees.items():
            make_tree(os.path.join(work, name), args.files, size, suffix)
        subprocess.run(["wine64", "wineboot", "--init"], env=env, capture_output=True, check=True)
        wine_start = timed(["wine64", args.windows, "--help"], env, args.rounds)

        results = {}
        for name in trees:
            folder = os.path.join(work, name)
            common = ["--jobs", "1", "--exclude", "*.x", "--signatures", kvd, folder]
            linux = timed([args.linux, *common], env, args.rounds)
            windows = timed(["wine64", args.windows, *common], env, args.rounds) - wine_start
            results[name] = (linux, windows)

        print(f"{args.files} files, median of {args.rounds}; Wine start-up {wine_start:.2f} s subtracted")
        print(f"{'tree':10} {'Linux s':>9} {'Wine s':>9} {'ratio':>7}")
        for name, (linux, windows) in results.items():
            print(f"{name:10} {linux:9.3f} {windows:9.3f} {windows / linux:7.1f}")
        steps = [("listing", results["listed"]),
                 ("opening", tuple(b - a for a, b in zip(results["listed"], results["opened"]))),
                 ("digest", tuple(b - a for a, b in zip(results["opened"], results["digested"])))]
        print(f"{'per file':10} {'Linux us':>9} {'Wine us':>9} {'ratio':>7}")
        for name, (linux, windows) in steps:
            print(f"{name:10} {linux / args.files * 1e6:9.1f} {windows / args.files * 1e6:9.1f} "
                  f"{(windows / linux if linux > 0 else float('nan')):7.1f}")
    finally:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
