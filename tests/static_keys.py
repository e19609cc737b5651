#!/usr/bin/env python3
"""Prints "FILE KEY" for each file: what clang-tidy's verdict on it depends on.

static_keys.py COMPILE_COMMANDS ROOT FILE...

The key hashes the tool's version, .clang-tidy, the file's name and flags, and
the file as the preprocessor gives it (its headers included), with ROOT taken
out so that another clone of the same sources gets the same key. A file the
preprocessor refuses, or that the database lacks, gets the key "none".
"""
import concurrent.futures
import hashlib
import json
import os
import shlex
import subprocess
import sys


def main():
    db_path, root, files = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3:]
    entries = {}
    for e in json.load(open(db_path)):
        path = e["file"] if os.path.isabs(e["file"]) else os.path.join(e["directory"], e["file"])
        entries[os.path.relpath(os.path.abspath(path), root)] = e
    salt = hashlib.sha256()
    salt.update(subprocess.run(["clang-tidy", "--version"], capture_output=True).stdout)
    with open(os.path.join(root, ".clang-tidy"), "rb") as f:
        salt.update(f.read())
    rootb = root.encode()

    def key(name):
        e = entries.get(name)
        if e is None:
            return "none"
        args = e.get("arguments") or shlex.split(e["command"])
        flags, skip = [], False
        for a in args[1:]:
            if skip:
                skip = False
            elif a == "-o":
                skip = True
            elif a != "-c":
                flags.append(a)
        pre = subprocess.run([args[0], "-E", "-P"] + flags, cwd=e["directory"], capture_output=True)
        if pre.returncode != 0:
            return "none"
        h = salt.copy()
        h.update(name.encode() + b"\0")
        h.update(" ".join(flags).encode().replace(rootb, b"@") + b"\0")
        h.update(pre.stdout.replace(rootb, b"@"))
        return h.hexdigest()

    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        for name, k in zip(files, pool.map(key, files)):
            print(name, k)


main()
