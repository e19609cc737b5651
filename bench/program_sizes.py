#!/usr/bin/env python3
"""Sizes of a built Windows program and what its link map says they are made of.

  program_sizes.py EXE MAP [--top N]       every section, the total, the N largest contributors
  program_sizes.py EXE MAP --total         only the total (code and data without .rsrc and .bss)
  program_sizes.py EXE MAP --budget BYTES  exit 1 when the total is over BYTES, naming the contributors

The total leaves out .rsrc (the bitmaps and, in the patcher, the carried launcher,
which are fixed) and .bss (it takes no room in the file).
"""
import os
import re
import subprocess
import sys

NOT_COUNTED = {".rsrc", ".bss"}
# Output sections that only a debugger reads; stripped programs do not carry them.
DEBUG_PREFIXES = (".debug", ".zdebug", ".stab")

OBJDUMP = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")


def sections(exe):
    """(name, size) of every section in the file, as objdump reports them."""
    out = subprocess.run([OBJDUMP, "-h", exe], check=True, capture_output=True, text=True).stdout
    found = []
    for line in out.splitlines():
        m = re.match(r"^\s*\d+\s+(\S+)\s+([0-9a-fA-F]+)\s", line)
        if m:
            found.append((m.group(1), int(m.group(2), 16)))
    return found


def counted_total(found):
    # objdump cuts section names to eight characters (".eh_fram").
    return sum(size for name, size in found if name not in NOT_COUNTED)


def contributor_name(path):
    """'libstdc++.a(cp-demangle.o)' for an archive member, the file name otherwise."""
    m = re.match(r"^(.*)\((.*)\)$", path)
    if not m:
        return os.path.basename(path)
    archive, member = m.group(1), m.group(2)
    base = os.path.basename(archive)
    if base == "objects.a":
        # CMake collects an executable's own objects in <target>.dir/objects.a.
        base = os.path.basename(os.path.dirname(archive)).removesuffix(".dir")
    return f"{base}({member})"


def archive_name(contributor):
    return contributor.split("(", 1)[0]


def contributions(map_path):
    """Bytes per contributor over every counted output section of the link map."""
    totals = {}
    in_memory_map = False
    output = None
    pending = None  # an input section whose name filled its line
    with open(map_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if not in_memory_map:
                in_memory_map = line.startswith("Linker script and memory map")
                continue
            if line and not line[0].isspace():
                output = line.split()[0]
                pending = None
                continue
            if output is None or output in NOT_COUNTED or output.startswith(DEBUG_PREFIXES):
                continue
            if pending is not None:
                m = re.match(r"^\s+0x[0-9a-fA-F]+\s+0x([0-9a-fA-F]+)\s+(\S.*)$", line)
                pending = None
                if m:
                    name = contributor_name(m.group(2))
                    totals[name] = totals.get(name, 0) + int(m.group(1), 16)
                continue
            m = re.match(r"^ (\S+)\s+0x[0-9a-fA-F]+\s+0x([0-9a-fA-F]+)\s+(\S.*)$", line)
            if m:
                if m.group(1) != "*fill*":
                    name = contributor_name(m.group(3))
                    totals[name] = totals.get(name, 0) + int(m.group(2), 16)
                continue
            if re.match(r"^ [.\w$][^\s]*$", line):
                pending = line.strip()
    return totals


def per_archive(totals):
    grouped = {}
    for name, size in totals.items():
        grouped[archive_name(name)] = grouped.get(archive_name(name), 0) + size
    return grouped


def largest(table, n):
    return sorted(table.items(), key=lambda kv: (-kv[1], kv[0]))[:n]


def describe_contributors(totals, n):
    lines = [f"  largest members:"]
    lines += [f"    {size:>8}  {name}" for name, size in largest(totals, n)]
    lines.append(f"  largest archives:")
    lines += [f"    {size:>8}  {name}" for name, size in largest(per_archive(totals), n)]
    return lines


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    exe, map_path, rest = argv[1], argv[2], argv[3:]
    top = 5
    budget = None
    only_total = False
    i = 0
    while i < len(rest):
        if rest[i] == "--top" and i + 1 < len(rest):
            top = int(rest[i + 1])
            i += 2
        elif rest[i] == "--budget" and i + 1 < len(rest):
            budget = int(rest[i + 1])
            i += 2
        elif rest[i] == "--total":
            only_total = True
            i += 1
        else:
            print(f"unknown argument: {rest[i]}", file=sys.stderr)
            return 2
    found = sections(exe)
    total = counted_total(found)
    if only_total:
        print(total)
        return 0
    if budget is not None:
        if total <= budget:
            print(f"    {os.path.basename(exe)}: {total} bytes of code and data, budget {budget}")
            return 0
        print(f"    {os.path.basename(exe)}: {total} bytes of code and data, over the budget of {budget} by {total - budget}")
        for line in describe_contributors(contributions(map_path), top):
            print("  " + line)
        return 1
    print(f"{os.path.basename(exe)}")
    for name, size in found:
        mark = "" if name not in NOT_COUNTED else "   (not counted)"
        print(f"  {name:<10}{size:>10}{mark}")
    print(f"  {'total':<10}{total:>10}   code and data without .rsrc and .bss")
    for line in describe_contributors(contributions(map_path), top):
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
