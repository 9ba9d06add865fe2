#!/usr/bin/env python3
"""Builds hostprobe's message catalogues and the archive that travels with the program.

  build   compiles messages/<locale>.txt into <locale>.msg images and packs the archive
  append  appends the archive to an executable, replacing one appended before

A catalogue source is UTF-8 text. Blank lines and lines starting with "#" are ignored; every
other line is "<index>: <text>", the indices running 0, 1, 2 ... in order. In the text,
"\\n", "\\r", "\\t" and "\\\\" stand for a line feed, a carriage return, a tab and a backslash.

The image layout (little-endian): u32 total size, u32 count, count self-relative u32 offsets
(offset i is counted from its own position), then the UTF-16LE texts, each ending with a NUL
unit, in index order.
"""

import argparse
import io
import os
import re
import struct
import sys
import zipfile

MESSAGE_COUNT = 79
ENTRY_NAME = "hostprobe.msg"
FIXED_TIME = (1980, 1, 1, 0, 0, 0)  # the archive's bytes depend on its sources only
LINE = re.compile(r"^(\d+):(?: (.*))?$")
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\"}


class CatalogueError(Exception):
    pass


def unescape(text, where):
    out = []
    chars = iter(text)
    for c in chars:
        if c != "\\":
            out.append(c)
            continue
        nxt = next(chars, None)
        if nxt not in ESCAPES:
            raise CatalogueError(f"{where}: unknown escape \\{nxt or ''}")
        out.append(ESCAPES[nxt])
    return "".join(out)


def parse_source(path):
    with open(path, encoding="utf-8-sig") as f:
        lines = f.read().split("\n")
    messages = []
    for number, raw in enumerate(lines, 1):
        line = raw[:-1] if raw.endswith("\r") else raw
        where = f"{path}:{number}"
        if not line.strip() or line.startswith("#"):
            continue
        match = LINE.match(line)
        if not match:
            raise CatalogueError(f'{where}: expected "<index>: <text>"')
        index = int(match.group(1))
        if index != len(messages):
            raise CatalogueError(f"{where}: message {index} where message {len(messages)} was expected")
        text = match.group(2) or ""
        if text != text.rstrip():
            raise CatalogueError(f"{where}: trailing white space")
        text = unescape(text, where)
        if "\0" in text:
            raise CatalogueError(f"{where}: NUL character")
        messages.append(text)
    if len(messages) != MESSAGE_COUNT:
        raise CatalogueError(f"{path}: {len(messages)} messages, expected exactly {MESSAGE_COUNT}")
    return messages


def build_image(messages):
    texts = [m.encode("utf-16-le") + b"\0\0" for m in messages]
    table_end = 8 + 4 * len(messages)
    size = table_end + sum(len(t) for t in texts)
    out = bytearray(struct.pack("<II", size, len(messages)))
    position = table_end
    for i, text in enumerate(texts):
        slot = 8 + 4 * i
        out += struct.pack("<I", position - slot)
        position += len(text)
    for text in texts:
        out += text
    assert len(out) == size
    return bytes(out)


def pack_archive(images, locales):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        def add(name, data):
            info = zipfile.ZipInfo(name, date_time=FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            archive.writestr(info, data)

        add(ENTRY_NAME, b"")
        for locale in locales:
            add(f"{locale}/{ENTRY_NAME}", images[locale])
        add("locales", ",".join(["en"] + locales).encode("ascii"))
    return buffer.getvalue()


def write_if_changed(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except FileNotFoundError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def command_build(args):
    locales = [l for l in args.locales.split(",") if l]
    images = {}
    for locale in ["en"] + locales:
        images[locale] = build_image(parse_source(os.path.join(args.messages, f"{locale}.txt")))
    os.makedirs(args.images, exist_ok=True)
    for locale, image in images.items():
        write_if_changed(os.path.join(args.images, f"{locale}.msg"), image)
    write_if_changed(args.archive, pack_archive(images, locales))


def pe_image_end(data, path):
    """The end of the executable proper: its sections and its COFF symbol table."""
    def u16(at):
        return struct.unpack_from("<H", data, at)[0]

    def u32(at):
        return struct.unpack_from("<I", data, at)[0]

    if len(data) < 0x40 or data[:2] != b"MZ":
        raise CatalogueError(f"{path}: not an executable")
    pe = u32(0x3C)
    if len(data) < pe + 24 or data[pe:pe + 4] != b"PE\0\0":
        raise CatalogueError(f"{path}: no PE header")
    coff = pe + 4
    sections, symbols_at, symbol_count, optional_size = u16(coff + 2), u32(coff + 8), u32(coff + 12), u16(coff + 16)
    optional = coff + 20
    magic = u16(optional)
    directories = optional + (112 if magic == 0x20B else 96)
    if optional_size >= directories - optional + 5 * 8 and u32(directories + 4 * 8 + 4) != 0:
        raise CatalogueError(f"{path}: signed executables cannot take an archive; append before signing")
    end = 0
    table = optional + optional_size
    for i in range(sections):
        raw_size, raw_at = u32(table + 40 * i + 16), u32(table + 40 * i + 20)
        if raw_size:
            end = max(end, raw_at + raw_size)
    if symbols_at:
        strings = symbols_at + 18 * symbol_count
        end = max(end, strings + u32(strings))
    if end > len(data):
        raise CatalogueError(f"{path}: truncated executable")
    return end


def appended_archive_start(data, image_end):
    """Where an archive appended earlier starts, or None when the file has none."""
    if len(data) == image_end:
        return None
    record = data.rfind(b"PK\x05\x06", image_end)
    if record < 0 or len(data) - record < 22:
        return None
    size, offset = struct.unpack_from("<II", data, record + 12)
    start = record - size - offset
    return start if start == image_end else None


def command_append(args):
    with open(args.archive, "rb") as f:
        archive = f.read()
    with open(args.executable, "rb") as f:
        data = f.read()
    image_end = pe_image_end(data, args.executable)
    if len(data) > image_end:
        # Only an archive appended before (and whatever followed it) is replaced; unknown
        # data after the image, which the archive would hide, is refused.
        if appended_archive_start(data, image_end) is None:
            raise CatalogueError(f"{args.executable}: unknown data after the executable image")
        data = data[:image_end]
    tmp = args.executable + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data + archive)
    os.replace(tmp, args.executable)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    build = commands.add_parser("build")
    build.add_argument("--messages", required=True, help="folder of <locale>.txt sources")
    build.add_argument("--locales", required=True, help="comma-separated locales to pack, in order")
    build.add_argument("--images", required=True, help="folder for the <locale>.msg images")
    build.add_argument("--archive", required=True, help="the archive to write")
    append = commands.add_parser("append")
    append.add_argument("executable")
    append.add_argument("archive")
    args = parser.parse_args()
    try:
        {"build": command_build, "append": command_append}[args.command](args)
    except CatalogueError as error:
        print(f"build_catalogues: error: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
