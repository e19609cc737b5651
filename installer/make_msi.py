#!/usr/bin/env python3
r"""Builds a TAVU Recovery package from built programs.

  make_msi.py [--arch x64|x86] LAUNCHER CHECK OUT.msi [MAKER.wxs ...]

x64 (the default) is the package for 64-bit Windows, x86 the one for 32-bit
Windows; both install the launcher in "C:\Program Files\TAVU\TAVU Recovery
Launcher". The product version comes from the launcher's own version resource.
MAKER.wxs files are the maker's fragments for the same folder (a ComponentGroup
named "MakerComponents", see the README), of the package's bitness. OUT.msi is
replaced only once the package is complete. When TAVU_SIGN_PKCS12 is set the
package is signed like the programs (cmake/sign_file.sh, TAVU_SIGN_PASSWORD,
TAVU_SIGN_TIMESTAMP_URL)."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
RT_VERSION = 16
EVENT_SOURCE_KEY = rb"SYSTEM\CurrentControlSet\Services\EventLog\Application\TAVU Recovery Check"
RECORD_KEY = rb"Software\TAVU\RecoveryCheck"


def file_version(path):
    """FileVersion of VS_FIXEDFILEINFO, the one Windows Installer compares, as
    four integers; None for a file without a version resource."""
    d = open(path, "rb").read()
    if len(d) < 0x40 or d[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", d, 0x3C)[0]
    if d[pe:pe + 4] != b"PE\0\0":
        return None
    sections, opt_size = struct.unpack_from("<H", d, pe + 6)[0], struct.unpack_from("<H", d, pe + 20)[0]
    opt = pe + 24
    dirs = opt + (96 if struct.unpack_from("<H", d, opt)[0] == 0x10B else 112)
    rsrc = struct.unpack_from("<I", d, dirs + 2 * 8)[0]
    spans = []
    for i in range(sections):
        s = opt + opt_size + 40 * i
        vsize, va, rawsize, raw = struct.unpack_from("<IIII", d, s + 8)
        spans.append((va, max(vsize, rawsize), raw))

    def at(rva):
        for va, size, raw in spans:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("address outside the sections")

    base = at(rsrc)

    def first(dir_off, wanted=None):
        named, ids = struct.unpack_from("<HH", d, base + dir_off + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", d, base + dir_off + 16 + 8 * i)
            if wanted is None or name == wanted:
                return target & 0x7FFFFFFF
        return None

    level = first(0, RT_VERSION)
    level = None if level is None else first(level)
    leaf = None if level is None else first(level)
    if leaf is None:
        return None
    rva, size = struct.unpack_from("<II", d, base + leaf)
    block = d[at(rva):at(rva) + size]
    # VS_VERSIONINFO: header, the key "VS_VERSION_INFO", padding to 32 bits,
    # then VS_FIXEDFILEINFO, which starts with its signature.
    fixed = block.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0 or fixed + 16 > len(block):
        return None
    ms, ls = struct.unpack_from("<II", block, fixed + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def product_version(v):
    """Windows Installer compares only the first three fields of a product
    version, and the launcher's releases differ in the fourth (1.0.0.6, 1.0.0.7):
    the build field carries the last two, c * 1000 + d, so that every launcher
    release orders as it should for upgrades. A version that does not fit is
    refused: Windows Installer would compare it wrongly, and with d above 999
    two releases would share a product version (1.0.0.1000 and 1.0.1.0)."""
    a, b, c, d = v
    text = ".".join(map(str, v))
    build = c * 1000 + d
    for value, limit, what in ((a, 255, "major field %d" % a), (b, 255, "minor field %d" % b),
                               (d, 999, "fourth field %d" % d),
                               (build, 65535, "build field %d * 1000 + %d = %d" % (c, d, build))):
        if value > limit:
            raise SystemExit("make_msi: launcher version %s does not fit a Windows Installer product "
                             "version: its %s is above the limit %d" % (text, what, limit))
    return "%d.%d.%d" % (a, b, build)


def run(*cmd):
    subprocess.run(cmd, check=True)


def export(msi, table, folder):
    out = subprocess.run(["msiinfo", "export", msi, table], check=True, capture_output=True).stdout
    rows = [line.split(b"\t") for line in out.replace(b"\r\n", b"\n").split(b"\n") if line]
    return rows[:3], rows[3:]


def replace_table(msi, table, head, rows, folder):
    path = os.path.join(folder, table + ".idt")
    with open(path, "wb") as f:
        for r in head + rows:
            f.write(b"\t".join(r) + b"\r\n")
    run("msibuild", msi, "-i", path)


def check_bitness(msi, arch, tmp):
    """A component of the other bitness is refused: Windows Installer rejects a
    64-bit component in a 32-bit package, and a 32-bit one in a 64-bit package
    writes its registry values in the 32-bit view, under a 64-bit folder."""
    for r in export(msi, "Component", tmp)[1]:
        if bool(int(r[3]) & 0x100) != (arch == "x64"):
            raise SystemExit('make_msi: component %s is %s-bit in the %s package (Win64="%s" is wanted)'
                             % (r[0].decode(), "32" if arch == "x64" else "64", arch,
                                "yes" if arch == "x64" else "no"))


def write_beside(made, out):
    """OUT appears whole or not at all: a copy beside it, then a rename."""
    folder = os.path.dirname(os.path.abspath(out))
    os.makedirs(folder, exist_ok=True)
    fd, part = tempfile.mkstemp(prefix="." + os.path.basename(out) + ".", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f, open(made, "rb") as src:
            shutil.copyfileobj(src, f)
        mask = os.umask(0)
        os.umask(mask)
        os.chmod(part, 0o666 & ~mask)
        os.replace(part, out)
    except BaseException:
        os.unlink(part)
        raise


def main():
    args = sys.argv[1:]
    arch = "x64"
    if args[:1] == ["--arch"]:
        arch, args = (args[1] if len(args) > 1 else ""), args[2:]
    if arch not in ("x64", "x86") or len(args) < 3:
        raise SystemExit(__doc__)
    launcher, check, out, makers = args[0], args[1], args[2], args[3:]
    versions = {}
    for name, path in (("LauncherExe", launcher), ("CheckExe", check)):
        v = file_version(path)
        if v is None:
            raise SystemExit("make_msi: %s has no version resource" % path)
        versions[name] = ".".join(map(str, v))
    with tempfile.TemporaryDirectory() as tmp:
        msi = os.path.join(tmp, "package.msi")
        cmd = ["wixl", "-a", arch, "-o", msi, "-D", "Arch=" + arch,
               "-D", "ProductVersion=" + product_version(file_version(launcher)),
               "-D", "LauncherFileVersion=" + versions["LauncherExe"],
               # wixl finds sources only by paths relative to where it runs.
               "-D", "LauncherSource=" + os.path.relpath(launcher),
               "-D", "CheckSource=" + os.path.relpath(check)]
        if makers:
            cmd += ["-D", "MakerComponents=1"]
        # wixl warns about every attribute it does not know; the one of ours it
        # ignores is put right in the tables below. Its other messages stay.
        made = subprocess.run(cmd + [os.path.join(HERE, "tavu-recovery.wxs")] + makers,
                              stderr=subprocess.PIPE, text=True)
        for line in made.stderr.splitlines():
            if line.strip() and "g_object_set_is_valid_property" not in line:
                print(line, file=sys.stderr)
        if made.returncode != 0:
            raise SystemExit("make_msi: wixl failed")
        check_bitness(msi, arch, tmp)

        # wixl leaves File.Version empty. An unversioned file loses to any
        # versioned one already in place, and a repair would put it back over a
        # newer launcher that the patcher deployed: give each program its version.
        head, rows = export(msi, "File", tmp)
        for r in rows:
            v = versions.get(r[0].decode())
            if v is None:
                continue  # a maker's file: theirs to version
            r[4], r[5] = v.encode(), b"1033"
        replace_table(msi, "File", head, rows, tmp)
        # File hashes are for unversioned files only.
        head, rows = export(msi, "MsiFileHash", tmp)
        replace_table(msi, "MsiFileHash", head, [r for r in rows if r[0].decode() not in versions], tmp)
        # wixl does not know AllowSameVersionUpgrades: the upgrade row takes its
        # maximum inclusively (msidbUpgradeAttributesVersionMaxInclusive).
        head, rows = export(msi, "Upgrade", tmp)
        for r in rows:
            if r[6] == b"WIX_UPGRADE_DETECTED":
                r[4] = str(int(r[4]) | 0x200).encode()
        replace_table(msi, "Upgrade", head, rows, tmp)

        # The check's event source: its message file REG_EXPAND_SZ ("#%"),
        # as the event log documents it, and on uninstall ("-": the key with
        # everything below it) the source and the record /record left.
        head, rows = export(msi, "Registry", tmp)
        for r in rows:
            if r[1] == b"2" and r[2].endswith(EVENT_SOURCE_KEY) and r[3] == b"EventMessageFile":
                r[4] = b"#%" + r[4]
        for key, row in ((EVENT_SOURCE_KEY, b"regTavuEventSourceGone"), (RECORD_KEY, b"regTavuRecordGone")):
            rows.append([row, b"2", key, b"-", b"", b"SupportCheck"])
        replace_table(msi, "Registry", head, rows, tmp)

        if os.environ.get("TAVU_SIGN_PKCS12"):
            run("sh", os.path.join(ROOT, "cmake", "sign_file.sh"), msi,
                os.path.abspath(os.environ["TAVU_SIGN_PKCS12"]), "TAVU Recovery",
                os.environ.get("TAVU_SIGN_TIMESTAMP_URL", ""))
        else:
            print("make_msi: TAVU_SIGN_PKCS12 is not set, the package is not signed")
        write_beside(msi, out)


if __name__ == "__main__":
    main()
