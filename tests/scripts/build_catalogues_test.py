"""Tests of scripts/build_catalogues.py: the source format, the build and the append step."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "build_catalogues.py")


def source(count=79, **changes):
    texts = {i: changes.get(f"s{i}", f"text {i}") for i in range(count)}
    return "# test\n" + "".join(f"{i}: {t}\n" if t else f"{i}:\n" for i, t in texts.items())


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
    def run_tool(self, *args, files={}):
        for name, data in files.items():
            os.makedirs(os.path.dirname(self.at(name)), exist_ok=True)
            with open(self.at(name), "wb") as f:
                f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return subprocess.run([sys.executable, TOOL, *map(self.at, args)], capture_output=True, text=True)

    def at(self, name):  # arguments with a slash or a dot name files in the test's folder
        return os.path.join(self.dir, name) if "/" in name or "." in name else name

    def read(self, name):
        with open(self.at(name), "rb") as f:
            return f.read()

    def build(self, **sources):
        files = {f"m/{locale}.txt": text for locale, text in {"en": source(), **sources}.items()}
        return self.run_tool("build", "--messages", "m/", "--locales", ",".join(sources), "--images", "i/",
                             "--archive", "a.zip", files=files)

    def setUp(self):
        temp = tempfile.TemporaryDirectory()
        self.addCleanup(temp.cleanup)
        self.dir = temp.name

    def test_build_packs_the_catalogues_and_fails_loudly_on_malformed_sources(self):
        self.assertEqual(self.build(de=source(s3=r"two\nlines\t\\ ok", s4=""), pt_BR=source()).returncode, 0)
        with zipfile.ZipFile(self.at("a.zip")) as z:
            self.assertEqual(z.namelist(), ["hostprobe.msg", "de/hostprobe.msg", "pt_BR/hostprobe.msg", "locales"])
            self.assertEqual((z.read("hostprobe.msg"), z.read("locales")), (b"", b"en,de,pt_BR"))
            image = z.read("de/hostprobe.msg")
        text = [8 + 4 * i + struct.unpack_from("<I", image, 8 + 4 * i)[0] for i in (3, 5)]
        self.assertEqual(image[text[0]:text[1]], "two\nlines\t\\ ok\0\0".encode("utf-16-le"))
        os.remove(self.at("a.zip"))
        for text, message in [(source(78), "78 messages, expected exactly 79"),
                              (source().replace("5: text 5\n", ""), "message 6 where message 5 was expected"),
                              (source() + "just text\n", "expected"), (source(s7=r"a \x"), "unknown escape"),
                              (source(s9="text 9 "), "trailing white space")]:
            r = self.build(de=text)
            self.assertIn(message, r.stderr)
            self.assertEqual((r.returncode, os.path.exists(self.at("a.zip"))), (1, False))

    def test_append_replaces_an_earlier_archive_and_refuses_other_data(self):
        for exe, content in [(fake_pe(), b"first"), (None, b"first"), (None, b"second, longer")]:
            with zipfile.ZipFile(self.at("a.zip"), "w") as z:
                z.writestr("hostprobe.msg", content)
            r = self.run_tool("append", "p.exe", "a.zip", files={"p.exe": exe} if exe else {})
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(self.read("p.exe"), fake_pe() + self.read("a.zip"))
        for exe, message in [(fake_pe() + b"overlay", "unknown data"), (fake_pe(signed=True), "signed")]:
            self.assertIn(message, self.run_tool("append", "p.exe", "a.zip", files={"p.exe": exe}).stderr)
            self.assertEqual(self.read("p.exe"), exe)


if __name__ == "__main__":
    unittest.main()
