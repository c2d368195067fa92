#!/usr/bin/env python3
"""Writes the desktop tool's deployment constants as a C++ source.

The update address and the reply key are stored only pair-coded: each plain byte x, XOR-ed
with the next byte of the pair key, becomes the two alphabet characters (v % 62, v // 62), so
that 62 * (b - 1) + (a - 1) with 1-based alphabet positions gives the byte back. The plain texts
never reach the executable.

usage: gen_config.py OUT.cpp host pair_key reply_key update_prefix home_url download_url
"""
import sys

ALPHABET = b"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"


def pair_encode(plain: bytes, key: bytes) -> bytes:
    out = bytearray()
    for j, x in enumerate(plain):
        v = x ^ key[j % len(key)]
        out += bytes([ALPHABET[v % 62], ALPHABET[v // 62]])
    return bytes(out)


def c_bytes(data: bytes) -> str:
    return "".join("\\x%02x" % b for b in data)


def block(name: str, data: bytes) -> str:
    # Same layout as a runtime byte block: {1, n} then the bytes, in static data.
    return (
        f"alignas(8) static const struct {{ int32_t one; int32_t length; unsigned char data[{len(data)}]; }}"
        f" {name}_storage = {{1, {len(data)}, {{{', '.join(str(b) for b in data)}}}}};\n"
        f"const BytesBlock& {name} = *reinterpret_cast<const BytesBlock*>(&{name}_storage);\n"
    )


def main() -> int:
    out, host, pair_key, reply_key, prefix, home, download = sys.argv[1:8]
    pair_key_b = pair_key.encode("ascii")
    enc_reply = pair_encode(reply_key.encode("ascii"), pair_key_b)
    enc_prefix = pair_encode(prefix.encode("ascii"), pair_key_b)
    home_text = home.split("://", 1)[-1]
    link = f'<a href="{home}">{home_text}</a>'
    src = (
        "// Generated from config/tambrel.cmake by scripts/gen_config.py; do not edit.\n"
        '#include "app/config.h"\n\n'
        "namespace tambrel::app {\n\n"
        f'const char SERVICE_HOST[] = "{c_bytes(host.encode("ascii"))}";\n'
        f'const char HOME_LINK_MARKUP[] = "{c_bytes(link.encode("ascii"))}";\n'
        f'const char DOWNLOAD_URL[] = "{c_bytes(download.encode("ascii"))}";\n'
        f'const char PAIR_KEY[] = "{c_bytes(pair_key_b)}";\n'
        + block("ENCODED_REPLY_KEY", enc_reply)
        + block("ENCODED_URL_PREFIX", enc_prefix)
        + "\n}  // namespace tambrel::app\n"
    )
    try:
        with open(out, encoding="ascii") as f:
            if f.read() == src:
                return 0
    except OSError:
        pass
    with open(out, "w", encoding="ascii") as f:
        f.write(src)
    return 0


if __name__ == "__main__":
    sys.exit(main())
