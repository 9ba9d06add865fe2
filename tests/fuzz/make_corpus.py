#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/: a few real
inputs each, made here in the formats the parsers read (run again after a format changes).
The catalogue seeds come from a MinGW build tree's catalogues.
    tests/fuzz/make_corpus.py [build]"""
import io
import os
import struct
import sys
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)


def dword(n):
    return b"dwrd" + struct.pack("<I", n)


def boolean(b):
    return b"bool" + bytes([1 if b else 0])


def text(s):
    s = s.encode()
    return b"str " + struct.pack("<I", len(s)) + s


def base(kind, prefix=""):
    return dword(kind) + boolean(True) + dword(3) + dword(0x1000F4) + text(prefix)


CONFIGS = {
    "null": base(0),
    "file": base(4, "{pid} ") + boolean(True) + boolean(False) + dword(1 << 20) + text("app.log"),
    "logscope": base(7) + text("logs") + text("app") + text("gz") + dword(0) + dword(10) + dword(1) + boolean(True),
    "gate": base(8) + text("127.0.0.1") + dword(7777) + boolean(True),
}


def record(text_bytes, channel, stamp=b"2026-12-07 02:00:00.123"):
    text_end = 68 + len(text_bytes)
    name_at = text_end + 1
    total = name_at + len(channel) + 1
    head = struct.pack("<4sIIiIIQII", b"NpSg", total, 7, 3, 0, 0x1234, 42, text_end, name_at)
    return head + stamp.ljust(28, b"\0") + text_bytes + b"\0" + channel + b"\0"


def reply(magic, entries):
    body = b"".join(text(name) + dword(flags) + config for name, flags, config in entries)
    return struct.pack("<4sII", magic, 12 + len(body), len(entries)) + body


def gzip_member(data):
    c = zlib.compressobj(5, zlib.DEFLATED, 16 + zlib.MAX_WBITS)
    return c.compress(data) + c.flush()


def zip_archive(entries, method):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            info.compress_type = method
            archive.writestr(info, data)
    return buffer.getvalue()


def main():
    write("record_datagram_fuzz", "record", record(b"Service started\r\n", b"app"))
    write("record_datagram_fuzz", "default_channel", record(b"x", b""))
    write("record_datagram_fuzz", "two_and_request", record(b"one", b"a#1") + b"GpSg" + struct.pack("<I", 8) +
          record(b"two", b"b"))

    write("filter_reply_fuzz", "last", reply(b"LpSg", [("", 1, CONFIGS["null"]), ("app", 0, CONFIGS["file"])]))
    write("filter_reply_fuzz", "more", reply(b"CpSg", [("net", 2, CONFIGS["gate"]), ("scope", 0, CONFIGS["logscope"])]))
    write("filter_reply_fuzz", "empty", reply(b"LpSg", []))

    for name, data in CONFIGS.items():
        write("config_serial_fuzz", name, data)
        # The flat target reads a type byte and a size byte, then the saved form.
        kind = struct.unpack("<I", data[4:8])[0]
        sizes = {0: 32, 4: 48, 7: 72, 8: 48}
        write("flat_config_fuzz", name, bytes([kind, sizes[kind]]) + data)

    with open(os.path.join(ROOT, "samples", "hostprobe.config"), "rb") as f:
        write("xml_reader_fuzz", "hostprobe.config", f.read())
    write("xml_reader_fuzz", "entities", '<?xml version="1.0"?>\n<!DOCTYPE a [<!ENTITY x "y">]>\n'
          '<a xml:space="preserve" n="0x1F">&lt;&#x10000;&amp;<![CDATA[ <raw> ]]><b m=\'&#9;\'/>\t<?pi x?></a>\n')
    write("xml_reader_fuzz", "bom_utf8", b"\xef\xbb\xbf<r>\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80</r><!-- end -->")

    write("zip_archive_fuzz", "deflated", zip_archive([("en.msg", b"hello " * 40), ("de/x.msg", b"hallo")],
                                                      zipfile.ZIP_DEFLATED))
    write("zip_archive_fuzz", "stored", b"MZ prefix " + zip_archive([("a", b"1234")], zipfile.ZIP_STORED))

    for locale in ("en", "ja"):
        path = os.path.join(BUILD, "catalogues", locale + ".msg")
        if os.path.exists(path):
            with open(path, "rb") as f:
                write("catalogue_image_fuzz", locale + ".msg", f.read())

    for i, line in enumerate(["tune app file file=app.log append=true maxSize=0x100000",
                              "tune scope logscope prefix=p maxFiles=10h compress=1",
                              "tune net gate server=127.0.0.1 port=7777", "level <default> warn",
                              "flags app timestamp | tid", "prop app file="]):
        write("control_command_fuzz", "line%d" % i, line)

    for i, word in enumerate(["timestamp", "OF_TID", "0x1000f4", "nostderr"]):
        write("trace_flags_fuzz", "word%d" % i, word)
    for i, word in enumerate(["DEBUG_TRACE", "info", "Critical", "BLOCKED"]):
        write("trace_levels_fuzz", "word%d" % i, word)
    for i, word in enumerate(["1234", "0x4D2", "4d2h", "4294967295"]):
        write("number_reader_fuzz", "number%d" % i, word)
    for i, version in enumerate(["15.2.1118.7", " +8.3", "14", "2147483648.0"]):
        write("exchange_version_fuzz", "version%d" % i, version.encode("utf-16-le"))

    lines = b"".join(b"2026-12-07 02:00:%02d I record %d\r\n" % (i % 60, i) for i in range(40))
    write("gzip_recovery_fuzz", "two_chunks", gzip_member(lines[:600]) + gzip_member(lines[600:]))
    write("gzip_recovery_fuzz", "cut_chunk", gzip_member(lines[:300]) + gzip_member(lines)[:-20])


main()
