#!/usr/bin/env python3
"""Reads the resource tree of a PE file and checks the launcher's and patcher's
resources against what the programs need. Usage: pe_resources.py LAUNCHER PATCHER
Prints one line per check and exits 1 if any failed."""
import struct
import sys
import xml.etree.ElementTree as ET

RT_BITMAP, RT_ICON, RT_STRING, RT_ACCELERATOR, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 3, 6, 9, 14, 16, 24


class Pe:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        d = self.data
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        assert d[pe:pe + 4] == b"PE\0\0", "not a PE file"
        sections, opt_size = struct.unpack_from("<H", d, pe + 6)[0], struct.unpack_from("<H", d, pe + 20)[0]
        opt = pe + 24
        magic = struct.unpack_from("<H", d, opt)[0]
        dirs = opt + (96 if magic == 0x10B else 112)
        self.rsrc_rva = struct.unpack_from("<I", d, dirs + 2 * 8)[0]
        self.sections = []
        for i in range(sections):
            s = opt + opt_size + 40 * i
            vsize, va, rawsize, raw = struct.unpack_from("<IIII", d, s + 8)
            self.sections.append((va, max(vsize, rawsize), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("rva outside sections")

    def _entries(self, dir_off):
        base = self.offset(self.rsrc_rva)
        named, ids = struct.unpack_from("<HH", self.data, base + dir_off + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, base + dir_off + 16 + 8 * i)
            if name & 0x80000000:
                n = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, n)[0]
                key = self.data[n + 2:n + 2 + 2 * length].decode("utf-16-le")
            else:
                key = name
            yield key, target

    def resources(self):
        """{(type, id, lang): bytes}"""
        out = {}
        for t, t_off in self._entries(0):
            for n, n_off in self._entries(t_off & 0x7FFFFFFF):
                for lang, leaf in self._entries(n_off & 0x7FFFFFFF):
                    base = self.offset(self.rsrc_rva)
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    off = self.offset(rva)
                    out[(t, n, lang)] = self.data[off:off + size]
        return out


def find(res, rtype, rid):
    return [v for (t, n, _), v in res.items() if t == rtype and n == rid]


failures = 0
checks = 0


def check(name, ok):
    global failures, checks
    print(("    ok   " if ok else "    FAIL ") + name)
    checks += 1
    failures += 0 if ok else 1


def manifest_settings(res):
    """The launcher's manifest, read as Windows reads it: {tag: text} of the
    windowsSettings it declares, keyed by "{namespace}name"."""
    blobs = find(res, RT_MANIFEST, 1)
    if not blobs:
        return {}
    root = ET.fromstring(blobs[0])
    out = {}
    for settings in root.iter("{urn:schemas-microsoft-com:asm.v3}windowsSettings"):
        for child in settings:
            out[child.tag] = (child.text or "").strip()
    return out


def bitmap(res, rid):
    blobs = find(res, RT_BITMAP, rid)
    if not blobs:
        return None
    size, w, h, planes, bpp = struct.unpack_from("<IiiHH", blobs[0], 0)
    return w, h, bpp


def string(res, sid):
    blobs = find(res, RT_STRING, (sid >> 4) + 1)
    if not blobs:
        return None
    d, pos = blobs[0], 0
    for i in range(16):
        length = struct.unpack_from("<H", d, pos)[0]
        text = d[pos + 2:pos + 2 + 2 * length].decode("utf-16-le")
        if i == (sid & 15):
            return text
        pos += 2 + 2 * length
    return None


def main():
    launcher, patcher = Pe(sys.argv[1]), Pe(sys.argv[2])
    res = launcher.resources()
    check("string 103 is TAVUF9Recovery", string(res, 103) == "TAVUF9Recovery")
    check("string 109 is TAVUF9RECOVERY", string(res, 109) == "TAVUF9RECOVERY")
    # Bitmaps stored bottom-up: a positive height.
    check("bitmap 129 is 530 x 225 at 32 bpp, bottom-up", bitmap(res, 129) == (530, 225, 32))
    check("bitmap 130 is 68 x 35 at 32 bpp, bottom-up", bitmap(res, 130) == (68, 35, 32))
    check("bitmap 131 is 68 x 35 at 32 bpp, bottom-up", bitmap(res, 131) == (68, 35, 32))
    group = find(res, RT_GROUP_ICON, 132)
    images = []
    if group:
        count = struct.unpack_from("<H", group[0], 4)[0]
        for i in range(count):
            w, h, _, _, _, bpp, _, _ = struct.unpack_from("<BBBBHHIH", group[0], 6 + 14 * i)
            images.append((w or 256, h or 256, bpp))
    check("icon group 132 holds 16/24bpp and 48, 32, 24, 16 at 32 bpp",
          sorted(images) == sorted([(16, 16, 24), (48, 48, 32), (32, 32, 32), (24, 24, 32), (16, 16, 32)]))
    acc = find(res, RT_ACCELERATOR, 109)
    entries = []
    if acc:
        for i in range(len(acc[0]) // 8):
            flags, key, cmd, _ = struct.unpack_from("<HHHH", acc[0], 8 * i)
            entries.append((flags & 0x7F, chr(key), cmd))
    check("accelerators 109: Alt+? and Alt+/ give command 104",
          sorted(entries) == sorted([(0x10, "?", 104), (0x10, "/", 104)]))
    check("launcher has a version block", bool(find(res, RT_VERSION, 1)))
    # Per-monitor DPI awareness, version 2 where Windows 10 1703 and later read
    # it, the older forms where earlier ones do. Wine makes every process per
    # monitor (v1) aware whatever it declares, so the declaration is read here.
    settings = manifest_settings(res)
    check('manifest: dpiAwareness "PerMonitorV2, PerMonitor"',
          settings.get("{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness") ==
          "PerMonitorV2, PerMonitor")
    check('manifest: dpiAware "true/pm" for Windows 8.1 and earlier 10',
          settings.get("{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware") == "true/pm")
    # It travels inside the patcher: the two together must stay small.
    check("launcher file within 1 MiB (%d bytes)" % len(launcher.data), len(launcher.data) <= 1024 * 1024)
    pres = patcher.resources()
    exe = [v for (t, n, lang), v in pres.items() if t == "EXE" and n == 129 and lang == 1033]
    check('patcher resource "EXE" 129, language 1033, is the launcher byte for byte',
          len(exe) == 1 and exe[0] == launcher.data)
    print("pe_resources: %d passed, %d failed" % (checks - failures, failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
