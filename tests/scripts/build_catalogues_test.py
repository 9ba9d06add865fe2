"""Tests of scripts/build_catalogues.py: the source format, the image layout, the archive and
the append step. Run by ctest: python3 build_catalogues_test.py"""

import io
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "..", "..", "scripts", "build_catalogues.py")
sys.path.insert(0, os.path.dirname(TOOL))
import build_catalogues as tool  # noqa: E402


def source(texts, header="# test\n"):
    return header + "".join(f"{i}: {t}\n" for i, t in enumerate(texts))


def numbered(count=79):
    return [f"text {i}" for i in range(count)]


def fake_pe(section_data=b"\x90" * 64, signed=False):
    """A minimal PE32+ file: headers, one section, and an optional certificate entry."""
    optional_size = 240
    pe = 0x40
    section_table = pe + 24 + optional_size
    raw_at = 0x200
    data = bytearray(raw_at + len(section_data))
    data[0:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, pe)
    data[pe:pe + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", data, pe + 4, 0x8664, 1, 0, 0, 0, optional_size, 0x22)
    struct.pack_into("<H", data, pe + 24, 0x20B)
    if signed:
        struct.pack_into("<II", data, pe + 24 + 112 + 4 * 8, len(data), 16)
    struct.pack_into("<8sIIIIIIHHI", data, section_table, b".text", len(section_data), 0x1000,
                     len(section_data), raw_at, 0, 0, 0, 0, 0)
    data[raw_at:] = section_data
    return bytes(data)


class SourceFormat(unittest.TestCase):
    def parse(self, text):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "xx.txt")
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            return tool.parse_source(path)

    def test_reads_texts_comments_and_escapes(self):
        texts = numbered()
        texts[3] = r"two\nlines\tand a \\ backslash"
        texts[4] = ""
        parsed = self.parse(source(texts).replace("4: \n", "4:\n") + "\n# trailing comment\n")
        self.assertEqual(parsed[3], "two\nlines\tand a \\ backslash")
        self.assertEqual(parsed[4], "")
        self.assertEqual(parsed[78], "text 78")

    def test_rejects_malformed_sources(self):
        cases = {
            "78 messages": source(numbered(78)),
            "80 messages": source(numbered(80)),
            "index skipped": source(numbered()).replace("5: text 5\n", ""),
            "indices swapped": source(numbered()).replace("1: text 1\n2: text 2", "2: text 2\n1: text 1"),
            "no index": source(numbered()) + "just text\n",
            "unknown escape": source(numbered()).replace("text 7", r"text \x7"),
            "trailing space": source(numbered()).replace("text 9", "text 9 "),
        }
        for name, text in cases.items():
            with self.subTest(name), self.assertRaises(tool.CatalogueError):
                self.parse(text)


class ImageLayout(unittest.TestCase):
    def test_offsets_are_self_relative_and_texts_utf16(self):
        image = tool.build_image(["a", "", "\U0001F600"])
        size, count = struct.unpack_from("<II", image)
        self.assertEqual((size, count), (len(image), 3))
        starts = [8 + 4 * i + struct.unpack_from("<I", image, 8 + 4 * i)[0] for i in range(3)]
        self.assertEqual(starts, [20, 24, 26])
        self.assertEqual(image[26:], b"\x3d\xd8\x00\xde\0\0")  # a surrogate pair, then NUL


class Build(unittest.TestCase):
    def run_build(self, d, locales, sources):
        os.makedirs(os.path.join(d, "messages"), exist_ok=True)
        for name, text in sources.items():
            with open(os.path.join(d, "messages", name + ".txt"), "w", encoding="utf-8") as f:
                f.write(text)
        return subprocess.run([sys.executable, TOOL, "build", "--messages", os.path.join(d, "messages"),
                               "--locales", locales, "--images", os.path.join(d, "images"),
                               "--archive", os.path.join(d, "a.zip")], capture_output=True, text=True)

    def test_packs_root_locales_and_list(self):
        with tempfile.TemporaryDirectory() as d:
            r = self.run_build(d, "de,pt_BR", {"en": source(numbered()), "de": source(numbered()),
                                                "pt_BR": source(numbered())})
            self.assertEqual(r.returncode, 0, r.stderr)
            with zipfile.ZipFile(os.path.join(d, "a.zip")) as z:
                self.assertEqual(z.namelist(), ["hostprobe.msg", "de/hostprobe.msg", "pt_BR/hostprobe.msg",
                                                "locales"])
                self.assertEqual(z.read("hostprobe.msg"), b"")
                self.assertEqual(z.read("locales"), b"en,de,pt_BR")
                with open(os.path.join(d, "images", "de.msg"), "rb") as f:
                    self.assertEqual(z.read("de/hostprobe.msg"), f.read())
            self.assertTrue(os.path.exists(os.path.join(d, "images", "en.msg")))

    def test_fails_loudly_on_a_short_catalogue(self):
        with tempfile.TemporaryDirectory() as d:
            r = self.run_build(d, "de", {"en": source(numbered()), "de": source(numbered(78))})
            self.assertNotEqual(r.returncode, 0)
            self.assertIn("de.txt: 78 messages, expected exactly 79", r.stderr)
            self.assertFalse(os.path.exists(os.path.join(d, "a.zip")))


class Append(unittest.TestCase):
    def archive(self, content=b"x"):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w") as z:
            z.writestr("hostprobe.msg", content)
        return buffer.getvalue()

    def append(self, exe_bytes, archive):
        with tempfile.TemporaryDirectory() as d:
            exe, zip_path = os.path.join(d, "p.exe"), os.path.join(d, "a.zip")
            with open(exe, "wb") as f:
                f.write(exe_bytes)
            with open(zip_path, "wb") as f:
                f.write(archive)
            r = subprocess.run([sys.executable, TOOL, "append", exe, zip_path], capture_output=True, text=True)
            with open(exe, "rb") as f:
                return r.returncode, f.read(), r.stderr

    def test_appends_exactly_once(self):
        image, first, second = fake_pe(), self.archive(b"first"), self.archive(b"second, longer")
        rc, once, _ = self.append(image, first)
        self.assertEqual((rc, once), (0, image + first))
        rc, again, _ = self.append(once, first)
        self.assertEqual((rc, again), (0, image + first))
        rc, replaced, _ = self.append(once, second)
        self.assertEqual((rc, replaced), (0, image + second))

    def test_refuses_unknown_trailing_data_and_signed_files(self):
        rc, out, err = self.append(fake_pe() + b"overlay", self.archive())
        self.assertNotEqual(rc, 0)
        self.assertIn("unknown data", err)
        self.assertEqual(out, fake_pe() + b"overlay")
        rc, _, err = self.append(fake_pe(signed=True), self.archive())
        self.assertNotEqual(rc, 0)
        self.assertIn("signed", err)


if __name__ == "__main__":
    unittest.main()
