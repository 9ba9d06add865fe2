#include "logging/static/writers/txt_writer.h"

#include <gtest/gtest.h>

#include <tuple>

#include <map>
#include <memory>
#include <thread>

#include "logging/channel_config.h"
#include "logging/static/writers/background_compressor.h"
#include "support/time_zone.h"
#include "tests/logging/log_file_helpers.h"

namespace {

using Files = std::map<std::string, std::string>;
using Batches = std::vector<std::vector<std::string>>;

// A text writer of "t.<n>.log" files in a folder of its own (or in `sub` below it).
class Writer : public Logging::LogWriterOwner {
public:
    Writer(uint32_t maxSize, uint32_t maxFiles, uint32_t compress = 0, bool oneday = false, const char* sub = "")
        : home_(dir_.narrowPath() + sub) {
        config_.Prefix = "t";
        config_.MaxSize = maxSize;
        config_.MaxFiles = maxFiles;
        config_.Compress = compress;
        config_.OneDay = oneday;
        writer_ = std::make_unique<Logging::TxtWriter>(home_, config_, *this);
    }

    Logging::TxtWriter* operator->() { return writer_.get(); }
    const std::string& Home() const { return home_; }
    int rotations = 0;

    void Write(const std::vector<std::string>& records) {
        std::string data;
        Logging::SizeList sizes;
        for (const std::string& record : records) {
            data += record;
            sizes.Push(record.size());
        }
        writer_->Write(data.data(), sizes);
    }

    // Every file of the folder with its text, gzip files inflated (once compressed).
    Files Contents() {
        for (uint32_t i = 1; i < config_.MaxFiles; ++i) {
            Logging::BackgroundCompressor::WaitFor(writer_->GetFileName(i, true));
        }
        Files files;
        for (const std::string& name : TestSupport::FolderNames(home_)) {
            const bool packed = name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0;
            files[name] = (packed ? TestSupport::Gunzip(home_ + name) : TestSupport::Contents(home_ + name))
                              .value_or("<not gzip>");
        }
        return files;
    }

private:
    void NotifyRotation() override { ++rotations; }
    void QueueText(const std::string&) override {}
    void QueueDebugLine(const char*, ...) override {}

    TestSupport::TempDir dir_;
    std::string home_;
    Logging::LogScopeConfig config_;
    std::unique_ptr<Logging::TxtWriter> writer_;
};

struct ChunkProbe : Logging::LogWriter {
    using Logging::LogWriter::GetNextChunk;
};

TEST(LogWriter, NextChunkTakesWholeRecordsUpToTheLimit) {
    const std::tuple<std::vector<uint64_t>, bool, uint64_t, size_t> cases[] = {
        {{4, 4, 4, 2}, true, 12, 1}, {{4, 4, 4, 2}, false, 8, 2}, {{3, 7, 1}, true, 10, 1}, {{3, 7, 1}, false, 3, 2},
        {{25, 2}, true, 25, 1},      {{25, 2}, false, 25, 1},     {{2, 2}, true, 4, 0},     {{}, true, 0, 0}};
    for (const auto& [records, crossing, taken, left] : cases) {
        Logging::SizeList sizes;
        for (uint64_t size : records) {
            sizes.Push(size);
        }
        EXPECT_EQ(ChunkProbe::GetNextChunk(sizes, 10, crossing), taken) << records.size() << crossing;
        EXPECT_EQ(sizes.Count(), left);
    }
}

TEST(TxtWriter, OpenClosesGapsInTheNumbering) {
    const std::tuple<uint32_t, std::vector<int>, Files> cases[] = {
        {3, {0, 2}, {{"t.0.log", "f0"}, {"t.1.log", "f2"}}},
        {5, {0, 3, 4}, {{"t.0.log", "f0"}, {"t.1.log", "f3"}, {"t.2.log", "f4"}}},
        {5, {0, 1, 3}, {{"t.0.log", "f0"}, {"t.1.log", "f1"}, {"t.2.log", "f3"}}},
        {3, {0, 2, 5}, {{"t.0.log", "f0"}, {"t.1.log", "f2"}, {"t.5.log", "f5"}}},
        {2, {0, 2}, {{"t.0.log", "f0"}, {"t.2.log", "f2"}}},
    };
    for (const auto& [maxFiles, present, after] : cases) {
        Writer writer(100, maxFiles);
        for (int n : present) {
            TestSupport::SetContents(writer.Home() + "t." + std::to_string(n) + ".log", "f" + std::to_string(n));
        }
        EXPECT_EQ(writer->Open(), 0u);
        EXPECT_EQ(writer.Contents(), after) << maxFiles << " files, " << present.size() << " present";
    }
}

TEST(TxtWriter, FilesEndWithTheRecordThatReachesMaxSize) {
    const std::tuple<const char*, uint32_t, uint32_t, Batches, Files, int> cases[] = {
        {"a batch ending exactly at the limit is written whole, the next one rotates first",
         10,
         3,
         {{"aaaaa\n", "bbb\n"}, {"cc\n"}},
         {{"t.0.log", "cc\n"}, {"t.1.log", "aaaaa\nbbb\n"}},
         1},
        {"a crossing batch is split after the record that crosses",
         10,
         3,
         {{"aaa\n", "bbb\n", "ccc\n", "dd\n"}},
         {{"t.0.log", "dd\n"}, {"t.1.log", "aaa\nbbb\nccc\n"}},
         1},
        {"a record that reaches the limit exactly ends the file",
         10,
         3,
         {{"aaa\n", "bbbbb\n", "cc\n"}},
         {{"t.0.log", "cc\n"}, {"t.1.log", "aaa\nbbbbb\n"}},
         1},
        {"a record larger than maxSize is alone in its file",
         10,
         3,
         {{"aaaaa\n", "bbb\n"}, {"0123456789\n", "cc\n"}},
         {{"t.0.log", "cc\n"}, {"t.1.log", "0123456789\n"}, {"t.2.log", "aaaaa\nbbb\n"}},
         2},
        {"the oldest file goes",
         10,
         2,
         {{"aaaaaaaaa\n"}, {"bbbbbbbbb\n"}, {"c\n"}},
         {{"t.0.log", "c\n"}, {"t.1.log", "bbbbbbbbb\n"}},
         2},
        {"with one file a rotation starts it again", 10, 1, {{"aaaaa\n", "bbb\n"}, {"cc\n"}}, {{"t.0.log", "cc\n"}}, 1},
        {"no limit", 0xFFFFFFFF, 3, {{std::string(5000, 'a')}, {"b"}}, {{"t.0.log", std::string(5000, 'a') + "b"}}, 0},
        {"older files compressed",
         10,
         4,
         {{"aaaaaaaaa\n"}, {"bbbbbbbbb\n"}, {"ccccccccc\n"}, {"ddddddddd\n"}, {"e\n"}},
         {{"t.0.log", "e\n"},
          {"t.1.log.gz", "ddddddddd\n"},
          {"t.2.log.gz", "ccccccccc\n"},
          {"t.3.log.gz", "bbbbbbbbb\n"}},
         4},
    };
    for (const auto& [what, maxSize, maxFiles, batches, after, rotations] : cases) {
        Writer writer(maxSize, maxFiles, std::string(what) == "older files compressed" ? 2 : 0);
        ASSERT_EQ(writer->Open(), 0u);
        for (const auto& batch : batches) {
            writer.Write(batch);
        }
        // No temporary file of the compression is left either.
        EXPECT_EQ(writer.Contents(), after) << what;
        EXPECT_EQ(writer.rotations, rotations) << what;
    }
}

TEST(TxtWriter, FileOfAnEarlierLocalDayRotatesBeforeTheBatchOnlyWithOneday) {
    const TestSupport::MiddayTimeZone zone;
    const int64_t midnight = zone.Midnight();
    // The last second of yesterday and the first of today, local time.
    const std::tuple<bool, int64_t, bool> cases[] = {
        {false, midnight - 1, false}, {true, midnight - 1, true}, {true, midnight, false}};
    for (const auto& [oneday, written, rotates] : cases) {
        Writer writer(0xFFFFFFFF, 3, 0, oneday);
        TestSupport::SetContents(writer.Home() + "t.0.log", "earlier\n");
        ASSERT_TRUE(TestSupport::SetWriteTime(writer.Home() + "t.0.log", written));
        ASSERT_EQ(writer->Open(), 0u);
        writer.Write({"today\n"});
        writer.Write({"later\n"});
        const Files expected = rotates ? Files{{"t.0.log", "today\nlater\n"}, {"t.1.log", "earlier\n"}}
                                       : Files{{"t.0.log", "earlier\ntoday\nlater\n"}};
        EXPECT_EQ(writer.Contents(), expected) << oneday << " " << written;
    }
}

TEST(TxtWriter, OnlyTheFirstWritingThreadWrites) {
    Writer writer(0xFFFFFFFF, 3);
    ASSERT_EQ(writer->Open(), 0u);
    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    writer.Write({"first\n"});
    uint64_t other = 0;
    std::thread([&] {
        other = ::GetCurrentThreadId();
        writer.Write({"lost\n"});
    }).join();
    writer.Write({"second\n"});
    EXPECT_EQ(writer.Contents(), (Files{{"t.0.log", "first\nsecond\n"}}));
    EXPECT_EQ(TestSupport::ErrorsContaining(errors, "TxtWriter: Multi-threaded access detected! Expected thread " +
                                                        std::to_string(::GetCurrentThreadId()) + ", got " +
                                                        std::to_string(other)),
              1u);
}

TEST(TxtWriter, FileThatCannotBeOpenedIsTriedAgainAtTheNextBatch) {
    Writer writer(0xFFFFFFFF, 3, 0, false, "later\\");
    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    EXPECT_EQ(writer->Open(), 0u);
    writer.Write({"dropped\n"});
    EXPECT_EQ(TestSupport::ErrorsContaining(errors, "FileIo(" + writer.Home() + "t.0.log): open failed."), 2u);
    ASSERT_TRUE(::CreateDirectoryA(writer.Home().c_str(), nullptr));
    writer.Write({"kept\n", "too\n"});
    std::string tail;
    EXPECT_EQ(writer->ReadLog(1, tail, 0), 0);
    EXPECT_EQ(tail, "too\n");
    EXPECT_EQ(writer->ReadLog(1, tail, 1), Logging::LOGGING_RC_NO_ACCESS);
}

}  // namespace
