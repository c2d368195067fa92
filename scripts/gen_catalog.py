#!/usr/bin/env python3
"""Validates the template catalogue and turns it into C++ sources for both builds.

The catalogue lives in two hand-edited files beside each other:
  app/catalog/templates.txt  id$title$thumbnail, one template per line, UTF-8, display order
  app/catalog/styles.txt     <id> key=value ..., what the stamp service draws for that template
The desktop tool compiles the catalogue in as one GBK text with CR LF between records; the
Linux service compiles the same records, in UTF-8, together with their styles. Both sources
are generated from these two files so that a title and the look it promises cannot drift
apart. Every non-ASCII byte is written as an octal escape: the compilers then copy the bytes
as they are, whatever execution character set a build uses.

Usage:
  gen_catalog.py check               validate; one message per problem, exit 1 on any
  gen_catalog.py windows OUT.cpp     CATALOG_TEXT / CATALOG_TEXT_SIZE for the desktop tool
  gen_catalog.py service OUT.cpp     tambrel::catalog::kEntries for the stamp service
  gen_catalog.py tsv                 id, title, thumbnail, style separated by tabs
Options (before the command): --templates PATH, --styles PATH to check other copies.
Generating runs the checks first and writes nothing when they fail; an output file is only
rewritten when its content changes, so an unchanged catalogue does not trigger rebuilds.
"""

import argparse
import os
import re
import sys
import tempfile
import unicodedata

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_TEMPLATES = os.path.join(ROOT, "app", "catalog", "templates.txt")
DEFAULT_STYLES = os.path.join(ROOT, "app", "catalog", "styles.txt")

RECORD_COUNT = 281
# The desktop tool's loader indexes exactly this many records and the gallery pages over
# them (70 pages of four after the first record). The size of the embedded GBK text is part
# of the same contract, so a title edit has to be balanced by another.
GBK_TEXT_SIZE = 12813
MISSING_IDS = {360, 294, 135, 123}
EXPECTED_IDS = [i for i in range(369, 84, -1) if i not in MISSING_IDS]

# Rows that the desktop tool's behaviour is pinned to (first page, the last page, the one
# template that takes exactly two characters); position -> record.
FIXED_ROWS = {
    1: "369$霸气无比的红色在线印章$C_1350613394995.png",
    2: "368$很酷的简约好看印章$C_1350448345617.png",
    3: "367$爱国人士专用在线图章$C_1350284084675.png",
    243: "124$双云朵的印章（只填2字）$C_1307993876968.png",
    244: "122$阴文、淡古、长印$C_1297909472318.jpg",
    278: "88$阳文、大篆、方印$C_1297846031677.jpg",
    279: "87$阳文、小篆、方印$1297845514265.gif",
    281: "85$阴文、小篆、方印$1297844481416.gif",
}

# Thumbnail names changed form twice over the service's life; (first, last, pattern).
THUMBNAIL_RUNS = [
    (1, 243, re.compile(r"C_(\d{13})\.png")),
    (244, 278, re.compile(r"C_(\d{13})\.jpg")),
    (279, 281, re.compile(r"(\d{13})\.gif")),
]

TITLE_MIN, TITLE_MAX = 6, 13
# Titles are Chinese; a handful carry a year or a digit. More than this in one title, or
# in too many titles, means a title was typed in the wrong place.
TITLE_MAX_ASCII = 4
TITLES_WITH_ASCII_MAX = 20

# The renderer's whole vocabulary; anything else would be drawn with a fallback silently.
STYLE_KEYS = ["shape", "relief", "script", "border", "emblem", "bottom", "chars", "color", "aged", "sample"]
STYLE_ENUMS = {
    "shape": {"round", "oval", "square", "rect", "long", "cloud"},
    "relief": {"yang", "yin"},
    "script": {"song", "kai", "hei", "zhuan", "li"},
    "border": {"single", "double", "thick", "thin", "none"},
    "emblem": {"star", "none"},
    "bottom": {"none", "code", "text"},
    "aged": {"0", "1"},
}
CHARS_MIN, CHARS_MAX = 2, 40
# How many characters each shape can hold legibly at thumbnail size.
CHARS_BY_SHAPE = {
    "round": (2, 40), "oval": (2, 40), "square": (2, 9),
    "rect": (2, 20), "long": (2, 12), "cloud": (2, 2),
}
# The centre star and the bottom line sit inside a ring of text: only ring shapes have one.
RING_SHAPES = {"round", "oval"}

# What a title promises about the drawing: (pattern in the title, key, allowed values).
TITLE_RULES = [
    (r"阴文|白文", "relief", {"yin"}),
    (r"阳文|朱文", "relief", {"yang"}),
    (r"椭圆", "shape", {"oval"}),
    (r"(?<!椭)圆", "shape", {"round"}),
    (r"(?<!长)方[印章形]|正方", "shape", {"square"}),
    (r"长印|竖", "shape", {"long"}),
    (r"横", "shape", {"rect"}),
    (r"云朵", "shape", {"cloud"}),
    (r"篆", "script", {"zhuan"}),
    (r"楷", "script", {"kai"}),
    (r"宋", "script", {"song"}),
    (r"黑体", "script", {"hei"}),
    (r"隶", "script", {"li"}),
    (r"双[圈线边框]", "border", {"double"}),
    (r"粗[圈线边框]", "border", {"thick"}),
    (r"细[圈线边框]", "border", {"thin"}),
    (r"单[圈线边框]", "border", {"single"}),
    (r"无[边框]", "border", {"none"}),
    (r"(?<!无)(?<!不带)(五角星|五星)|(?<![无不])带星", "emblem", {"star"}),
    (r"(无|不带)(五角星|五星|星)", "emblem", {"none"}),
    (r"编码|数字码|防伪码", "bottom", {"code"}),
]
AGED_WORDS = re.compile(r"淡古|古朴|做旧|仿古|残边")
CHAR_COUNT_IN_TITLE = re.compile(r"(\d+|[两二双三四五六七八九十])字")
CHINESE_DIGITS = {"两": 2, "二": 2, "双": 2, "三": 3, "四": 4, "五": 5, "六": 6, "七": 7, "八": 8, "九": 9, "十": 10}

# Ink colours are judged by the nearest of these anchors; red is the ordinary ink, every
# other colour must be named in the title so the gallery does not surprise the user.
COLOR_ANCHORS = {
    "red": (0xD0, 0x10, 0x10), "blue": (0x1F, 0x4E, 0x9F), "green": (0x1E, 0x7B, 0x34),
    "black": (0x1A, 0x1A, 0x1A), "purple": (0x6B, 0x2C, 0x91), "orange": (0xE8, 0x70, 0x0A),
    "gold": (0xC9, 0xA2, 0x27),
}
COLOR_WORDS = [
    (r"红", "red"), (r"蓝", "blue"), (r"绿", "green"), (r"黑色|墨色", "black"),
    (r"紫", "purple"), (r"橙|橘", "orange"), (r"金色|金黄", "gold"),
]


class Problems:
    def __init__(self):
        self.items = []

    def add(self, where, message):
        self.items.append(f"{where}: {message}")


def color_class(hex_text):
    rgb = tuple(int(hex_text[i:i + 2], 16) for i in (0, 2, 4))
    return min(COLOR_ANCHORS, key=lambda name: sum((a - b) ** 2 for a, b in zip(rgb, COLOR_ANCHORS[name])))


def is_cjk(ch):
    return "CJK" in unicodedata.name(ch, "") or ch in "、（）《》·"


def read_text(path, problems, label):
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        problems.add(label, f"cannot read: {e.strerror}")
        return None
    if raw.startswith(b"\xef\xbb\xbf"):
        problems.add(label, "starts with a byte-order mark; save as plain UTF-8")
        raw = raw[3:]
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError as e:
        problems.add(label, f"not valid UTF-8 at byte {e.start}")
        return None


def parse_templates(path, problems):
    """Returns [(id, title, thumbnail)] in file order; reports every format problem."""
    label = os.path.relpath(path, ROOT) if path.startswith(ROOT) else path
    text = read_text(path, problems, label)
    if text is None:
        return label, []
    if "\r" in text:
        problems.add(label, "contains CR; lines must end with LF only")
        text = text.replace("\r", "")
    if text and not text.endswith("\n"):
        problems.add(label, "last line has no LF")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if len(lines) != RECORD_COUNT:
        problems.add(label, f"holds {len(lines)} records, needs exactly {RECORD_COUNT}")
    records = []
    for n, line in enumerate(lines, 1):
        where = f"{label}:{n}"
        fields = line.split("$")
        if len(fields) != 3:
            problems.add(where, f"needs 3 fields separated by '$', found {len(fields)}: {line!r}")
            records.append(None)
            continue
        records.append(tuple(fields))
    return label, records


def check_templates(label, records, problems):
    titles_with_ascii = 0
    seen_titles = {}
    previous_stamp = None
    for n, rec in enumerate(records, 1):
        where = f"{label}:{n}"
        if rec is None:
            continue
        tid, title, thumb = rec
        if n <= len(EXPECTED_IDS) and tid != str(EXPECTED_IDS[n - 1]):
            problems.add(where, f"id {tid!r} should be {EXPECTED_IDS[n - 1]} at this position")
        if n in FIXED_ROWS and "$".join(rec) != FIXED_ROWS[n]:
            problems.add(where, f"must read exactly {FIXED_ROWS[n]!r}")

        stamp = None
        for first, last, pattern in THUMBNAIL_RUNS:
            if first <= n <= last:
                m = pattern.fullmatch(thumb)
                if not m:
                    problems.add(where, f"thumbnail {thumb!r} does not match {pattern.pattern} (records {first}-{last})")
                else:
                    stamp = int(m.group(1))
        if stamp is not None:
            if previous_stamp is not None and stamp >= previous_stamp:
                problems.add(where, f"thumbnail number {stamp} must be below the previous record's {previous_stamp}")
            previous_stamp = stamp

        if not TITLE_MIN <= len(title) <= TITLE_MAX:
            problems.add(where, f"title {title!r} has {len(title)} characters, needs {TITLE_MIN}-{TITLE_MAX}")
        if any(unicodedata.category(ch)[0] in "CZ" for ch in title):
            problems.add(where, f"title {title!r} holds a space or control character")
        try:
            title.encode("gbk")
        except UnicodeEncodeError as e:
            problems.add(where, f"title character {title[e.start]!r} has no GBK code")
        ascii_count = sum(1 for ch in title if ord(ch) < 128)
        if ascii_count:
            titles_with_ascii += 1
        if ascii_count > TITLE_MAX_ASCII or not any(is_cjk(ch) for ch in title):
            problems.add(where, f"title {title!r} is not mostly Chinese")
        if title in seen_titles:
            problems.add(where, f"title {title!r} repeats record {seen_titles[title]}")
        seen_titles.setdefault(title, n)
    if titles_with_ascii > TITLES_WITH_ASCII_MAX:
        problems.add(label, f"{titles_with_ascii} titles hold ASCII characters; keep it to {TITLES_WITH_ASCII_MAX}")

    # The size only means something once the record count and every record's form are right.
    if len(records) == RECORD_COUNT and all(r is not None for r in records):
        try:
            size = len(gbk_text(records))
        except UnicodeEncodeError:
            size = None  # reported per title above
        if size is not None and size != GBK_TEXT_SIZE:
            problems.add(label, f"GBK text with CR LF separators is {size} bytes, must be {GBK_TEXT_SIZE} "
                                f"({size - GBK_TEXT_SIZE:+d}); adjust titles")


def parse_styles(path, problems):
    """Returns (label, {id: (line number, {key: value}, normalised text)}) for styles.txt."""
    label = os.path.relpath(path, ROOT) if path.startswith(ROOT) else path
    text = read_text(path, problems, label)
    if text is None:
        return label, None
    styles = {}
    for n, line in enumerate(text.split("\n"), 1):
        where = f"{label}:{n}"
        line = line.rstrip("\r")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        tokens = line.split()
        tid, pairs = tokens[0], tokens[1:]
        if not tid.isdigit():
            problems.add(where, f"line must start with a template id, found {tid!r}")
            continue
        values = {}
        for pair in pairs:
            key, eq, value = pair.partition("=")
            if not eq or not value:
                problems.add(where, f"{pair!r} is not key=value")
            elif key not in STYLE_KEYS:
                problems.add(where, f"unknown key {key!r}")
            elif key in values:
                problems.add(where, f"key {key!r} given twice")
            else:
                values[key] = value
        if tid in styles:
            problems.add(where, f"id {tid} already styled on line {styles[tid][0]}")
            continue
        styles[tid] = (n, values, " ".join(pairs))
    return label, styles


def check_style(where, values, title, problems):
    for key in STYLE_KEYS:
        if key not in values:
            problems.add(where, f"missing key {key!r}")
    for key, allowed in STYLE_ENUMS.items():
        if key in values and values[key] not in allowed:
            problems.add(where, f"{key}={values[key]} is not one of {'|'.join(sorted(allowed))}")
    if any(key not in values for key in STYLE_KEYS):
        return False

    shape, chars_text, color, sample = values["shape"], values["chars"], values["color"], values["sample"]
    ok = True
    if not re.fullmatch(r"[1-9]\d*", chars_text) or not CHARS_MIN <= int(chars_text) <= CHARS_MAX:
        problems.add(where, f"chars={chars_text} must be a number {CHARS_MIN}-{CHARS_MAX}")
        ok = False
    chars = int(chars_text) if ok else None
    if chars is not None and shape in CHARS_BY_SHAPE:
        low, high = CHARS_BY_SHAPE[shape]
        if not low <= chars <= high:
            problems.add(where, f"a {shape} template holds {low}-{high} characters, not {chars}")
    if not re.fullmatch(r"[0-9A-F]{6}", color):
        problems.add(where, f"color={color} must be RRGGBB in upper-case hex")
        ok = False
    if values["emblem"] == "star" and shape not in RING_SHAPES:
        problems.add(where, f"a {shape} template has no centre for a star")
    if values["bottom"] != "none" and shape not in RING_SHAPES:
        problems.add(where, f"a {shape} template has no bottom line")
    if any(unicodedata.category(ch)[0] in "CZ" or ch in "=#$" for ch in sample):
        problems.add(where, f"sample {sample!r} holds a space, control character or one of = # $")
    if chars is not None and not CHARS_MIN <= len(sample) <= chars:
        problems.add(where, f"sample {sample!r} has {len(sample)} characters, needs {CHARS_MIN}-{chars}")

    # The title is what the user chooses by; it must not promise something else.
    for pattern, key, allowed in TITLE_RULES:
        if re.search(pattern, title) and values[key] not in allowed:
            problems.add(where, f"title {title!r} says {re.search(pattern, title).group(0)} "
                                f"but {key}={values[key]} (expected {'|'.join(sorted(allowed))})")
    aged_word = AGED_WORDS.search(title)
    if bool(aged_word) != (values["aged"] == "1"):
        problems.add(where, f"aged={values['aged']} but the title {title!r} "
                            + ("says " + aged_word.group(0) if aged_word else "names no weathered look"))
    m = CHAR_COUNT_IN_TITLE.search(title)
    if m and chars is not None:
        n = int(m.group(1)) if m.group(1).isdigit() else CHINESE_DIGITS[m.group(1)]
        if chars != n or len(sample) != n:
            problems.add(where, f"title {title!r} says {m.group(0)} but chars={chars} and the sample has {len(sample)}")
    if ok:
        ink = color_class(color)
        named = [cls for pattern, cls in COLOR_WORDS if re.search(pattern, title)]
        if named and ink not in named:
            problems.add(where, f"title {title!r} names {'/'.join(named)} ink but color={color} is {ink}")
        if ink != "red" and ink not in named:
            problems.add(where, f"color={color} is {ink}; a non-red ink must be named in the title")
    return True


def check_styles(style_label, styles, records, problems):
    titles = {rec[0]: rec[1] for rec in records if rec is not None}
    if styles is None or not titles:
        return  # one of the files is unreadable, already reported; comparing them says nothing
    looks = {}
    texts = {}
    for tid, (n, values, text) in styles.items():
        where = f"{style_label}:{n}"
        if tid not in titles:
            problems.add(where, f"id {tid} is not in the catalogue")
            continue
        if not check_style(where, values, titles[tid], problems):
            continue
        if text in texts:
            problems.add(where, f"style repeats id {texts[text]}")
            continue
        texts[text] = tid
        # Two templates that differ only in the sample or in a shade of the same ink look
        # the same in the gallery: the user could not tell them apart.
        look = tuple(color_class(values[k]) if k == "color" else values[k] for k in STYLE_KEYS if k != "sample")
        if look in looks:
            problems.add(where, f"draws the same stamp as id {looks[look]} (only the sample or the ink shade differs)")
        looks.setdefault(look, tid)
    unstyled = [tid for tid in titles if tid not in styles]
    if unstyled:
        problems.add(style_label, f"no style for id{'s' if len(unstyled) > 1 else ''} {', '.join(unstyled)}")


def gbk_text(records):
    return "\r\n".join("$".join(rec) for rec in records).encode("gbk")


def load(args):
    problems = Problems()
    tlabel, records = parse_templates(args.templates, problems)
    check_templates(tlabel, records, problems)
    slabel, styles = parse_styles(args.styles, problems)
    check_styles(slabel, styles, records, problems)
    return problems, records, styles


def c_string(data):
    """A C string literal holding exactly these bytes: printable ASCII as itself, the rest as
    three-digit octal escapes, which cannot swallow a following digit the way \\x can."""
    out = []
    for b in data:
        ch = chr(b)
        if ch in '"\\?':
            out.append("\\" + ch)
        elif 0x20 <= b < 0x7F:
            out.append(ch)
        else:
            out.append(f"\\{b:03o}")
    return '"' + "".join(out) + '"'


def windows_source(records):
    lines = [
        "// Generated by scripts/gen_catalog.py from app/catalog/templates.txt; edit that file instead.",
        "// The catalogue as the desktop tool embeds it: GBK, CR LF between records, none after the",
        "// last. Bytes are escaped so the compiler's execution character set cannot re-encode them.",
        "",
        "extern const char CATALOG_TEXT[];",
        "extern const unsigned CATALOG_TEXT_SIZE;",
        "",
        "const char CATALOG_TEXT[] =",
    ]
    # One literal per record, concatenated by the compiler, so a diff shows which record moved.
    last = len(records) - 1
    for i, rec in enumerate(records):
        data = "$".join(rec).encode("gbk") + (b"" if i == last else b"\r\n")
        end = ";" if i == last else ""
        lines.append(f"    {c_string(data)}{end}  // {rec[0]}")
    size = len(gbk_text(records))
    lines += [
        "",
        f"const unsigned CATALOG_TEXT_SIZE = {size};",
        "",
        "static_assert(sizeof(CATALOG_TEXT) == " + str(size) + " + 1, \"catalogue text size drifted from its records\");",
        "",
    ]
    return "\n".join(lines)


def service_source(records, styles):
    lines = [
        "// Generated by scripts/gen_catalog.py from app/catalog/templates.txt and styles.txt; edit",
        "// those files instead. Titles and samples are UTF-8, escaped so that no compiler character",
        "// set can re-encode them.",
        "",
        '#include "catalog/catalog_entry.h"',
        "",
        "namespace tambrel::catalog {",
        "",
        f"const Entry kEntries[{RECORD_COUNT}] = {{",
    ]
    for tid, title, thumb in records:
        style = styles[tid][2]
        lines.append(f"    {{{int(tid)}, {c_string(title.encode('utf-8'))}, {c_string(thumb.encode('ascii'))},")
        lines.append(f"     {c_string(style.encode('utf-8'))}}},")
    lines += [
        "};",
        "",
        "}  // namespace tambrel::catalog",
        "",
    ]
    return "\n".join(lines)


def write_if_changed(path, content):
    data = content.encode("ascii")
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return False
    except OSError:
        pass
    folder = os.path.dirname(os.path.abspath(path))
    os.makedirs(folder, exist_ok=True)
    # Replace in one step so an interrupted run never leaves half a source for the compiler.
    fd, tmp = tempfile.mkstemp(prefix=".gen_catalog.", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise
    return True


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--templates", default=DEFAULT_TEMPLATES)
    parser.add_argument("--styles", default=DEFAULT_STYLES)
    parser.add_argument("command", choices=["check", "windows", "service", "tsv"])
    parser.add_argument("out", nargs="?")
    args = parser.parse_args(argv)
    if args.command in ("windows", "service") and not args.out:
        parser.error(f"{args.command} needs an output file")
    if args.command in ("check", "tsv") and args.out:
        parser.error(f"{args.command} takes no output file")

    problems, records, styles = load(args)
    if problems.items:
        for item in problems.items:
            print(item, file=sys.stderr)
        print(f"gen_catalog: {len(problems.items)} problem(s) in the template catalogue", file=sys.stderr)
        return 1

    if args.command == "check":
        print(f"gen_catalog: {len(records)} templates, {len(gbk_text(records))} bytes as GBK, styles complete")
    elif args.command == "tsv":
        rows = "".join(f"{tid}\t{title}\t{thumb}\t{styles[tid][2]}\n" for tid, title, thumb in records)
        try:
            sys.stdout.buffer.write(rows.encode("utf-8"))
            sys.stdout.flush()
        except BrokenPipeError:
            # A reader such as head may stop early; that is not a failure of the catalogue.
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
    else:
        content = windows_source(records) if args.command == "windows" else service_source(records, styles)
        write_if_changed(args.out, content)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
