#!/usr/bin/env python3
"""qirn-sigtool import on every NAME.csv of a folder: its standard output
must be NAME.kvd byte for byte (make_import_corpus.py writes both).

Usage: check_import_csv.py QIRN_SIGTOOL FOLDER
"""

import subprocess
import sys
from pathlib import Path


def main():
    sigtool, folder = sys.argv[1], Path(sys.argv[2])
    lists = sorted(folder.glob("*.csv"))
    if not lists:
        print(f"no CSV list in {folder}")
        return 1
    failed = 0
    for csv_list in lists:
        expected = csv_list.with_suffix(".kvd").read_bytes()
        run = subprocess.run(
            [sigtool, "import", "--format", "csv", str(csv_list)], capture_output=True, timeout=60, check=False
        )
        status = 0 if expected else 2
        if run.stdout == expected and run.returncode == status:
            continue
        failed += 1
        print(f"{csv_list.name}: exit status {run.returncode} (expected {status})")
        print(f"  qirn-sigtool: {run.stdout!r}")
        print(f"  Python csv:   {expected!r}")
        print("  " + run.stderr.decode(errors="replace").replace("\n", "\n  "))
    print(f"{len(lists) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
