#!/usr/bin/env python3
"""Check what got linked into a built velmora-sidecar.exe: icon, version
info, manifest, GUI subsystem, and that it only imports system DLLs (so it
runs on a clean Windows box without the MinGW runtime next to it).

usage: check_resources.py OBJDUMP VERSION PATH/TO/velmora-sidecar.exe

The subsystem and the imports come from the toolchain's `objdump -p`; the resources,
which it does not print, are read from the file here.
"""
import re
import struct
import subprocess
import sys

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ICON_SIZES = [16, 24, 32, 48, 64, 256]
PNG_SIG = b"\x89PNG\r\n\x1a\n"
MINGW_RUNTIME = {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll"}
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll",
    "powrprof.dll", "wtsapi32.dll", "msvcrt.dll", "ucrtbase.dll", "shell32.dll",
    "gdi32.dll", "ws2_32.dll", "comctl32.dll", "ntdll.dll", "dwmapi.dll",
}


class Failure(Exception):
    pass


def need(cond, msg):
    if not cond:
        raise Failure(msg)


class PE:
    def __init__(self, data):
        self.data = data
        need(data[:2] == b"MZ", "no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        need(data[pe:pe + 4] == b"PE\0\0", "no PE signature")
        nsect, optsize = struct.unpack_from("<H12xH", data, pe + 6)
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        need(magic in (0x10B, 0x20B), "unknown optional header magic %#x" % magic)
        dd = opt + (112 if magic == 0x20B else 96)
        ndirs = struct.unpack_from("<I", data, dd - 4)[0]
        self.dirs = [struct.unpack_from("<II", data, dd + 8 * i) for i in range(min(ndirs, 16))]
        self.dirs += [(0, 0)] * (16 - len(self.dirs))
        sect = opt + optsize
        self.sections = [struct.unpack_from("<8xIIII", data, sect + 40 * i) for i in range(nsect)]

    def off(self, rva):
        for vsize, va, rawsize, raw in self.sections:
            if va <= rva < va + max(vsize, rawsize):
                return raw + rva - va
        raise Failure("RVA %#x is in no section" % rva)

    def read(self, rva, size):
        return self.data[self.off(rva):self.off(rva) + size]

    def resources(self):
        """{(type, name): bytes}, first language of each; string names as str."""
        rva = self.dirs[2][0]
        if not rva:
            return {}  # each resource check then reports what is missing
        base, d = self.off(rva), self.data

        def entries(at):
            named, ids = struct.unpack_from("<HH", d, base + at + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", d, base + at + 16 + 8 * i)
                if name & 0x80000000:
                    n = base + (name & 0x7FFFFFFF)
                    name = d[n + 2:n + 2 + 2 * struct.unpack_from("<H", d, n)[0]].decode("utf-16-le")
                yield name, target & 0x7FFFFFFF

        out = {}
        for rtype, t in entries(0):
            for name, n in entries(t):
                for _, leaf in entries(n):
                    drva, dsize = struct.unpack_from("<II", d, base + leaf)
                    out.setdefault((rtype, name), self.read(drva, dsize))
        return out


def check_icon(res):
    group = res.get((RT_GROUP_ICON, 32512))
    need(group, "no icon group 32512")
    count = struct.unpack_from("<H", group, 4)[0]
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    sizes = sorted(w or 256 for w, *_ in entries)
    need(sizes == ICON_SIZES, "icon sizes %s, want %s" % (sizes, ICON_SIZES))
    for w, h, _, _, _, bits, _, icon_id in entries:
        size = w or 256
        img = res.get((RT_ICON, icon_id))
        need(img, "icon %d px: RT_ICON %d missing" % (size, icon_id))
        need(img[:8] == PNG_SIG, "icon %d px is not PNG" % size)
        pw, ph, depth, ctype = struct.unpack_from(">IIBB", img, 16)
        need((pw, ph, depth, ctype, bits) == (size, size, 8, 6, 32),
             "icon %d px: PNG %dx%d depth %d type %d, entry %d bpp"
             % (size, pw, ph, depth, ctype, bits))
    return "icon group 32512: %s px, PNG RGBA" % ",".join(map(str, sizes))


def version_block(b, off):
    """VS_VERSIONINFO-style node -> (key, value, children, length)."""
    length, vlen, vtype = struct.unpack_from("<HHH", b, off)
    end, i = off + length, off + 6
    while b[i:i + 2] != b"\0\0":
        i += 2
    key = b[off + 6:i].decode("utf-16-le")
    pos = (i + 2 + 3) & ~3
    value = b[pos:min(pos + (2 * vlen if vtype == 1 else vlen), end)]
    pos = (pos + len(value) + 3) & ~3
    children = []
    while pos < end:
        child = version_block(b, pos)
        children.append(child)
        pos = (pos + child[3] + 3) & ~3
    return key, value, children, length


def check_version(res, version):
    blob = res.get((RT_VERSION, 1))
    need(blob, "no version resource 1")
    key, fixed, children, _ = version_block(blob, 0)
    need(key == "VS_VERSION_INFO" and len(fixed) >= 24, "malformed version resource")
    sig, _, fms, fls, pms, pls = struct.unpack_from("<6I", fixed)
    need(sig == 0xFEEF04BD, "bad VS_FIXEDFILEINFO signature")
    fixed_want = tuple(int(part) for part in version.split(".")) + (0,)
    for what, ms, ls in (("file", fms, fls), ("product", pms, pls)):
        got = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        need(got == fixed_want, "fixed %s version %s, want %s" % (what, got, fixed_want))
    strings = {}
    for ckey, _, tables, _ in children:
        if ckey == "StringFileInfo":
            for tkey, _, values, _ in tables:
                need(tkey.lower() == "040904b0", "string table %s" % tkey)
                for k, v, _, _ in values:
                    strings[k] = v.decode("utf-16-le").split("\0")[0]
    want = {"CompanyName": "Velmora", "ProductName": "Velmora", "FileDescription": "Velmora",
            "FileVersion": version, "ProductVersion": version}
    for k, v in want.items():
        need(strings.get(k) == v, "%s is %r, want %r" % (k, strings.get(k), v))
    return "version %s, Velmora strings" % version


def check_manifest(res):
    found = [name for rtype, name in res if rtype == RT_MANIFEST]
    need(found == [1], "RT_MANIFEST ids %s, want [1]" % found)
    text = res[(RT_MANIFEST, 1)].decode("utf-8-sig")
    need(re.search(r'<assemblyIdentity[^>]*name="Microsoft\.Windows\.Common-Controls"'
                   r'[^>]*version="6\.0\.0\.0"', text), "no Common-Controls 6.0.0.0 dependency")
    for bad in ("dpiAware", "requestedExecutionLevel"):
        need(bad.lower() not in text.lower(), "manifest mentions %s" % bad)
    return "manifest: Common-Controls 6 only"


def check_subsystem(headers):
    found = re.search(r"^Subsystem\s+([0-9a-fA-F]+)", headers, re.M)
    need(found, "objdump printed no subsystem")
    need(int(found.group(1), 16) == 2, "subsystem %s, want 2 (GUI)" % found.group(1))
    return "subsystem GUI"


def check_imports(headers):
    names = [n.lower() for n in re.findall(r"DLL Name:\s*(\S+)", headers)]
    need(names, "objdump printed no imports")
    bad = [n for n in names if n in MINGW_RUNTIME
           or not (n in SYSTEM_DLLS or n.startswith("api-ms-win-"))]
    need(not bad, "non-system DLL imports: %s" % ", ".join(bad))
    return "imports: %s" % ", ".join(names)


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__.strip())
    objdump, version, exe = argv[1:]
    try:
        with open(exe, "rb") as f:
            res = PE(f.read()).resources()
        headers = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError, Failure, struct.error, ValueError) as e:
        print("FAIL reading %s: %s" % (exe, e))
        return 1
    failed = 0
    for check, args in ((check_icon, (res,)), (check_version, (res, version)), (check_manifest, (res,)),
                        (check_subsystem, (headers,)), (check_imports, (headers,))):
        try:
            print("ok   " + check(*args))
        except (Failure, struct.error, ValueError, IndexError, UnicodeError) as e:
            print("FAIL %s: %s" % (check.__name__, e))
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
