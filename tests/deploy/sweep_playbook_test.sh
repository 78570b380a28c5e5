#!/usr/bin/env bash
# The fleet playbook against localhost over a local connection: the fetched
# file of the host parses, record by record, and holds the sample tree's hit.
# Usage: sweep_playbook_test.sh QIRN_SCAN SOURCE_DIR
set -euo pipefail
scan=$1
source=$2
work=$(mktemp -d /tmp/qirn-playbook-XXXXXX)
trap 'rm -rf "$work"' EXIT

export ANSIBLE_LOCAL_TEMP="$work/ansible-local" ANSIBLE_REMOTE_TEMP="$work/ansible-remote"
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
# No ansible.cfg of the caller's folder applies.
cd "$work"
ansible-playbook -i localhost, -c local "$source/deploy/sweep.yml" \
  -e ansible_python_interpreter=/usr/bin/python3 \
  -e qirn_scan_binary="$scan" -e qirn_signatures="$source/samples/sa.kvd" \
  -e "{\"qirn_folders\": [\"$source/samples/tree\"]}" -e qirn_results="$work/results"

ls "$work/results"
/usr/bin/python3 - "$work/results" "$source/samples/tree/documents/eicar.com" <<'PYTHON'
import json, os, sys
results, expected = sys.argv[1], sys.argv[2]
assert os.listdir(results) == ["localhost.jsonl"], os.listdir(results)
with open(os.path.join(results, "localhost.jsonl"), encoding="utf-8") as f:
    records = [json.loads(line) for line in f]
hits = [r for r in records if r["type"] == "hit"]
assert [(h["path"], h["signature"]) for h in hits] == [(expected, "EICAR-Test-File")], hits
summary = records[-1]
assert summary["type"] == "summary" and summary["exit_status"] == 1 and summary["complete"], summary
print("fetched file parses and holds the hit")
PYTHON
