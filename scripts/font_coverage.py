#!/usr/bin/python3
"""Which CJK faces cover all of GB 2312: each face's character map against the 6,763 hanzi
and the 682 symbols of the national set (every two-byte code GB 2312 assigns). A seal text is whatever a person types, and a face that lacks a common character would
have it drawn in another face in the middle of a name, so only a face that holds all of them
is offered as a face of its own.

Usage: font_coverage.py [--markdown] PATH...
  PATH: a font file (.ttf .otf .ttc .otc), a folder searched for them, or a Debian package
        (.deb, unpacked to a temporary folder). Every face of a collection is read.
Prints a line per face: package, file, face index, family and style, weight class, hanzi and
symbols covered, and the verdict; with --markdown a table for the README."""

import os
import subprocess
import sys
import tempfile

from fontTools.ttLib import TTCollection, TTFont

FONT_EXTS = (".ttf", ".otf", ".ttc", ".otc")


def gb2312():
    """(hanzi, symbols): the characters of GB 2312, at the code points GB 18030 gives them (as
    the service decodes GBK: A1A4 is U+00B7 and A1AA U+2014, where the older GB 2312 table has
    the katakana middle dot U+30FB and U+2015)."""
    hanzi, symbols = [], []
    for row in range(0xA1, 0xF8):
        for cell in range(0xA1, 0xFF):
            code = bytes([row, cell])
            try:
                code.decode("gb2312")  # a code GB 2312 assigns
            except UnicodeDecodeError:
                continue
            ch = code.decode("gb18030")
            (hanzi if row >= 0xB0 else symbols).append(ch)
    return hanzi, symbols


def faces_of(path):
    if path.lower().endswith((".ttc", ".otc")):
        collection = TTCollection(path, lazy=True)
        return list(enumerate(collection.fonts))
    return [(0, TTFont(path, lazy=True))]


def name_of(font, ids):
    table = font["name"]
    for i in ids:
        for rec in table.names:
            if rec.nameID == i and rec.platformID == 3 and rec.langID == 0x409:
                return rec.toUnicode()
    for i in ids:
        n = table.getDebugName(i)
        if n:
            return n
    return ""


def font_files(path):
    if os.path.isdir(path):
        for base, _, names in sorted(os.walk(path)):
            for n in sorted(names):
                if n.lower().endswith(FONT_EXTS):
                    yield os.path.join(base, n)
    elif path.lower().endswith(FONT_EXTS):
        yield path


def package_name(deb):
    out = subprocess.run(["dpkg-deb", "-f", deb, "Package"], capture_output=True, text=True, check=True)
    return out.stdout.strip()


def main(argv):
    markdown = "--markdown" in argv
    paths = [a for a in argv[1:] if a != "--markdown"]
    if not paths:
        sys.stderr.write(__doc__)
        return 2
    hanzi, symbols = gb2312()
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        for path in paths:
            package = ""
            where = path
            if path.endswith(".deb"):
                package = package_name(path)
                where = os.path.join(tmp, package)
                subprocess.run(["dpkg-deb", "-x", path, where], check=True)
            for file in font_files(where):
                for index, font in faces_of(file):
                    cmap = font.getBestCmap() or {}
                    miss_h = [c for c in hanzi if ord(c) not in cmap]
                    miss_s = [c for c in symbols if ord(c) not in cmap]
                    family = name_of(font, (16, 1))
                    style = name_of(font, (17, 2))
                    weight = font["OS/2"].usWeightClass if "OS/2" in font else 0
                    rows.append((package, os.path.basename(file), index, family, style, weight,
                                 len(hanzi) - len(miss_h), len(symbols) - len(miss_s), miss_h, miss_s))
    print(f"GB 2312: {len(hanzi)} hanzi, {len(symbols)} symbols", file=sys.stderr)
    if markdown:
        print("| package | face (file, index) | weight | hanzi | symbols | verdict |")
        print("|---|---|---|---|---|---|")
    for package, file, index, family, style, weight, h, s, miss_h, miss_s in rows:
        ok = not miss_h and not miss_s
        why = "covers all" if ok else "lacks " + "".join((miss_h + miss_s)[:8]) + ("…" if len(miss_h) + len(miss_s) > 8 else "")
        if markdown:
            print(f"| {package} | {family} {style} ({file}, {index}) | {weight} | {h} / {len(hanzi)} | "
                  f"{s} / {len(symbols)} | {why} |")
        else:
            print(f"{package}\t{file}\t{index}\t{family}\t{style}\t{weight}\t{h}\t{s}\t{'PASS' if ok else 'FAIL'}\t{why}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
