#!/usr/bin/env python3
"""Writes the seeds of the import fuzz target and the CSV reference pairs.

corpus/import/: a few small lists of every format, each prefixed with the
byte ImportFuzz.cpp reads first (below 9 the format is forced, 9 to 17 it is
detected by content), each named by the SHA-1 of its content.

corpus/import-csv/: NAME.csv and NAME.kvd, the sa.kvd text that Python's csv
module gives for NAME.csv under the importer's column rules; every CSV list
but those of DISAGREEING.

Deterministic: run it again and the same files come out.
"""

import csv
import hashlib
import io
import random
from pathlib import Path

HERE = Path(__file__).resolve().parent
IMPORT_DIR = HERE / "corpus" / "import"
CSV_DIR = HERE / "corpus" / "import-csv"

FORMATS = ["kvd", "plain", "sums", "bsd", "hashdeep", "clamav", "loki", "csv", "misp"]
DETECTED = len(FORMATS)

rng = random.Random(20240611)


def hexdigits(count, upper=False):
    text = "".join(rng.choice("0123456789abcdef") for _ in range(count))
    return text.upper() if upper else text


MD5 = "44d88612fea8a8f36de82e1278abb02f"
SHA = "275a021bbfb6489e54d471899f7db9d1663fc695ec2fe2a2c4538aabf651fd0f"
SHA1 = "3395856ce81f2b7382dee72602f798b642f14140"
BOM = "\ufeff"
M = [hexdigits(32) for _ in range(6)]
S = [hexdigits(64) for _ in range(6)]
LONG_NAME = "Trojan.Win32." + "".join(rng.choice("ABCDEFGHIJKLMNOPQRSTUVWXYZ") for _ in range(600))


def crlf(text):
    return text.replace("\n", "\r\n")


# Seeds per format: lists of text.
SEEDS = {
    "kvd": [
        crlf(f"{MD5.upper()}=EICAR\n{MD5}=EICAR\n{SHA}=Name=with=equals\n"),
        BOM + f"{M[0]}=Tab\tinside\n\n{M[1]}=\n{SHA1}=Sha1.Sig\n{M[2]}=Ctrl\x01Unit\x1fDel\x7fName\n",
        f"{S[0]}={LONG_NAME}\n{S[0]}=  padded name  \n{M[3]} EICAR\nzz{M[4][2:]}=Bad.Hex",
    ],
    "plain": [
        BOM + crlf(f"# plain list\n{MD5.upper()}\n\n{SHA}  \n0123\n"),
        f"{SHA1}\n{M[0]} trailing words\n\t{M[1]}\n{M[2]}\t\n{S[1]}",
        "\n".join(M + S) + "\n" + M[0] + "\n",
    ],
    "sums": [
        f"{MD5}  samples/eicar.com\n{MD5} *dup/eicar.com\n{M[0]}  C:\\dir\\file.exe\n\n",
        BOM + crlf(f"{SHA.upper()} *bin/eicar.exe\n{SHA1}  x.bin\n{M[1]} one-space.bin\n{S[2]}  dir/\n"),
        f"{M[2]}  a=b\x02c.exe\n{S[3]}  {LONG_NAME}\n# comment\n{M[3]}\n",
    ],
    "bsd": [
        crlf(f"MD5 (eicar.com) = {MD5}\nSHA256 (dir/eicar.com) = {SHA.upper()}\nSHA1 (x) = {SHA1}\n"),
        BOM + f"MD5 (a) = b) = {M[0]}\nMD5 (x)= {M[1]}\nSHA256 () = {S[0]}\nMD5 (y) = {SHA1}\nmd5 (z) = {M[2]}",
    ],
    "hashdeep": [
        crlf(
            "%%%% HASHDEEP-1.0\n%%%% size,md5,sha256,filename\n## Invoked from: /home/u\n##\n"
            f"68,{MD5.upper()},{SHA},/home/u/a, b.com\n12,{M[0]},{S[0]},C:\\x\\y=z.exe\n"
        ),
        f"%%%% HASHDEEP-1.0\n%%%% size,md5,filename\n68,{M[1]},/x/y.com\n68\n68,{SHA1},/s.bin\n"
        f"7,{M[2]},{S[1]}\n9,{M[3]},/dir/\n",
        BOM + f"%%%% HASHDEEP-1.0\n%%%% size,sha256,filename\n5,{S[2]},/{LONG_NAME}\n5,{S[3]},{M[4]},\n",
    ],
    "clamav": [
        f"{MD5}:68:Eicar-Test-Signature:73\n{MD5}:x:Bad.Size\n{SHA.upper()}:*:Win.Test.Eicar_HSB-1\n"
        f"{SHA1}:68:Sha1.Sig\n",
        crlf(f"{M[0]}::No.Size\n{M[1]}:68\n{M[2]}:68:\n{S[0]}:1234:Name=Eq:0:255\n\n#x\n{M[3]} :5:Space"),
        # A digest alone on a line.
        f"{MD5}:68:Eicar\n{MD5}\n",
    ],
    "loki": [
        f"# LOKI\n\n{MD5};EICAR test file\n{SHA};80;Score = high\n{SHA1};Sha1 IOC\n",
        BOM + crlf(f"{M[0]};\n{M[1]};;x\n{M[2]};12;\n{S[0]};n/a\n{M[3]}:bad\n{S[1]};{LONG_NAME}\n"),
    ],
    "misp": [
        BOM + "uuid,event_id,category,type,value,comment,to_ids,date\n"
        f"5f1c,42,Payload delivery,filename|md5,eicar.com|{MD5.upper()},,1,1700000000\n"
        f'5f1d,42,Payload delivery,sha256,{SHA},"EICAR, sample",1,1700000000\n'
        "5f1e,42,Network activity,ip-dst,192.0.2.1,,1,1700000000\n",
        crlf(
            "uuid,event_id,category,type,value,comment,to_ids\n"
            f"a,1,Payload delivery,malware-sample,dropper.exe|{M[0]},x,1\n"
            f"b,1,Payload delivery,md5,{M[1]},,1\n"
            f"c,1,Payload delivery,sha1,{SHA1},,1\n"
            f"d,1,Payload delivery,filename|sha256,a|b.exe|{S[0]},,1\n"
            "e,1,short\n"
            f'f,1,Payload delivery,md5,"{M[2]}","say ""hi"", =x",1\n'
        ),
        f"# exported\ntype,value,comment\nsha256,{S[1].upper()},{LONG_NAME}\nmd5,{SHA1},sha1 in md5\n"
        f'md5,"{M[3]},open quote\n',
    ],
}

# CSV lists: (name, text); each is a fuzz seed too, and a reference pair
# unless it holds a line break inside a quoted field.
CSV_SEEDS = [
    (
        "malwarebazaar",
        crlf(
            "################################################################\n"
            "# MalwareBazaar full data dump (CSV)\n"
            '# "first_seen_utc","sha256_hash","md5_hash","sha1_hash","reporter","file_name",'
            '"file_type_guess","mime_type","signature","clamav"\n'
            f'"2024-01-01 00:00:01", "{SHA}", "{MD5}", "{SHA1}", "abuse_ch", "eicar.com", "com", '
            '"text/plain", "AgentTesla", "n/a"\n'
            f'"2024-01-01 00:00:02", "{S[0]}", "{M[0]}", "{SHA1}", "anonymous", "invoice.pdf.exe", "exe", '
            '"application/x-dosexec", "n/a", "n/a"\n'
            "# 2 malware samples\n"
        ),
    ),
    (
        "quoted",
        "md5,signature,comment\n"
        f'{M[1]},"Agent ""Tesla"", v2",x\n'
        f'{M[2]},"a, b, c","ignored"\n'
        f'"{M[3]}","",fallback comment\n'
        f'{M[4]},"say ""=""",\n'
        f'{M[5]},Троян.Агент,\n'
        f'{M[0]},ab"c,\n'
        f'{S[5]},"unit\x1fsep\x7f",\n',
    ),
    (
        "two-digests",
        BOM
        + crlf(
            "sha256_hash,md5_hash,file_name\n"
            f"{S[1].upper()},{M[0].upper()},UPPER.exe\n"
            f"{S[2]},,only-sha.exe\n"
            f",{M[5]},only-md5.exe\n"
            f"{S[3]},{SHA1},sha1-in-md5.exe\n"
            f"{S[4]},zz,bad-md5.exe\n"
            ",,nothing.exe\n"
            f"{S[1]},{M[0]},UPPER.exe\n"
        ),
    ),
    (
        "names",
        "id,MD5,Family,File Name,Description\n"
        f"1,{M[0]},,dropper.exe,a dropper\n"
        f"2,{M[1]},n/a,,only a description\n"
        f"3,{M[2]},,,\n"
        f'4,{M[3]},"Emotet\tE4",x.exe,\n'
        f'5,{M[4]},"{LONG_NAME}",,\n'
        f"6,{M[5]}\n",
    ),
    (
        "header-later",
        "ip,port\n192.0.2.1,80\n\n#sha256,name\n"
        f"{S[0]},first\n# {S[1]},comment row\n{S[1]},second\n",
    ),
    (
        "spaces",
        "md5 , name\n"
        f"{M[0]} , padded\n"
        f'{M[1]},  "quoted after spaces"\n',
    ),
    (
        "after-quote",
        "md5,name\n" f'"{M[2]}"x,after the quote\n' f'{M[3]},"name"tail\n',
    ),
    (
        "tabs",
        "md5,name\n" f"\t{M[4]},tab before\n" f"{M[5]},\tname after tab\n",
    ),
    (
        "open-quote",
        "md5,name\n" f'{M[0]},"never closed\n' f"{M[1]},after\n",
    ),
    (
        "quoted-line-break",
        "md5,name\n" f'{M[2]},"two\nlines"\n' f"{M[3]},after\n",
    ),
]

# Lists the importer splits into fields otherwise than Python's csv module
# (skipinitialspace=True) does: fuzz seeds, but no reference pair.
DISAGREEING = {
    "spaces": "the importer drops spaces after an unquoted field; Python keeps them",
    "after-quote": "the importer refuses a row with text after a closing quote; Python appends the text",
    "tabs": "the importer drops tabs before a field; Python skips only spaces",
    "open-quote": "the importer refuses a row whose quote is never closed; Python reads it to the end",
}

ASCII_HEX = set("0123456789abcdefABCDEF")
NAME_COLUMNS = ["signature", "malware", "family", "name", "filename", "description", "comment", "info"]


def column_key(name):
    return "".join(c.lower() for c in name if c.isascii() and c.isalnum())


def read_header(fields):
    """The importer's columns: md5, sha256 and the name candidates, best first."""
    md5 = sha256 = -1
    name_at = {}
    for index, field in enumerate(fields):
        key = column_key(field)
        if key in ("md5", "md5hash", "md5sum"):
            md5 = index
        elif key in ("sha256", "sha256hash", "sha256sum"):
            sha256 = index
        if key in NAME_COLUMNS and key not in name_at:
            name_at[key] = index
    return md5, sha256, [name_at[key] for key in NAME_COLUMNS if key in name_at]


def accept(digest, name, list_name):
    """A signature as the importer accepts it, or None for a rejected line."""
    if len(digest) not in (32, 64) or not set(digest) <= ASCII_HEX:
        return None
    clean = name.strip(" \t")
    if clean in ("", "n/a"):
        clean = list_name
    clean = "".join("_" if c == "=" or ord(c) < 0x20 or c == "\x7f" else c for c in clean)
    return digest.lower(), clean


def parse(text):
    return next(csv.reader([text], skipinitialspace=True), [])


def expected_kvd(text, list_name):
    """sa.kvd as Python's csv module reads the list under the importer's column rules."""
    if text.startswith(BOM):
        text = text[1:]
    lines = text.split("\n")
    lines = [line[:-1] if line.endswith("\r") and i + 1 < len(lines) else line for i, line in enumerate(lines)]
    reader = csv.reader(io.StringIO(text, newline=""), skipinitialspace=True)
    columns = None
    pairs = []
    for row in reader:
        line = lines[reader.line_num - 1]
        if line.strip(" \t") == "":
            continue
        if columns is None:
            # Every line up to the header is tried as one; "#" and spaces before it are allowed.
            md5, sha256, names = read_header(parse(line.lstrip("# ")))
            if md5 >= 0 or sha256 >= 0:
                columns = md5, sha256, names
            continue
        if line.startswith("#"):
            continue
        md5, sha256, names = columns
        name = next((row[at] for at in names if at < len(row) and row[at] not in ("", "n/a")), "")
        found = []
        for at in (sha256, md5):
            if at < 0:
                continue
            digest = row[at] if at < len(row) else ""
            if digest:
                found.append(accept(digest, name, list_name))
        if found and None not in found:
            pairs.extend(found)
    unique = list(dict.fromkeys(pairs))
    return "".join(f"{digest}={name}\r\n" for digest, name in unique)


def clear(folder):
    folder.mkdir(parents=True, exist_ok=True)
    for entry in folder.iterdir():
        entry.unlink()


def main():
    clear(IMPORT_DIR)
    clear(CSV_DIR)
    seeds = []
    for index, name in enumerate(FORMATS):
        if name == "csv":
            texts = [text for _, text in CSV_SEEDS]
        else:
            texts = SEEDS[name]
        seeds += [bytes([index]) + text.encode() for text in texts]
    # Detected by content, under each format's usual file name.
    detected = [
        ("kvd", SEEDS["kvd"][0].encode()),
        ("plain", SEEDS["plain"][0].encode()),
        ("sums", SEEDS["sums"][1].encode()),
        ("bsd", SEEDS["bsd"][0].encode()),
        ("hashdeep", b"\n\n" + SEEDS["hashdeep"][0].encode()),
        ("clamav", SEEDS["clamav"][0].encode()),
        ("loki", SEEDS["loki"][0].encode()),
        ("csv", CSV_SEEDS[0][1].encode()),
        ("misp", SEEDS["misp"][0].encode()),
        ("plain", b"\xff\xfe4\x004\x00"),  # UTF-16
        ("plain", b"Dear reader,\nhello\n"),
        ("csv", b"ip,port\n192.0.2.1,80\n"),
        ("plain", f"# only comments\n#\n\n{M[0]}?\n".encode()),
        ("plain", b""),
    ]
    for name, data in detected:
        seeds.append(bytes([DETECTED + FORMATS.index(name)]) + data)
    for data in seeds:
        (IMPORT_DIR / hashlib.sha1(data).hexdigest()).write_bytes(data)

    pairs = 0
    for name, text in CSV_SEEDS:
        if name in DISAGREEING:
            continue
        (CSV_DIR / f"{name}.csv").write_bytes(text.encode())
        (CSV_DIR / f"{name}.kvd").write_bytes(expected_kvd(text, f"{name}.csv").encode())
        pairs += 1
    print(f"{len(seeds)} seeds in {IMPORT_DIR}, {pairs} CSV pairs in {CSV_DIR}")


if __name__ == "__main__":
    main()
