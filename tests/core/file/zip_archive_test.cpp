#include "core/file/zip_archive.h"

#include <gtest/gtest.h>

#include "core/file/zip_file.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace {

using File::ZipArchive;
using S = File::ZipStatus;
using TestSupport::BuildZip;

// Text that compresses, but not to nothing, so that deflate really runs.
std::string Sample(size_t size) {
    std::string text;
    for (uint32_t i = 0; text.size() < size; ++i) {
        text += std::to_string((i * 2654435761u) >> 22) + " of the sample;";
    }
    return text.substr(0, size);
}

// Opens `bytes` and reads entry `name`: the first status that is not Ok, or Ok and the content.
S Read(const std::string& bytes, const std::string& name, std::string* content = nullptr, bool* opens = nullptr) {
    std::unique_ptr<ZipArchive> archive;
    const S opened = ZipArchive::Open(std::make_unique<File::MemorySource>(bytes), archive);
    EXPECT_EQ(archive != nullptr, opened == S::Ok);
    std::vector<uint8_t> out(3, 1);
    const S read = opened != S::Ok ? opened : archive->ReadEntry(name, out);
    EXPECT_TRUE(opened != S::Ok || read == S::Ok || out.empty()) << "data left after a failed read";
    if (content != nullptr) {
        content->assign(out.begin(), out.end());
    }
    if (opens != nullptr) {
        *opens = opened == S::Ok;
    }
    return read;
}

TEST(ZipArchive, ReadsEntriesBetweenOtherDataByExactName) {
    for (const bool deflate : {false, true}) {
        // The big entry is larger than the reader's buffers.
        const std::vector<TestSupport::ZipItem> items = {
            {"a.txt", Sample(5000), deflate}, {"empty", "", deflate}, {"big", Sample(300000), deflate}};
        for (const size_t junk : {0, 70000}) {
            const std::string bytes = BuildZip(items, std::string(junk, 'M')).bytes + std::string(junk / 8, '\xAB');
            for (const auto& item : items) {
                std::string content;
                EXPECT_EQ(Read(bytes, item.name, &content), S::Ok) << item.name << " " << deflate << " " << junk;
                EXPECT_TRUE(content == item.data) << item.name << " " << deflate << " " << junk;
            }
        }
    }
    // Names match byte for byte; the first of equal names wins.
    const std::string z = BuildZip({{"de/x.msg", "one"}, {"x.msg", "two"}, {"de/x.msg", "dup"}}).bytes;
    std::string one, two;
    EXPECT_EQ(Read(z, "de/x.msg", &one), S::Ok);
    EXPECT_EQ(Read(z, "x.msg", &two), S::Ok);
    EXPECT_EQ(one + two, "onetwo");
    for (const char* missing : {"DE/x.msg", "de/X.MSG", "de/x", "x.msg2", "de\\x.msg", "/x.msg", ""}) {
        EXPECT_EQ(Read(z, missing), S::NotFound) << missing;
    }
}

// The end record is searched backwards in overlapping 1024-byte blocks from 18 bytes before
// the end, at most 65517 bytes back: a comment or trailer of 65513 bytes is the longest found.
TEST(ZipArchive, EndRecordIsFoundAcrossSearchBlocksUpToItsLimit) {
    // The prefix keeps the start of the file out of the search's way. Each block boundary is
    // tried, and where it would lie if the blocks did not overlap.
    const std::string plain = BuildZip({{"x", "data"}}, std::string(70000, 'M')).bytes;
    for (const size_t block : {0, 1, 2}) {
        for (size_t trailer = block * 1018; trailer <= block * 1024 + 4; ++trailer) {
            EXPECT_EQ(Read(plain + std::string(trailer, '\xAB'), "x"), S::Ok) << trailer;
        }
    }
    for (const auto& [tail, expected] : {std::pair{65513, S::Ok}, std::pair{65514, S::NoArchive}}) {
        EXPECT_EQ(Read(plain + std::string(tail, '\xAB'), "x"), expected) << tail;
        EXPECT_EQ(Read(BuildZip({{"x", "data"}}, "", std::string(tail, 'c')).bytes, "x"), expected) << tail;
    }
    // A bare end record at offset 0 is beyond the search's reach.
    for (const std::string& bytes :
         {std::string(22, 'z'), std::string(2000, 'z'), plain.substr(0, plain.size() - 12), BuildZip({}).bytes}) {
        EXPECT_EQ(Read(bytes, "x"), S::NoArchive) << bytes.size();
    }
    // The record nearest the end wins, and then fails its checks.
    EXPECT_EQ(Read(plain + "PK\5\6" + std::string(40, '\0'), "x"), S::Corrupt);
}

enum Record { kEnd, kCentral0, kCentral1, kLocal0 };
enum Archives { kBoth, kStored, kDeflated };

// Sets the field of `width` bytes at `at` in a record to `value`, or adds `value` to it.
struct Damage {
    const char* name;
    Archives archives;
    bool opens;
    S status;  // of opening, or of reading "a.txt" when the archive opens
    Record record;
    size_t at;
    int width;
    int64_t value;
    bool add = false;
};

// End record: +4 disk, +6 directory disk, +8 entries here, +10 entries, +12 directory size,
// +16 directory offset. Directory header: +8 flags, +10 method, +16 CRC, +20 compressed size,
// +24 size, +28 name length, +34 disk, +42 local header offset. Local header: +28 extra length.
const Damage kDamages[] = {
    {"disk number", kBoth, false, S::Corrupt, kEnd, 4, 2, 1},
    {"directory disk", kBoth, false, S::Corrupt, kEnd, 6, 2, 1},
    {"entries on this disk differ", kBoth, false, S::Corrupt, kEnd, 8, 2, 1},
    {"zero entries", kBoth, false, S::Corrupt, kEnd, 8, 4, 0},
    {"fewer entries than the directory", kBoth, false, S::Corrupt, kEnd, 8, 4, 0x00010001},
    {"more entries than the directory", kBoth, false, S::Corrupt, kEnd, 8, 4, 0x00030003},
    {"directory one byte past the record", kBoth, false, S::Corrupt, kEnd, 16, 4, 1, true},
    {"directory truncated", kBoth, false, S::Corrupt, kEnd, 12, 4, -1, true},
    {"directory of no bytes", kBoth, false, S::Corrupt, kEnd, 12, 4, 0},
    {"size and offset wrap, the directory before the source", kBoth, false, S::Corrupt, kEnd, 12, 8, 0x20FFFFFFF0},
    {"offset wraps with the size, no entry in the source", kBoth, true, S::Corrupt, kEnd, 16, 4, 0xFFFFFFFF},
    {"directory header signature", kBoth, false, S::Corrupt, kCentral1, 0, 1, 'Q'},
    {"name length past the directory", kBoth, false, S::Corrupt, kCentral1, 28, 2, 200},
    {"entry on another disk", kBoth, false, S::Corrupt, kCentral0, 34, 2, 1},
    {"local header offset past the end", kBoth, true, S::Corrupt, kCentral0, 42, 4, 0x7FFFFFF0},
    {"local header signature", kBoth, true, S::Corrupt, kLocal0, 1, 1, 'Q'},
    {"local name differs", kBoth, true, S::Corrupt, kLocal0, 30, 1, 'A'},
    {"local extra field into the directory", kBoth, true, S::Corrupt, kLocal0, 28, 2, 0xFFFF},
    {"compressed size past the directory", kBoth, true, S::Corrupt, kCentral0, 20, 4, 0x00FFFFFF},
    {"CRC mismatch", kBoth, true, S::Corrupt, kCentral0, 16, 4, 1, true},
    {"encrypted", kBoth, true, S::Unsupported, kCentral0, 8, 2, 1},
    {"unknown method", kBoth, true, S::Unsupported, kCentral0, 10, 2, 12},
    {"ZIP64 size", kBoth, true, S::Unsupported, kCentral0, 24, 4, 0xFFFFFFFF},
    {"data byte changed", kStored, true, S::Corrupt, kLocal0, 40, 1, 0x20, true},
    {"stored sizes differ", kStored, true, S::Corrupt, kCentral0, 24, 4, -1, true},
    {"stored sizes both longer", kStored, true, S::Corrupt, kCentral0, 20, 8, 0x800000008, true},
    {"compressed size shorter than the stream", kDeflated, true, S::EndOfFile, kCentral0, 20, 4, -5, true},
    {"compressed size longer than the stream", kDeflated, true, S::Corrupt, kCentral0, 20, 4, 5, true},
    {"size longer than the stream gives", kDeflated, true, S::EndOfFile, kCentral0, 24, 4, 1, true},
    {"size shorter than the stream gives", kDeflated, true, S::Corrupt, kCentral0, 24, 4, -1, true},
    {"size far beyond the data", kDeflated, true, S::EndOfFile, kCentral0, 24, 4, 0xFFFFFFF0},
    {"not a deflate stream", kDeflated, true, S::Corrupt, kLocal0, 35, 1, 0xFF},
};

TEST(ZipArchive, RejectsMalformedArchives) {
    for (const bool deflate : {false, true}) {
        for (const Damage& d : kDamages) {
            if (d.archives != (deflate ? kStored : kDeflated)) {
                auto z = BuildZip({{"a.txt", Sample(5000), deflate}, {"b/c.bin", Sample(300), deflate}});
                const size_t at = std::vector<size_t>{z.endRecord, z.central[0], z.central[1], z.local[0]}[d.record];
                TestSupport::Put(z.bytes, at + d.at,
                                 d.value + (d.add ? TestSupport::Get(z.bytes, at + d.at, d.width) : 0), d.width);
                bool opens = false;
                EXPECT_EQ(Read(z.bytes, "a.txt", nullptr, &opens), d.status) << d.name << " " << deflate;
                EXPECT_EQ(opens, d.opens) << d.name << " " << deflate;
            }
        }
    }
}

// The end record's size and offset are summed in 32 bits: when the sum wraps, the archive starts
// before the source, and an entry whose offset reaches into the source is read from there.
TEST(ZipArchive, DirectoryOffsetsThatWrapCountFromBeforeTheSource) {
    auto z = BuildZip({{"a.txt", "wrapped"}});
    const uint64_t directoryAt = TestSupport::Get(z.bytes, z.endRecord + 16);
    TestSupport::Put(z.bytes, z.endRecord + 16, 0xFFFFFFFF, 4);
    TestSupport::Put(z.bytes, z.central[0] + 42, 0xFFFFFFFF - directoryAt, 4);
    std::string content;
    EXPECT_EQ(Read(z.bytes, "a.txt", &content), S::Ok);
    EXPECT_EQ(content, "wrapped");
}

// Claims more bytes than it holds, so that reads near the end fail.
struct ShortSource : File::MemorySource {
    using MemorySource::MemorySource;
    uint64_t Size() const override { return MemorySource::Size() + 100; }
};

TEST(ZipArchive, FailuresOfTheSourcePassThrough) {
    std::unique_ptr<ZipArchive> archive;
    EXPECT_EQ(ZipArchive::Open(std::make_unique<ShortSource>(BuildZip({{"a", "data"}}).bytes), archive), S::EndOfFile);
    EXPECT_EQ(ZipArchive::Open(nullptr, archive), S::NotFound);
    TestSupport::TempDir dir;  // files on disk are read end to end with the catalogue
    TestSupport::WriteFileBytes(dir.path() + L"plain.txt", "no archive here, just text");
    EXPECT_EQ(File::OpenZipFile(dir.path() + L"missing.exe", archive), S::NotFound);
    EXPECT_EQ(File::OpenZipFile(dir.path() + L"plain.txt", archive), S::NoArchive);
}

}  // namespace
