#!/usr/bin/env python3
"""Regenerate resources/velmora.ico from resources/velmora.svg.

Every size is rendered straight from the SVG (no downscaling of a big
bitmap) and stored PNG-compressed as 32-bit RGBA. Needs rsvg-convert
(Debian: librsvg2-bin) and nothing beyond the Python standard library.

usage: tools/render_icon.py [SVG [ICO]]
"""
import os
import struct
import subprocess
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 256)
PNG_SIG = b"\x89PNG\r\n\x1a\n"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def chunks(png):
    if not png.startswith(PNG_SIG):
        raise ValueError("not a PNG")
    pos = len(PNG_SIG)
    while pos < len(png):
        length, kind = struct.unpack(">I4s", png[pos:pos + 8])
        yield kind, png[pos + 8:pos + 8 + length]
        pos += 12 + length


def ihdr(png):
    kind, data = next(chunks(png))
    if kind != b"IHDR":
        raise ValueError("PNG does not start with IHDR")
    # width, height, bit depth, colour type, compression, filter, interlace
    return struct.unpack(">IIBBBBB", data)


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def _unfilter(raw, width, height, bpp):
    stride = width * bpp
    out, prev, pos = [], bytearray(stride), 0
    for _ in range(height):
        ftype, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            pred = (0, a, b, (a + b) // 2, _paeth(a, b, c))[ftype]
            line[i] = (line[i] + pred) & 0xFF
        out.append(line)
        prev = line
    return out


def to_rgba(png):
    """Re-encode an 8-bit non-interlaced PNG of any colour type as RGBA."""
    width, height, depth, ctype, _, _, interlace = ihdr(png)
    if ctype == 6 and depth == 8:
        return png
    if depth != 8 or interlace:
        raise ValueError("unsupported PNG: depth %d, interlace %d" % (depth, interlace))
    idat, palette, trns = b"", b"", b""
    for kind, data in chunks(png):
        if kind == b"IDAT":
            idat += data
        elif kind == b"PLTE":
            palette = data
        elif kind == b"tRNS":
            trns = data
    bpp = {0: 1, 2: 3, 3: 1, 4: 2}[ctype]
    rows = _unfilter(zlib.decompress(idat), width, height, bpp)
    raw = bytearray()
    for line in rows:
        raw.append(0)  # filter type None
        for x in range(width):
            px = line[x * bpp:(x + 1) * bpp]
            if ctype == 0:
                raw += bytes((px[0],) * 3) + b"\xff"
            elif ctype == 2:
                raw += px + b"\xff"
            elif ctype == 3:
                i = px[0]
                raw += palette[3 * i:3 * i + 3] + bytes((trns[i] if i < len(trns) else 255,))
            else:
                raw += bytes((px[0],) * 3 + (px[1],))
    return encode_rgba(width, height, bytes(raw))


def encode_rgba(width, height, raw):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))
    head = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (PNG_SIG + chunk(b"IHDR", head)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def render(svg, size):
    png = subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), svg],
                         check=True, stdout=subprocess.PIPE).stdout
    png = to_rgba(png)
    width, height, depth, ctype = ihdr(png)[:4]
    if (width, height, depth, ctype) != (size, size, 8, 6):
        raise ValueError("%d px render came out %dx%d depth %d type %d"
                         % (size, width, height, depth, ctype))
    return png


def build_ico(images):
    """images: list of (size, png bytes) -> ICO file bytes."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, png in images:
        dim = 0 if size >= 256 else size  # a zero byte means 256
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(png), offset)
        offset += len(png)
    return out + b"".join(png for _, png in images)


def main(argv):
    svg = argv[1] if len(argv) > 1 else os.path.join(ROOT, "resources", "velmora.svg")
    ico = argv[2] if len(argv) > 2 else os.path.join(ROOT, "resources", "velmora.ico")
    images = [(size, render(svg, size)) for size in SIZES]
    with open(ico, "wb") as f:
        f.write(build_ico(images))
    print("wrote %s (%s px)" % (ico, ", ".join(str(s) for s in SIZES)))


if __name__ == "__main__":
    main(sys.argv)
