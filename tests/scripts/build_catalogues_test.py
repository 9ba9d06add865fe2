"""Tests of scripts/build_catalogues.py: the source format, the build and the append step."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "build_catalogues.py")


def source(count=79, **changes):
    return "# test\n" + "".join(f"{i}: {changes.get(f's{i}', f'text {i}')}\n" for i in range(count))


def fake_pe(signed=False):
    """A minimal PE32+ file: headers, one section and, when signed, a certificate entry."""
    data = bytearray(0x240)
    data[0:2], data[0x40:0x44] = b"MZ", b"PE\0\0"
    struct.pack_into("<I", data, 0x3C, 0x40)
    struct.pack_into("<HHIIIHHH", data, 0x44, 0x8664, 1, 0, 0, 0, 240, 0x22, 0x20B)
    struct.pack_into("<II", data, 0x58 + 112 + 32, 0x240 * signed, 16 * signed)
    struct.pack_into("<8sIIII", data, 0x58 + 240, b".text", 64, 0x1000, 64, 0x200)
    return bytes(data)


class Tool(unittest.TestCase):
    def setUp(self):
        temp = tempfile.TemporaryDirectory()
        self.addCleanup(temp.cleanup)
        self.addCleanup(os.chdir, os.getcwd())
        os.chdir(temp.name)

    def run_tool(self, *args):
        return subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True)

    def build(self, **sources):
        Path("m").mkdir(exist_ok=True)
        for locale, text in {"en": source(), **sources}.items():
            Path(f"m/{locale}.txt").write_text(text, encoding="utf-8")
        return self.run_tool("build", "--messages", "m", "--locales", ",".join(sources), "--images", "i",
                             "--archive", "a.zip")

    def test_build_packs_the_catalogues_and_fails_loudly_on_malformed_sources(self):
        self.assertEqual(self.build(de=source(s3=r"two\nlines\t\\ ok", s4=""), pt_BR=source()).returncode, 0)
        with zipfile.ZipFile("a.zip") as z:
            self.assertEqual(z.namelist(), ["hostprobe.msg", "de/hostprobe.msg", "pt_BR/hostprobe.msg", "locales"])
            self.assertEqual((z.read("hostprobe.msg"), z.read("locales")), (b"", b"en,de,pt_BR"))
            image = z.read("de/hostprobe.msg")
        text = [8 + 4 * i + struct.unpack_from("<I", image, 8 + 4 * i)[0] for i in (3, 5)]
        self.assertEqual(image[text[0]:text[1]], "two\nlines\t\\ ok\0\0".encode("utf-16-le"))
        Path("a.zip").unlink()
        for text, message in [(source(78), "78 messages, expected exactly 79"),
                              (source().replace("5: text 5\n", ""), "message 6 where message 5 was expected"),
                              (source() + "just text\n", "expected"), (source(s7=r"a \x"), "unknown escape"),
                              (source(s9="text 9 "), "trailing white space")]:
            r = self.build(de=text)
            self.assertIn(message, r.stderr)
            self.assertEqual((r.returncode, os.path.exists("a.zip")), (1, False))

    def test_append_replaces_an_earlier_archive_and_refuses_other_data(self):
        for exe, content in [(fake_pe(), b"first"), (None, b"first"), (None, b"second, longer")]:
            with zipfile.ZipFile("a.zip", "w") as z:
                z.writestr("hostprobe.msg", content)
            if exe:
                Path("p.exe").write_bytes(exe)
            self.assertEqual(self.run_tool("append", "p.exe", "a.zip").returncode, 0)
            self.assertEqual(Path("p.exe").read_bytes(), fake_pe() + Path("a.zip").read_bytes())
        for exe, message in [(fake_pe() + b"overlay", "unknown data"), (fake_pe(signed=True), "signed")]:
            Path("p.exe").write_bytes(exe)
            self.assertIn(message, self.run_tool("append", "p.exe", "a.zip").stderr)
            self.assertEqual(Path("p.exe").read_bytes(), exe)


if __name__ == "__main__":
    unittest.main()
