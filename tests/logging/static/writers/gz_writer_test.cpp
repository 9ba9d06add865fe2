// The gzip writer on real files: chunks and their trailers, repairing damaged tails, rotation,
// reading the log back, and the single writing thread.

#include "logging/static/writers/gz_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <tuple>

#include "core/common/assert.h"
#include "core/common/handles.h"
#include "logging/channel_config.h"
#include "logging/result_codes.h"
#include "logging/static/writers/fake_owner.h"
#include "logging/static/writers/gz_files.h"
#include "support/file_state.h"
#include "support/log_capture.h"
#include "support/time_zone.h"

namespace {

using Logging::GzWriter;
using TestSupport::GzSplit;
using TestSupport::ReadFileBytes;
using TestSupport::SplitMembers;

constexpr size_t kChunk = GzWriter::CHUNK_SIZE;

// Records of exactly `width` bytes ending in a line feed, numbered from `first`; a record's
// text depends only on its number and width.
std::vector<std::string> Records(size_t count, size_t width = 100, size_t first = 0) {
    std::vector<std::string> records;
    for (size_t i = first; i < first + count; ++i) {
        uint32_t seed = static_cast<uint32_t>(i * 2654435761u + width);
        char head[32];
        std::string record(head, std::snprintf(head, sizeof head, "r%07zu ", i));
        while (record.size() + 1 < width) {
            seed = seed * 1103515245u + 12345u;
            record += "0123456789abcdef"[(seed >> 16) & 15];
        }
        records.push_back(record + "\n");
    }
    return records;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        text += part;
    }
    return text;
}

// What the chunks of a file written with `records` and closed must hold: a chunk ends with the
// record that brings it to CHUNK_SIZE or beyond, and the chunk in progress at the close ends
// the file, empty or not.
std::vector<std::string> ExpectedChunks(const std::vector<std::string>& records) {
    std::vector<std::string> chunks;
    std::string current;
    for (const std::string& record : records) {
        current += record;
        if (current.size() >= kChunk) {
            chunks.push_back(current);
            current.clear();
        }
    }
    chunks.push_back(current);
    return chunks;
}

std::vector<std::string> MemberTexts(const GzSplit& split) {
    std::vector<std::string> texts;
    for (const auto& member : split.members) {
        texts.push_back(member.text);
    }
    return texts;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

class GzFiles : public ::testing::Test {
protected:
    GzFiles() {
        config.Prefix = "t";
        config.MaxSize = 0xFFFFFFFF;
        config.MaxFiles = 10;
        config.Compress = 1;
    }

    // Starts again in an empty folder; no writer may be open.
    void NewFolder() {
        dir = std::make_unique<TestSupport::TempDir>();
        home = dir->narrowPath();
    }
    std::unique_ptr<GzWriter> Open(Logging::LogWriterOwner* other = nullptr) {
        auto writer = std::make_unique<GzWriter>(home, config, other != nullptr ? *other : owner);
        EXPECT_EQ(writer->Open(), 0u);
        return writer;
    }
    std::wstring Path(uint32_t index) const { return dir->path() + L"t." + std::to_wstring(index) + L".log.gz"; }
    bool Exists(uint32_t index) const { return ::GetFileAttributesW(Path(index).c_str()) != INVALID_FILE_ATTRIBUTES; }

    static void Write(GzWriter& writer, const std::vector<std::string>& records) {
        const std::string data = Join(records);
        Logging::SizeList sizes;
        for (const std::string& record : records) {
            sizes.Push(record.size());
        }
        writer.Write(data.data(), sizes);
    }

    // Every member intact, nothing after the last, and gzread agrees; with a sample name, the
    // file is also left for the native check.
    GzSplit ReadComplete(uint32_t index, const std::string& sample = std::string()) {
        const std::string bytes = ReadFileBytes(Path(index));
        GzSplit split = SplitMembers(bytes);
        EXPECT_EQ(split.rest, 0u) << "bytes after the last complete member";
        for (const auto& member : split.members) {
            EXPECT_EQ(TestSupport::Le32(bytes, member.offset + member.size - 8), TestSupport::Crc32(member.text));
            EXPECT_EQ(TestSupport::Le32(bytes, member.offset + member.size - 4), member.text.size());
        }
        bool complete = false;
        EXPECT_EQ(TestSupport::GzReadAll(Path(index), &complete), TestSupport::JoinTexts(split));
        EXPECT_TRUE(complete);
        if (!sample.empty()) {
            TestSupport::KeepSample(Path(index), sample, TestSupport::JoinTexts(split));
        }
        return split;
    }

    std::unique_ptr<TestSupport::TempDir> dir = std::make_unique<TestSupport::TempDir>();
    std::string home = dir->narrowPath();
    Logging::LogScopeConfig config;
    TestSupport::FakeOwner owner{true};
};

TEST_F(GzFiles, ChunksEndWithTheRecordThatReachesChunkSizeAndKeepRecordsWhole) {
    auto writer = Open();
    const std::vector<std::string> small = Records(5);
    Write(*writer, small);
    writer.reset();
    EXPECT_EQ(MemberTexts(ReadComplete(0)), std::vector<std::string>{Join(small)});

    // Batches cut anywhere; two records that alone exceed the room left, one larger than a chunk.
    std::vector<std::string> records = Records(1500, 100, 5);
    records.insert(records.begin() + 900, Records(1, 70000, 900000)[0]);
    records.insert(records.begin() + 200, Records(1, 3 * kChunk, 800000)[0]);
    writer = Open();
    EXPECT_TRUE(owner.texts.empty());
    const size_t cuts[] = {0, 1, 38, 650, 657, 1200, records.size()};
    for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
        Write(*writer, std::vector<std::string>(records.begin() + cuts[i], records.begin() + cuts[i + 1]));
    }
    writer.reset();
    std::vector<std::string> expected = ExpectedChunks(records);
    expected.insert(expected.begin(), Join(small));
    EXPECT_EQ(MemberTexts(ReadComplete(0, "chunks")), expected);
}

TEST_F(GzFiles, FlushEndsTheChunkOnlyWhenItHoldsText) {
    auto writer = Open();
    Write(*writer, Records(3));
    writer->Flush();
    writer->Flush();
    Write(*writer, Records(2, 100, 3));
    writer.reset();
    EXPECT_EQ(MemberTexts(ReadComplete(0)), (std::vector<std::string>{Join(Records(3)), Join(Records(2, 100, 3))}));

    // A writer closed before writing leaves an empty member, which the next one drops again.
    const size_t size = ReadFileBytes(Path(0)).size();
    Open().reset();
    const std::string bytes = ReadFileBytes(Path(0));
    ASSERT_EQ(bytes.size(), size + 20);
    EXPECT_EQ(TestSupport::Le32(bytes, size + 16), 0u);
    writer = Open();
    EXPECT_EQ(ReadFileBytes(Path(0)).size(), size);
}

// ---- Repairing the tail of an existing file ----

// A file damaged as a test case needs it, and what the check must make of it.
struct Expect {
    std::string file;
    size_t kept;  // bytes of the file left as they were
    std::string restored;
    std::vector<std::string> debug;
};

std::string Inflatable(const std::string& bytes, size_t from) {
    std::string text;
    size_t consumed = 0;
    TestSupport::InflateMember(bytes, from, text, consumed);
    return text;
}

std::vector<std::string> Head(const std::string& file) {
    const uint32_t size = static_cast<uint32_t>(file.size());
    return {"@@ size of file " + Hex(size),
            "@@ verifying chunks in last " + Hex(size < 0x20000 ? size : 0x20000) + " bytes"};
}

// The lines for one chunk analysed, and the truncation behind it unless it was valid.
std::vector<std::string> operator+(std::vector<std::string> lines,
                                   const std::tuple<size_t, size_t, std::string>& chunk) {
    const auto& [offset, inflated, verdict] = chunk;
    for (const std::string& line : {"@@ analyzing chunk at " + Hex(static_cast<uint32_t>(offset)),
                                    "@@ InflateLastChunk returned " + std::to_string(inflated), verdict}) {
        lines.push_back(line);
    }
    if (verdict != "@@ chunk is valid") {
        lines.push_back("@@ truncate file to size " + Hex(static_cast<uint32_t>(offset)));
    }
    return lines;
}

// What the trailer read at the end of a damaged file says.
std::string Footer(const std::string& file) {
    return "@@ length is not equal to specified in footer: " +
           std::to_string(static_cast<int32_t>(TestSupport::Le32(file, file.size() - 4)));
}

const std::string kValid = "@@ chunk is valid";

// The last of three chunks cut at `end`; the one before is intact.
Expect CutLast(const std::string& clean, const GzSplit& s, size_t end) {
    const std::string file = clean.substr(0, end);
    const size_t last = s.members[2].offset;
    const std::string restored = Inflatable(file, last);
    return {file, last, restored,
            Head(file) + std::make_tuple(last, restored.size(), Footer(file)) +
                std::make_tuple(s.members[1].offset, s.members[1].text.size(), kValid)};
}

// The file cut at `end` inside its first chunk.
Expect CutFirst(const std::string& clean, size_t end) {
    const std::string file = clean.substr(0, end);
    return {file, 0, "", Head(file) + std::make_tuple(size_t{0}, Inflatable(file, 0).size(), Footer(file))};
}

const struct {
    const char* name;
    bool bigChunk;  // one chunk of incompressible text, too large for the window; else three chunks
    Expect (*damage)(const std::string& clean, const GzSplit& s);
} kDamages[] = {
    {"cut in the middle of the last chunk's data", false,
     [](const std::string& c, const GzSplit& s) { return CutLast(c, s, s.members[2].offset + s.members[2].size / 2); }},
    {"cut in the middle of the last trailer", false,
     [](const std::string& c, const GzSplit& s) { return CutLast(c, s, c.size() - 4); }},
    {"cut at a chunk boundary", false,
     [](const std::string& c, const GzSplit& s) {
         const std::string file = c.substr(0, s.members[2].offset);
         return Expect{file, file.size(), "",
                       Head(file) + std::make_tuple(s.members[1].offset, s.members[1].text.size(), kValid)};
     }},
    {"empty member after the last chunk", false,
     [](const std::string& c, const GzSplit& s) {
         const std::string file = c + TestSupport::GzipMember("");
         return Expect{file, c.size(), "",
                       Head(file) + std::make_tuple(c.size(), size_t{0}, std::string("@@ drop empty chunk")) +
                           std::make_tuple(s.members[2].offset, s.members[2].text.size(), kValid)};
     }},
    {"corrupt CRC in the last trailer", false,
     [](const std::string& c, const GzSplit& s) {
         std::string file = c;
         file[file.size() - 8] ^= 0x10;  // zlib refuses the whole chunk: nothing of it can be restored
         return Expect{file, s.members[2].offset, "",
                       Head(file) + std::make_tuple(s.members[2].offset, size_t{0}, Footer(file)) +
                           std::make_tuple(s.members[1].offset, s.members[1].text.size(), kValid)};
     }},
    {"damaged first chunk", false,
     [](const std::string& c, const GzSplit& s) { return CutFirst(c, s.members[0].size / 2); }},
    {"18 bytes", false,
     [](const std::string& c, const GzSplit&) {
         return Expect{c.substr(0, 18), 0, "", {"@@ size of file 00000012"}};
     }},
    {"19 bytes", false, [](const std::string& c, const GzSplit&) { return CutFirst(c, 19); }},
    {"no header in the last 128 KiB", true,
     [](const std::string& c, const GzSplit&) {
         return Expect{c, 0, "", Head(c)};
     }},
};

// Random printable text, which deflate cannot shrink much.
std::string Incompressible(size_t size) {
    std::string text;
    for (uint32_t seed = 7; text.size() + 1 < size;) {
        seed = seed * 1103515245u + 12345u;
        text += static_cast<char>(33 + (seed >> 16) % 94);
    }
    return text + "\n";
}

TEST_F(GzFiles, DamagedTailIsCutAndWhatCanBeInflatedIsWrittenBackBetweenMarkers) {
    for (const auto& damage : kDamages) {
        for (const bool debug : {true, false}) {
            SCOPED_TRACE(std::string(damage.name) + (debug ? " with OF_DEBUG" : ""));
            NewFolder();
            {
                TestSupport::FakeOwner quiet;
                auto writer = Open(&quiet);
                Write(*writer, damage.bigChunk ? std::vector<std::string>{Incompressible(0x30000)} : Records(1500));
            }
            const std::string original = ReadFileBytes(Path(0));
            GzSplit split = SplitMembers(original);
            if (split.members.back().text.empty()) {  // left by the close; a crash leaves none
                split.members.pop_back();
            }
            ASSERT_EQ(split.members.size(), damage.bigChunk ? 1u : 3u);
            const std::string clean = original.substr(0, split.members.back().offset + split.members.back().size);
            const Expect expect = damage.damage(clean, split);
            TestSupport::WriteFileBytes(Path(0), expect.file);

            TestSupport::FakeOwner repairOwner(debug);
            auto writer = Open(&repairOwner);
            EXPECT_EQ(ReadFileBytes(Path(0)), clean.substr(0, expect.kept));
            const std::vector<std::string> markers{"\n------ begin of restored log ------\n", expect.restored,
                                                   "\n------ end of restored log ------\n"};
            EXPECT_EQ(repairOwner.texts, expect.restored.empty() ? std::vector<std::string>{} : markers);
            EXPECT_EQ(repairOwner.debugLines, debug ? expect.debug : std::vector<std::string>{});

            // Writing goes on behind what was kept, with what the back-end was asked to queue first.
            const std::string queued = Join(repairOwner.queued);
            repairOwner.Drain(*writer);
            Write(*writer, Records(3, 100, 9000));
            writer.reset();
            std::string keptText;
            for (const auto& member : split.members) {
                keptText += member.offset + member.size <= expect.kept ? member.text : "";
            }
            const GzSplit repaired = ReadComplete(0, debug ? "repair-" + std::to_string(&damage - kDamages) : "");
            EXPECT_EQ(TestSupport::JoinTexts(repaired), keptText + queued + Join(Records(3, 100, 9000)));
        }
    }
}

// ---- Rotation ----

TEST_F(GzFiles, SizeLimitIsCheckedAtChunkEnds) {
    const std::vector<std::string> records = Records(3 * 656 + 100);  // three full chunks and a part
    const std::vector<std::string> chunks = ExpectedChunks(records);
    ASSERT_EQ(chunks.size(), 4u);
    struct Case {
        uint32_t maxSize;
        uint32_t maxFiles;
        int rotations;
        std::vector<std::vector<std::string>> files;  // chunks of file 0, 1, ...
    };
    const Case cases[] = {
        {1, 10, 3, {{chunks[3]}, {chunks[2]}, {chunks[1]}, {chunks[0]}}},
        {1, 2, 3, {{chunks[3]}, {chunks[2]}}},
        {0xFFFFFFFF, 10, 0, {chunks}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("maxSize " + std::to_string(c.maxSize) + ", maxFiles " + std::to_string(c.maxFiles));
        NewFolder();
        config.MaxSize = c.maxSize;
        config.MaxFiles = c.maxFiles;
        owner.rotations = 0;
        auto writer = Open();
        Write(*writer, records);
        writer.reset();
        EXPECT_EQ(owner.rotations, c.rotations);
        for (uint32_t i = 0; i < c.files.size(); ++i) {
            EXPECT_EQ(MemberTexts(ReadComplete(i, c.maxSize == 1 ? "rotated-" + std::to_string(i) : "")), c.files[i])
                << "file " << i;
        }
        EXPECT_FALSE(Exists(static_cast<uint32_t>(c.files.size())));
    }
}

TEST_F(GzFiles, DayChangeRotatesAtTheFirstChunkEndOfTheNewDay) {
    config.OneDay = true;
    const TestSupport::MiddayTimeZone zone;
    const int64_t midnight = zone.Midnight();
    // The file was last written in the last second of yesterday or the first of today, local time.
    for (const int64_t written : {midnight - 1, midnight}) {
        const bool yesterday = written < midnight;
        NewFolder();
        owner.rotations = 0;
        auto writer = Open();
        Write(*writer, Records(10));
        writer.reset();
        ASSERT_TRUE(TestSupport::SetWriteTime(home + "t.0.log.gz", written));
        writer = Open();
        Write(*writer, Records(5, 100, 10));  // the chunk is still empty: it joins the old file
        EXPECT_EQ(owner.rotations, 0);
        Write(*writer, Records(5, 100, 15));
        EXPECT_EQ(owner.rotations, yesterday ? 1 : 0);
        Write(*writer, Records(5, 100, 20));
        writer->Flush();
        EXPECT_EQ(owner.rotations, yesterday ? 1 : 0);
        writer.reset();
        if (yesterday) {
            EXPECT_EQ(MemberTexts(ReadComplete(1)),
                      (std::vector<std::string>{Join(Records(10)), Join(Records(5, 100, 10))}));
            EXPECT_EQ(MemberTexts(ReadComplete(0)), (std::vector<std::string>{Join(Records(10, 100, 15)), ""}));
        } else {
            EXPECT_EQ(MemberTexts(ReadComplete(0)),
                      (std::vector<std::string>{Join(Records(10)), Join(Records(15, 100, 10)), ""}));
            EXPECT_FALSE(Exists(1));
        }
    }
}

// ---- Reading ----

TEST_F(GzFiles, ReadLogGivesTheLastLinesAcrossChunks) {
    auto writer = Open();
    const std::vector<std::string> records = Records(1400);  // three chunks
    Write(*writer, records);
    writer->Flush();
    const std::string all = Join(records);
    struct Case {
        uint32_t lines;
        std::string out;
    };
    const Case cases[] = {
        {0, all},    {1, records.back()}, {700, Join({records.end() - 700, records.end()})},
        {1400, all}, {1401, all},         {0xFFFFFFFF, all},
    };
    for (const Case& c : cases) {
        std::string out = "stale";
        EXPECT_EQ(writer->ReadLog(c.lines, out, 0), Logging::LOGGING_RC_NOERROR);
        EXPECT_EQ(out, c.out) << c.lines;
    }

    config.MaxSize = 1;  // as a property changed at run time: the next chunk end rotates
    Write(*writer, Records(1, 100, 1400));
    writer->Flush();
    EXPECT_EQ(owner.rotations, 1);
    std::string out;
    // The control side reads from a thread of its own.
    std::thread reader([&] { EXPECT_EQ(writer->ReadLog(701, out, 1), Logging::LOGGING_RC_NOERROR); });
    reader.join();
    EXPECT_EQ(out, Join(Records(701, 100, 700)));
    out = "stale";
    EXPECT_EQ(writer->ReadLog(0, out, 0), Logging::LOGGING_RC_NOERROR);
    EXPECT_EQ(out, "");
    out = "stale";
    EXPECT_EQ(writer->ReadLog(0, out, 7), Logging::LOGGING_RC_NO_ACCESS);
    EXPECT_EQ(out, "");
}

// ---- Failures ----

std::vector<std::string> g_assertions;

void CollectAssertion(int32_t, uint16_t, uint16_t, const char* text) {
    g_assertions.emplace_back(text);
}

bool Reported(const std::string& expression) {
    for (const std::string& text : g_assertions) {
        if (text.find("Assertion failed: " + expression + ", file logging/static/gz_writer") == 0) {
            return true;
        }
    }
    return false;
}

TEST_F(GzFiles, OnlyTheFirstWritingThreadMayWriteOrFlush) {
    // Only to the hook: a stack trace takes seconds under Wine. Read at the first assertion.
    _putenv("TOVALIN_SAFE_ASSERT=event");
    auto writer = Open();
    Write(*writer, Records(2));
    std::string data = Join(Records(2, 100, 50));
    Logging::SizeList sizes;
    sizes.Push(100);
    sizes.Push(100);
    const Common::AssertionTraceHook previous = Common::SetAssertionTraceHook(CollectAssertion);
    std::thread other([&] {
        writer->Write(data.data(), sizes);
        writer->Flush();
    });
    other.join();
    Common::SetAssertionTraceHook(previous);
    EXPECT_TRUE(Reported("!ThreadId || ThreadId == id"));
    EXPECT_TRUE(Reported("!ThreadId || ThreadId == GetCurrentThreadId()"));
    EXPECT_EQ(sizes.Count(), 2u);  // the batch was refused whole
    g_assertions.clear();
    Write(*writer, Records(2, 100, 2));
    writer.reset();
    EXPECT_EQ(MemberTexts(ReadComplete(0)), std::vector<std::string>{Join(Records(4))});
}

bool Captured(const TestSupport::LogCapture& capture, const std::string& text) {
    for (const std::string& entry : capture.Texts()) {
        if (entry.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST_F(GzFiles, FileThatCannotBeOpenedDropsBatchesUntilAFlushOpensIt) {
    TestSupport::LogCapture errors("logging-trace");
    {
        // Another process writing the file keeps it from being opened.
        Common::UniqueFileHandle holder(::CreateFileW(Path(0).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                                      nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(holder.valid());
        auto writer = Open();
        EXPECT_TRUE(Captured(errors, "gzWriter(t.0.log.gz): failed to open log: Permission denied"));
        Write(*writer, Records(3));
        writer->Flush();
        holder.reset();
        writer->Flush();
        Write(*writer, Records(3, 100, 3));
    }
    EXPECT_EQ(MemberTexts(ReadComplete(0)), std::vector<std::string>{Join(Records(3, 100, 3))});

    home = dir->narrowPath() + "missing\\";
    Open().reset();
    EXPECT_TRUE(Captured(errors, "GzWriter(t.0.log.gz): failed to create log file: No such file or directory"));
}

}  // namespace
