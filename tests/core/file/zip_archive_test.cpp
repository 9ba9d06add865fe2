#include "core/file/zip_archive.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/file/zip_file.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace {

using File::ZipArchive;
using File::ZipStatus;
using TestSupport::PutU16;
using TestSupport::PutU32;
using TestSupport::ZipBuilder;
using TestSupport::ZipLayout;

std::string Repeated(size_t size, char c) {
    return std::string(size, c);
}

// Text that compresses well but not to nothing, so that deflate really runs.
std::string SampleText(size_t size) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) {
        text += "line " + std::to_string(i % 97) + " of the sample;";
    }
    text.resize(size);
    return text;
}

ZipStatus OpenBytes(const std::string& bytes, std::unique_ptr<ZipArchive>& archive) {
    return ZipArchive::Open(std::make_unique<File::MemorySource>(bytes), archive);
}

ZipStatus ReadFrom(const std::string& bytes, const std::string& name, std::vector<uint8_t>& out) {
    std::unique_ptr<ZipArchive> archive;
    const ZipStatus opened = OpenBytes(bytes, archive);
    return opened != ZipStatus::Ok ? opened : archive->ReadEntry(name, out);
}

std::string AsString(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

ZipLayout TwoEntries(bool deflate) {
    return ZipBuilder().Add("a.txt", SampleText(5000), deflate).Add("b/c.bin", SampleText(300), deflate).Build();
}

TEST(ZipArchive, ReadsStoredAndDeflatedEntriesAppendedBetweenOtherData) {
    for (const bool deflate : {false, true}) {
        for (const size_t prefix : {size_t{0}, size_t{1}, size_t{70000}}) {
            for (const size_t trailer : {size_t{0}, size_t{3}, size_t{9000}}) {
                SCOPED_TRACE(testing::Message()
                             << "deflate " << deflate << " prefix " << prefix << " trailer " << trailer);
                ZipLayout layout = ZipBuilder()
                                       .Prefix(Repeated(prefix, 'M'))
                                       .Add("a.txt", SampleText(5000), deflate)
                                       .Add("empty", "", deflate)
                                       .Add("b/c.bin", SampleText(300), deflate)
                                       .Build();
                layout.bytes += Repeated(trailer, '\xAB');
                std::unique_ptr<ZipArchive> archive;
                ASSERT_EQ(OpenBytes(layout.bytes, archive), ZipStatus::Ok);
                EXPECT_EQ(archive->ArchiveOffset(), prefix);
                EXPECT_EQ(archive->DirectoryOffset(), layout.directory);
                ASSERT_EQ(archive->Entries().size(), 3u);
                std::vector<uint8_t> out;
                ASSERT_EQ(archive->ReadEntry("a.txt", out), ZipStatus::Ok);
                EXPECT_EQ(AsString(out), SampleText(5000));
                ASSERT_EQ(archive->ReadEntry("empty", out), ZipStatus::Ok);
                EXPECT_TRUE(out.empty());
                ASSERT_EQ(archive->ReadEntry("b/c.bin", out), ZipStatus::Ok);
                EXPECT_EQ(AsString(out), SampleText(300));
            }
        }
    }
}

TEST(ZipArchive, InflatesEntriesLargerThanItsBuffers) {
    // Several input chunks and several growths of the output.
    std::string big;
    for (uint32_t i = 0; big.size() < 700000; ++i) {
        big.push_back(static_cast<char>((i * 2654435761u) >> 24));  // barely compressible
        big += "abc";
    }
    const ZipLayout layout = ZipBuilder().Add("big", big, true).Build();
    std::vector<uint8_t> out;
    ASSERT_EQ(ReadFrom(layout.bytes, "big", out), ZipStatus::Ok);
    EXPECT_TRUE(AsString(out) == big);
}

TEST(ZipArchive, FindsEntriesByExactNameOnly) {
    const ZipLayout layout =
        ZipBuilder().Add("de/hostprobe.msg", "one").Add("hostprobe.msg", "two").Add("de/hostprobe.msg", "dup").Build();
    std::unique_ptr<ZipArchive> archive;
    ASSERT_EQ(OpenBytes(layout.bytes, archive), ZipStatus::Ok);
    std::vector<uint8_t> out;
    EXPECT_EQ(archive->ReadEntry("de/hostprobe.msg", out), ZipStatus::Ok);
    EXPECT_EQ(AsString(out), "one");  // the first of two equal names
    EXPECT_EQ(archive->ReadEntry("hostprobe.msg", out), ZipStatus::Ok);
    EXPECT_EQ(AsString(out), "two");
    for (const char* missing : {"DE/hostprobe.msg", "de/HOSTPROBE.MSG", "de/hostprobe", "hostprobe.msg2",
                                "de\\hostprobe.msg", "/hostprobe.msg", "", "de/"}) {
        SCOPED_TRACE(missing);
        out.assign(3, 1);
        EXPECT_EQ(archive->FindEntry(missing), nullptr);
        EXPECT_EQ(archive->ReadEntry(missing, out), ZipStatus::NotFound);
        EXPECT_TRUE(out.empty());
    }
}

// The end record may lie at most 65517 bytes before the point 18 bytes from the end of the
// file: a comment (or trailing data) of 65513 bytes is the longest that still works.
TEST(ZipArchive, EndRecordIsSearchedBackToItsLimit) {
    for (const auto& [comment, expected] : std::vector<std::pair<size_t, ZipStatus>>{{0, ZipStatus::Ok},
                                                                                     {65513, ZipStatus::Ok},
                                                                                     {65514, ZipStatus::NoArchive},
                                                                                     {70000, ZipStatus::NoArchive}}) {
        SCOPED_TRACE(comment);
        const ZipLayout withComment = ZipBuilder().Add("x", "data").Comment(Repeated(comment, 'c')).Build();
        std::vector<uint8_t> out;
        EXPECT_EQ(ReadFrom(withComment.bytes, "x", out), expected);
        ZipLayout withTrailer = ZipBuilder().Add("x", "data").Build();
        withTrailer.bytes += Repeated(comment, '\xAB');
        EXPECT_EQ(ReadFrom(withTrailer.bytes, "x", out), expected);
    }
}

TEST(ZipArchive, EndRecordIsFoundAcrossEverySearchBlockBoundary) {
    // Trailing lengths that put the signature at every offset of the first three blocks,
    // including the four bytes two blocks share.
    const ZipLayout layout = ZipBuilder().Add("x", "data").Build();
    for (size_t trailer = 0; trailer < 3100; ++trailer) {
        std::string bytes = layout.bytes + Repeated(trailer, '\xAB');
        uint64_t position = 0;
        ASSERT_EQ(File::FindEndOfCentralDirectory(File::MemorySource(bytes), position), ZipStatus::Ok) << trailer;
        ASSERT_EQ(position, layout.endRecord) << trailer;
    }
}

TEST(ZipArchive, RecordNearestTheEndWins) {
    // A second signature in the trailing data is taken, and then fails the record checks.
    ZipLayout layout = ZipBuilder().Add("x", "data").Build();
    const std::string good = layout.bytes;
    layout.bytes += "PK\x05\x06" + Repeated(40, '\0');
    std::unique_ptr<ZipArchive> archive;
    uint64_t position = 0;
    ASSERT_EQ(File::FindEndOfCentralDirectory(File::MemorySource(layout.bytes), position), ZipStatus::Ok);
    EXPECT_EQ(position, good.size());
    EXPECT_EQ(OpenBytes(layout.bytes, archive), ZipStatus::Corrupt);
}

TEST(ZipArchive, TooSmallOrSignatureFreeFilesHoldNoArchive) {
    std::unique_ptr<ZipArchive> archive;
    for (size_t size : {0, 1, 18, 19, 22, 23, 2000}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(OpenBytes(Repeated(size, 'z'), archive), ZipStatus::NoArchive);
        EXPECT_EQ(archive, nullptr);
    }
    // An empty archive is a bare end record at offset 0: beyond the search's reach, and
    // rejected for having no entries anyway.
    const std::string empty = ZipBuilder().Build().bytes;
    EXPECT_EQ(OpenBytes(empty, archive), ZipStatus::NoArchive);
    EXPECT_EQ(OpenBytes("x" + empty, archive), ZipStatus::Corrupt);
}

struct Malformation {
    const char* name;
    std::function<void(ZipLayout&)> damage;
    ZipStatus open;  // status of opening
    ZipStatus read;  // status of reading "a.txt" when the archive opens
};

void RunMalformations(bool deflate, const std::vector<Malformation>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << (deflate ? " (deflate)" : " (stored)"));
        ZipLayout layout = TwoEntries(deflate);
        c.damage(layout);
        std::unique_ptr<ZipArchive> archive;
        ASSERT_EQ(OpenBytes(layout.bytes, archive), c.open);
        if (c.open != ZipStatus::Ok) {
            EXPECT_EQ(archive, nullptr);
            continue;
        }
        std::vector<uint8_t> out(5, 1);
        EXPECT_EQ(archive->ReadEntry("a.txt", out), c.read);
        if (c.read != ZipStatus::Ok) {
            EXPECT_TRUE(out.empty());
        }
    }
}

// Field offsets: end record +4 disk, +6 directory disk, +8 entries here, +10 entries in all,
// +12 directory size, +16 directory offset; directory header +16 CRC, +20 compressed size,
// +24 uncompressed size, +42 local header offset; local header +26 name length.
TEST(ZipArchive, RejectsInconsistentDirectories) {
    const std::vector<Malformation> cases = {
        {"disk number", [](ZipLayout& z) { PutU16(z.bytes, z.endRecord + 4, 1); }, ZipStatus::Corrupt, {}},
        {"directory disk", [](ZipLayout& z) { PutU16(z.bytes, z.endRecord + 6, 1); }, ZipStatus::Corrupt, {}},
        {"entries on this disk differ",
         [](ZipLayout& z) { PutU16(z.bytes, z.endRecord + 8, 1); },
         ZipStatus::Corrupt,
         {}},
        {"zero entries",
         [](ZipLayout& z) {
             PutU16(z.bytes, z.endRecord + 8, 0);
             PutU16(z.bytes, z.endRecord + 10, 0);
         },
         ZipStatus::Corrupt,
         {}},
        {"fewer entries than the directory holds",
         [](ZipLayout& z) {
             PutU16(z.bytes, z.endRecord + 8, 1);
             PutU16(z.bytes, z.endRecord + 10, 1);
         },
         ZipStatus::Corrupt,
         {}},
        {"more entries than the directory holds",
         [](ZipLayout& z) {
             PutU16(z.bytes, z.endRecord + 8, 3);
             PutU16(z.bytes, z.endRecord + 10, 3);
         },
         ZipStatus::Corrupt,
         {}},
        {"directory size past the record",
         [](ZipLayout& z) { PutU32(z.bytes, z.endRecord + 12, static_cast<uint32_t>(z.endRecord + 1)); },
         ZipStatus::Corrupt,
         {}},
        {"directory offset past the record",
         [](ZipLayout& z) { PutU32(z.bytes, z.endRecord + 16, static_cast<uint32_t>(z.endRecord)); },
         ZipStatus::Corrupt,
         {}},
        {"size and offset wrap in 32 bits",
         [](ZipLayout& z) {
             PutU32(z.bytes, z.endRecord + 12, 0xFFFFFFF0u);
             PutU32(z.bytes, z.endRecord + 16, 0x20);
         },
         ZipStatus::Corrupt,
         {}},
        {"directory truncated (size too short)",
         [](ZipLayout& z) { PutU32(z.bytes, z.endRecord + 12, TestSupport::GetU32(z.bytes, z.endRecord + 12) - 1); },
         ZipStatus::Corrupt,
         {}},
        {"directory header signature",
         [](ZipLayout& z) { z.bytes[z.directoryHeaders[1]] = 'Q'; },
         ZipStatus::Corrupt,
         {}},
        {"name length past the directory",
         [](ZipLayout& z) { PutU16(z.bytes, z.directoryHeaders[1] + 28, 200); },
         ZipStatus::Corrupt,
         {}},
        {"entry on another disk",
         [](ZipLayout& z) { PutU16(z.bytes, z.directoryHeaders[0] + 34, 1); },
         ZipStatus::Corrupt,
         {}},
        {"truncated file", [](ZipLayout& z) { z.bytes.resize(z.endRecord + 10); }, ZipStatus::NoArchive, {}},
    };
    RunMalformations(false, cases);
    RunMalformations(true, cases);
}

TEST(ZipArchive, RejectsEntriesWhoseDataDoesNotAddUp) {
    const auto compressedSize = [](ZipLayout& z) { return TestSupport::GetU32(z.bytes, z.directoryHeaders[0] + 20); };
    const std::vector<Malformation> common = {
        {"local header offset past the end",
         [](ZipLayout& z) { PutU32(z.bytes, z.directoryHeaders[0] + 42, 0x7FFFFFF0); }, ZipStatus::Ok,
         ZipStatus::Corrupt},
        {"local header offset inside the directory",
         [](ZipLayout& z) { PutU32(z.bytes, z.directoryHeaders[0] + 42, static_cast<uint32_t>(z.directory - 10)); },
         ZipStatus::Ok, ZipStatus::Corrupt},
        {"local header signature", [](ZipLayout& z) { z.bytes[z.localHeaders[0] + 1] = 'Q'; }, ZipStatus::Ok,
         ZipStatus::Corrupt},
        {"local name differs", [](ZipLayout& z) { z.bytes[z.localHeaders[0] + 30] = 'A'; }, ZipStatus::Ok,
         ZipStatus::Corrupt},
        {"local extra field runs into the directory",
         [](ZipLayout& z) { PutU16(z.bytes, z.localHeaders[0] + 28, 0xFFFF); }, ZipStatus::Ok, ZipStatus::Corrupt},
        {"compressed size past the directory",
         [](ZipLayout& z) { PutU32(z.bytes, z.directoryHeaders[0] + 20, 0x00FFFFFF); }, ZipStatus::Ok,
         ZipStatus::Corrupt},
        {"CRC mismatch",
         [](ZipLayout& z) {
             PutU32(z.bytes, z.directoryHeaders[0] + 16, TestSupport::GetU32(z.bytes, z.directoryHeaders[0] + 16) ^ 1);
         },
         ZipStatus::Ok, ZipStatus::Corrupt},
        {"data byte changed", [](ZipLayout& z) { z.bytes[z.localHeaders[0] + 40] ^= 0x20; }, ZipStatus::Ok,
         ZipStatus::Corrupt},
        {"encrypted", [](ZipLayout& z) { PutU16(z.bytes, z.directoryHeaders[0] + 8, 1); }, ZipStatus::Ok,
         ZipStatus::Unsupported},
        {"unknown method", [](ZipLayout& z) { PutU16(z.bytes, z.directoryHeaders[0] + 10, 12); }, ZipStatus::Ok,
         ZipStatus::Unsupported},
        {"ZIP64 sizes", [](ZipLayout& z) { PutU32(z.bytes, z.directoryHeaders[0] + 24, 0xFFFFFFFF); }, ZipStatus::Ok,
         ZipStatus::Unsupported},
    };
    RunMalformations(false, common);
    RunMalformations(true, common);

    RunMalformations(
        false, {
                   {"stored sizes differ", [](ZipLayout& z) { PutU32(z.bytes, z.directoryHeaders[0] + 24, 4999); },
                    ZipStatus::Ok, ZipStatus::Corrupt},
                   {"stored sizes both longer",
                    [&](ZipLayout& z) {
                        PutU32(z.bytes, z.directoryHeaders[0] + 20, compressedSize(z) + 8);
                        PutU32(z.bytes, z.directoryHeaders[0] + 24, compressedSize(z));
                    },
                    ZipStatus::Ok, ZipStatus::Corrupt},
               });
    RunMalformations(true,
                     {
                         {"compressed size shorter than the stream",
                          [&](ZipLayout& z) { PutU32(z.bytes, z.directoryHeaders[0] + 20, compressedSize(z) - 5); },
                          ZipStatus::Ok, ZipStatus::EndOfFile},
                         {"compressed size longer than the stream",
                          [&](ZipLayout& z) { PutU32(z.bytes, z.directoryHeaders[0] + 20, compressedSize(z) + 5); },
                          ZipStatus::Ok, ZipStatus::Corrupt},
                         {"uncompressed size longer than the stream delivers",
                          [](ZipLayout& z) { PutU32(z.bytes, z.directoryHeaders[0] + 24, 5001); }, ZipStatus::Ok,
                          ZipStatus::EndOfFile},
                         {"uncompressed size shorter than the stream delivers",
                          [](ZipLayout& z) { PutU32(z.bytes, z.directoryHeaders[0] + 24, 4999); }, ZipStatus::Ok,
                          ZipStatus::Corrupt},
                         {"uncompressed size far beyond the data",
                          [](ZipLayout& z) { PutU32(z.bytes, z.directoryHeaders[0] + 24, 0xFFFFFFF0u); }, ZipStatus::Ok,
                          ZipStatus::EndOfFile},
                         {"not a deflate stream", [](ZipLayout& z) { z.bytes[z.localHeaders[0] + 35] = '\xFF'; },
                          ZipStatus::Ok, ZipStatus::Corrupt},
                     });
}

// A source whose size promises more than it can deliver, or whose reads fail.
class FailingSource : public File::ByteSource {
public:
    FailingSource(std::string bytes, uint64_t claimedSize, ZipStatus failure)
        : inner_(std::move(bytes)), claimed_(claimedSize), failure_(failure) {}
    uint64_t Size() const override { return claimed_; }
    ZipStatus ReadAt(uint64_t offset, void* buffer, size_t size) const override {
        if (offset + size > inner_.Size()) {
            return failure_;
        }
        return inner_.ReadAt(offset, buffer, size);
    }

private:
    File::MemorySource inner_;
    uint64_t claimed_;
    ZipStatus failure_;
};

TEST(ZipArchive, ReadFailuresOfTheSourcePassThrough) {
    const ZipLayout layout = TwoEntries(true);
    for (const ZipStatus failure : {ZipStatus::EndOfFile, ZipStatus::ReadError}) {
        std::unique_ptr<ZipArchive> archive;
        EXPECT_EQ(ZipArchive::Open(std::make_unique<FailingSource>(layout.bytes, layout.bytes.size() + 100, failure),
                                   archive),
                  failure);
    }
    std::unique_ptr<ZipArchive> archive;
    EXPECT_EQ(ZipArchive::Open(nullptr, archive), ZipStatus::NotFound);
}

TEST(ZipArchive, StatusesNameTheirMessages) {
    EXPECT_EQ(File::MessageOf(ZipStatus::EndOfFile), Common::MSG_END_OF_FILE);
    EXPECT_STREQ(Common::GetMessageText(File::MessageOf(ZipStatus::EndOfFile)),
                 L"The end of the file has been reached.");
    EXPECT_EQ(File::MessageOf(ZipStatus::Corrupt), Common::MSG_FILE_CORRUPTED);
    EXPECT_EQ(File::MessageOf(ZipStatus::NotFound), Common::MSG_FILE_NOT_FOUND);
}

TEST(ZipFile, OpensArchivesInFilesOnDisk) {
    TestSupport::TempDir dir;
    ZipLayout layout = ZipBuilder().Prefix("MZ not really").Add("a.txt", SampleText(2000), true).Build();
    layout.bytes += "signature block";
    TestSupport::WriteFileBytes(dir.path() + L"carrier.exe", layout.bytes);

    std::unique_ptr<ZipArchive> archive;
    ASSERT_EQ(File::OpenZipFile(dir.path() + L"carrier.exe", archive), ZipStatus::Ok);
    std::vector<uint8_t> out;
    ASSERT_EQ(archive->ReadEntry("a.txt", out), ZipStatus::Ok);
    EXPECT_EQ(AsString(out), SampleText(2000));

    EXPECT_EQ(File::OpenZipFile(dir.path() + L"missing.exe", archive), ZipStatus::NotFound);
    EXPECT_EQ(File::OpenZipFile(dir.path() + L"no-folder\\x.exe", archive), ZipStatus::NotFound);
    TestSupport::WriteFileBytes(dir.path() + L"plain.txt", "no archive here, just text");
    EXPECT_EQ(File::OpenZipFile(dir.path() + L"plain.txt", archive), ZipStatus::NoArchive);
}

}  // namespace
