#!/usr/bin/env python3
"""qirn-scan as scripts and terminals meet it: every JSON Lines record parsed,
forged names, failed writes, Ctrl-C mid-scan, the progress line on a terminal.
Usage: scan_streams_test.py QIRN_SCAN"""
import base64
import hashlib
import json
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SCAN = sys.argv[1]
NOBODY = 65534
failures = []


def check(condition, what, detail=""):
    if not condition:
        failures.append(f"{what}: {detail}"[:2000])


def as_nobody():
    # Permissions bind root only after it gives up its privileges.
    if os.geteuid() == 0:
        os.setgid(NOBODY)
        os.setuid(NOBODY)


def run(args, **kwargs):
    return subprocess.run([SCAN, *args], capture_output=True, timeout=120, **kwargs)


root = tempfile.mkdtemp(prefix="qirn-streams-")
os.chmod(root, 0o755)
try:
    evil = b"evil"
    kvd = os.path.join(root, "sa.kvd")
    with open(kvd, "wb") as f:
        f.write(hashlib.md5(evil).hexdigest().encode() + b"=Evil\r\n")
        f.write(hashlib.md5(b"worse").hexdigest().encode() + b"=\x1b]0;owned\x07Worse\x1b[2J\r\n")
    tree = os.path.join(root, "tree").encode()
    names = {
        b"plain.exe": evil,
        b"budget.xls: Evil FOUND\ninnocent.doc": evil,
        b"odd\xff\xfe name": evil,
        b"\x1b[31mred\x1b[0m": b"worse",
        b"clean.txt": b"fine",
    }
    os.makedirs(tree + b"/sub")
    for name, content in names.items():
        with open(tree + b"/sub/" + name, "wb") as f:
            f.write(content)
    locked = tree + b"/locked"
    with open(locked, "wb") as f:
        f.write(evil)
    os.chmod(locked, 0)

    # Every record parses and follows docs/scan-jsonl.md.
    out = run(["--format", "jsonl", "-s", kvd, tree.decode()], preexec_fn=as_nobody)
    records = [json.loads(line) for line in out.stdout.decode("utf-8").splitlines()]
    kinds = [r["type"] for r in records]
    check(out.returncode == 1, "jsonl exit status", out.returncode)
    check(kinds.count("hit") == 4 and kinds.count("unreadable") == 1 and kinds[-1:] == ["summary"],
          "jsonl record types", kinds)
    paths = set()
    for r in records:
        if r["type"] == "hit":
            check(set(r) <= {"type", "path", "path_base64", "signature", "signature_base64", "md5", "size"},
                  "hit fields", r)
            raw = base64.b64decode(r["path_base64"]) if "path_base64" in r else r["path"].encode()
            paths.add(raw)
            content = names[os.path.basename(raw)]
            check(r["md5"] == hashlib.md5(content).hexdigest() and r["size"] == len(content), "hit digest", r)
        elif r["type"] == "unreadable":
            check(r["path"].encode() == locked and r["reason"] == "Permission denied", "unreadable record", r)
    check(paths == {tree + b"/sub/" + n for n, c in names.items() if c != b"fine"}, "hit paths", paths)
    summary = records[-1]
    counts = ["hit", "clean", "too_large", "not_regular", "unreadable", "excluded"]
    check(summary["entries"] == sum(summary[k] for k in counts) == 6, "summary counts", summary)
    check(summary["exit_status"] == 1 and summary["complete"] is False and summary["hits"] == 4,
          "summary status", summary)
    check(summary["signature_file"] == kvd and summary["started"] <= summary["ended"], "summary fields", summary)
    failed = run(["--format", "jsonl", "-s", os.path.join(root, "absent.kvd"), tree.decode()])
    record = json.loads(failed.stdout)
    check(failed.returncode == 2 and record["exit_status"] == 2 and "absent.kvd" in record["error"],
          "jsonl summary of a scan that could not run", failed.stdout)

    # Text output: one hit is one line, and no name reaches the terminal raw.
    out = run(["-s", kvd, tree.decode() + "/sub"])
    lines = out.stdout.split(b"\n")[:-1]
    check(len(lines) == 4 and all(line.endswith(b" FOUND") for line in lines), "one line per hit", lines)
    check(b"\x1b" not in out.stdout + out.stderr and b"\x07" not in out.stdout, "escape sequences", out.stdout)
    check(tree + b"/sub/budget.xls: Evil FOUND\\ninnocent.doc: Evil FOUND" in lines, "forged line", lines)
    check(tree + b"/sub/\\x1b[31mred\\x1b[0m: \\x1b]0;owned\\x07Worse\\x1b[2J FOUND" in lines, "escaped names",
          lines)

    # A failed write ends the scan with a message and status 2.
    with open("/dev/full", "wb") as full:
        out = subprocess.run([SCAN, "-s", kvd, tree.decode()], stdout=full, stderr=subprocess.PIPE, timeout=60)
    check(out.returncode == 2 and b"cannot write to standard output (No space left on device)" in out.stderr,
          "/dev/full", out)
    out = subprocess.run([SCAN, "--format=jsonl", "-s", kvd, tree.decode()], stderr=subprocess.PIPE,
                         preexec_fn=lambda: os.close(1), timeout=60)
    check(out.returncode == 2 and b"Bad file descriptor" in out.stderr, "closed standard output", out)
    reader, writer = os.pipe()
    os.close(reader)
    out = subprocess.run([SCAN, "-s", kvd, tree.decode()], stdout=writer, stderr=subprocess.PIPE, timeout=60)
    os.close(writer)
    check(out.returncode == 2 and b"Broken pipe" in out.stderr, "closed pipe", out)

    # Ctrl-C: the walk ends promptly, with a summary of what was done.
    big = os.path.join(root, "big")
    os.makedirs(os.path.join(big, "many"))
    with open(os.path.join(big, "first"), "wb") as f:
        f.write(evil)
    for i in range(10000):
        with open(os.path.join(big, "many", str(i)), "wb") as f:
            f.write(b"%d" % i)
    scan = subprocess.Popen([SCAN, "--jobs", "1", "-s", kvd, big], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    first = scan.stdout.readline()
    scan.send_signal(signal.SIGINT)
    rest, err = scan.communicate(timeout=60)
    met = int(err.split(b"Entries met: ")[1].split(b"\n")[0]) if b"Entries met: " in err else -1
    check(scan.returncode == 130 and first.endswith(b"first: Evil FOUND\n"), "interrupt status", (scan.returncode,
                                                                                                    first))
    check(b"Scan: incomplete (interrupted)" in err and 1 <= met < 10001, "interrupt summary", err)

    # The progress line: drawn on a terminal and erased at the end; never with --quiet. With the hit
    # lines on the same terminal, it is erased before each and still redrawn at most 10 times a second.
    hits = os.path.join(root, "hits")
    os.makedirs(hits)
    for i in range(3000):
        with open(os.path.join(hits, str(i)), "wb") as f:
            f.write(evil)
    for quiet, shared in ((False, False), (True, False), (False, True)):
        master, slave = pty.openpty()
        began = time.monotonic()
        scan = subprocess.Popen([SCAN, "-s", kvd, hits if shared else big] + (["--quiet"] if quiet else []),
                                stdout=slave if shared else subprocess.PIPE, stderr=slave)
        os.close(slave)
        shown = b""
        while True:
            ready, _, _ = select.select([master], [], [], 60)
            try:
                chunk = os.read(master, 65536) if ready else b""
            except OSError:
                chunk = b""
            if not chunk:
                break
            shown += chunk
        scan.wait(timeout=60)
        took = time.monotonic() - began
        os.close(master)
        drawn = b"files/s" in shown
        check(drawn != quiet, "progress line shown" if not quiet else "--quiet", shown[:300])
        if quiet:
            continue
        # What the terminal shows of each line: the text after its last erase.
        visible = [line.split(b"\r\x1b[K")[-1] for line in shown.split(b"Signatures loaded:")[0].split(b"\n")]
        check(b"files/s" not in visible[-1], "progress line erased", visible[-3:])
        if not shared:
            check(len(visible) == 1, "progress stays on one line", visible[-3:])
            continue
        check(sum(b"FOUND" in line and b"files/s" not in line for line in visible) == 3000,
              "hit lines apart from the progress line", visible[-3:])
        check(shown.count(b"files/s") <= 10 * took + 1, "at most 10 redraws a second", (shown.count(b"files/s"), took))
finally:
    shutil.rmtree(root, ignore_errors=True)

for failure in failures:
    print("FAIL", failure)
print("ok" if not failures else f"{len(failures)} failed")
sys.exit(1 if failures else 0)
