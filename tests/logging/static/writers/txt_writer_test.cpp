#include "logging/static/writers/txt_writer.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <thread>

#include "logging/channel_config.h"
#include "logging/static/writers/background_compressor.h"
#include "support/temp_dir.h"
#include "tests/logging/log_file_helpers.h"

namespace {

using TestSupport::ReadFileText;
using Files = std::map<std::string, std::string>;

class Owner : public Logging::LogWriterOwner {
public:
    void NotifyRotation() override { ++rotations; }
    void QueueText(const std::string& text) override { queued += text; }
    void QueueDebugLine(const char*, ...) override {}

    int rotations = 0;
    std::string queued;
};

// A text writer of "t.<n>.log" files in a folder of its own.
class Writer {
public:
    Writer(uint32_t maxSize, uint32_t maxFiles, uint32_t compress = 0, bool oneday = false) : home_(dir_.narrowPath()) {
        config_.Prefix = "t";
        config_.MaxSize = maxSize;
        config_.MaxFiles = maxFiles;
        config_.Compress = compress;
        config_.OneDay = oneday;
        writer_ = std::make_unique<Logging::TxtWriter>(home_, config_, owner_);
    }

    Logging::TxtWriter& Get() { return *writer_; }
    const std::string& Home() const { return home_; }
    int Rotations() const { return owner_.rotations; }

    void Write(const std::vector<std::string>& records) {
        std::string data;
        Logging::SizeList sizes;
        for (const std::string& record : records) {
            data += record;
            sizes.Push(record.size());
        }
        writer_->Write(data.data(), sizes);
    }

    // Every file of the folder with its text (gzip files inflated).
    Files Contents() {
        Files files;
        for (const std::string& name : TestSupport::FolderNames(home_)) {
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0) {
                bool valid = false;
                files[name] = TestSupport::Gunzip(home_ + name, valid);
                EXPECT_TRUE(valid) << name;
            } else {
                files[name] = ReadFileText(home_ + name);
            }
        }
        return files;
    }

    void WaitForCompression() {
        for (uint32_t i = 1; i < config_.MaxFiles; ++i) {
            Logging::BackgroundCompressor::WaitFor(writer_->GetFileName(i, true));
        }
    }

private:
    TestSupport::TempDir dir_;
    std::string home_;
    Logging::LogScopeConfig config_;
    Owner owner_;
    std::unique_ptr<Logging::TxtWriter> writer_;
};

struct ChunkProbe : Logging::LogWriter {
    using Logging::LogWriter::GetNextChunk;
};

TEST(LogWriter, NextChunkTakesWholeRecordsUpToTheLimit) {
    const struct {
        std::vector<uint64_t> sizes;
        bool crossing;
        uint64_t taken;
        size_t left;
    } cases[] = {
        {{4, 4, 4, 2}, true, 12, 1}, {{4, 4, 4, 2}, false, 8, 2}, {{3, 7, 1}, true, 10, 1}, {{3, 7, 1}, false, 3, 2},
        {{25, 2}, true, 25, 1},      {{25, 2}, false, 25, 1},     {{2, 2}, true, 4, 0},     {{}, true, 0, 0},
    };
    for (const auto& c : cases) {
        Logging::SizeList sizes;
        for (uint64_t size : c.sizes) {
            sizes.Push(size);
        }
        EXPECT_EQ(ChunkProbe::GetNextChunk(sizes, 10, c.crossing), c.taken) << c.sizes.size() << c.crossing;
        EXPECT_EQ(sizes.Count(), c.left);
    }
}

TEST(TxtWriter, OpenClosesGapsInTheNumbering) {
    const struct {
        uint32_t maxFiles;
        std::vector<int> present;
        Files after;
    } cases[] = {
        {3, {0, 2}, {{"t.0.log", "f0"}, {"t.1.log", "f2"}}},
        {5, {0, 3, 4}, {{"t.0.log", "f0"}, {"t.1.log", "f3"}, {"t.2.log", "f4"}}},
        {5, {0, 1, 3}, {{"t.0.log", "f0"}, {"t.1.log", "f1"}, {"t.2.log", "f3"}}},
        {3, {0, 2, 5}, {{"t.0.log", "f0"}, {"t.1.log", "f2"}, {"t.5.log", "f5"}}},
        {2, {0, 1}, {{"t.0.log", "f0"}, {"t.1.log", "f1"}}},
    };
    for (const auto& c : cases) {
        Writer writer(100, c.maxFiles);
        for (int n : c.present) {
            TestSupport::WriteFileText(writer.Home() + "t." + std::to_string(n) + ".log", "f" + std::to_string(n));
        }
        EXPECT_EQ(writer.Get().Open(), 0u);
        EXPECT_EQ(writer.Contents(), c.after) << c.maxFiles << " files, " << c.present.size() << " present";
    }
}

TEST(TxtWriter, FilesEndWithTheRecordThatReachesMaxSize) {
    using Batches = std::vector<std::vector<std::string>>;
    const struct {
        const char* what;
        uint32_t maxSize;
        uint32_t maxFiles;
        Batches batches;
        Files after;
        int rotations;
    } cases[] = {
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
        {"no limit",
         0xFFFFFFFF,
         3,
         {{std::string(5000, 'a')}, {std::string(5000, 'b')}},
         {{"t.0.log", std::string(5000, 'a') + std::string(5000, 'b')}},
         0},
    };
    for (const auto& c : cases) {
        Writer writer(c.maxSize, c.maxFiles);
        ASSERT_EQ(writer.Get().Open(), 0u);
        for (const auto& batch : c.batches) {
            writer.Write(batch);
        }
        EXPECT_EQ(writer.Contents(), c.after) << c.what;
        EXPECT_EQ(writer.Rotations(), c.rotations) << c.what;
    }
}

TEST(TxtWriter, FileOfAnotherDayRotatesBeforeTheBatchOnlyWithOneday) {
    for (const bool oneday : {false, true}) {
        Writer writer(0xFFFFFFFF, 3, 0, oneday);
        TestSupport::WriteFileText(writer.Home() + "t.0.log", "yesterday\n");
        ASSERT_TRUE(TestSupport::AgeFile(writer.Home() + "t.0.log", 2));
        ASSERT_EQ(writer.Get().Open(), 0u);
        writer.Write({"today\n"});
        writer.Write({"later\n"});
        const Files expected = oneday ? Files{{"t.0.log", "today\nlater\n"}, {"t.1.log", "yesterday\n"}}
                                      : Files{{"t.0.log", "yesterday\ntoday\nlater\n"}};
        EXPECT_EQ(writer.Contents(), expected) << oneday;
    }
}

TEST(TxtWriter, OnlyTheFirstWritingThreadWrites) {
    Writer writer(0xFFFFFFFF, 3);
    ASSERT_EQ(writer.Get().Open(), 0u);
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
                                                        std::to_string(other))
                  .size(),
              1u);
}

TEST(TxtWriter, FileThatCannotBeOpenedIsTriedAgainAtTheNextBatch) {
    Writer writer(0xFFFFFFFF, 3);
    const std::string folder = writer.Home() + "later\\";
    Logging::LogScopeConfig config;
    config.Prefix = "t";
    Owner owner;
    Logging::TxtWriter late(folder, config, owner);
    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    EXPECT_EQ(late.Open(), 0u);
    Logging::SizeList sizes;
    sizes.Push(8);
    late.Write("dropped\n", sizes);
    EXPECT_FALSE(TestSupport::ErrorsContaining(errors, "FileIo(" + folder + "t.0.log): open failed.").empty());
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    sizes.Clear();
    sizes.Push(5);
    late.Write("kept\n", sizes);
    EXPECT_EQ(ReadFileText(folder + "t.0.log"), "kept\n");
    std::string tail;
    EXPECT_EQ(late.ReadLog(1, tail, 0), 0);
    EXPECT_EQ(tail, "kept\n");
    EXPECT_EQ(late.ReadLog(1, tail, 1), Logging::LOGGING_RC_NO_ACCESS);
}

TEST(TxtWriter, OlderFilesAreCompressedInTheBackground) {
    Writer writer(10, 4, Logging::TxtWriter::kCompressOlderFiles);
    EXPECT_EQ(writer.Get().GetFileName(0, false), "t.0.log");
    EXPECT_EQ(writer.Get().GetFileName(2, false), "t.2.log.gz");
    ASSERT_EQ(writer.Get().Open(), 0u);
    const std::string records[] = {"aaaaaaaaa\n", "bbbbbbbbb\n", "ccccccccc\n", "ddddddddd\n", "eeeeeeeee\n"};
    for (const std::string& record : records) {
        writer.Write({record});
    }
    writer.WaitForCompression();
    // No temporary file is left.
    EXPECT_EQ(writer.Contents(), (Files{{"t.0.log", records[4]},
                                        {"t.1.log.gz", records[3]},
                                        {"t.2.log.gz", records[2]},
                                        {"t.3.log.gz", records[1]}}));
}

}  // namespace
