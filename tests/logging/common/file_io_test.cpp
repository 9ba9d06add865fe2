#include "logging/common/file_io.h"

#include <gtest/gtest.h>
#include <io.h>

#include <future>
#include <thread>

#include "logging/result_codes.h"
#include "tests/logging/log_file_helpers.h"

namespace {

using TestSupport::Contents;
using TestSupport::ErrorsContaining;

// A file of its own, "<path>" and "<path>.bak".
class TestFile : public Logging::FileIo {
public:
    explicit TestFile(std::string path) : path_(std::move(path)) {}
    std::string GetPath(uint32_t index) override { return index == 0 ? path_ : path_ + ".bak"; }

private:
    std::string path_;
};

TEST(FileIo, SecondWriterRetriesUntilTheTimeOutAndGetsTheFileOnceReleased) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "held.log";
    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    TestFile holder(path);
    ASSERT_TRUE(holder.Open(false, 0));
    holder.Write("held\n", 5);
    EXPECT_EQ(Contents(path), "held\n");  // others may read it meanwhile

    TestFile second(path);
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(second.Open(true, 300));
    EXPECT_GE(::GetTickCount() - start, 250u) << "it gave up before the time-out";
    EXPECT_EQ(ErrorsContaining(errors, "FileIo(" + path + "): open failed. Error 13"), 1u);

    std::future<bool> opened = std::async(std::launch::async, [&] { return second.Open(true, 20000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    holder.Close();
    ASSERT_TRUE(opened.get());
    second.Write("appended\n", 9);
    second.Close();
    EXPECT_EQ(Contents(path), "held\nappended\n");
    ASSERT_TRUE(second.Open(false, 0));  // not appending: truncated
    second.Close();
    EXPECT_EQ(Contents(path), "");
}

TEST(FileIo, ReadsTheLastLinesOfItsFiles) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "tail.log";
    const std::string longLine(5000, 'x');  // read as a piece of 4095 characters and the rest
    const std::string all = "1\n2\n3\n" + longLine + "\n4\n";
    TestSupport::SetContents(path, all);
    TestSupport::SetContents(path + ".bak", "old\n");
    TestFile file(path);
    const std::pair<uint32_t, std::string> cases[] = {
        {0, all}, {1, "4\n"}, {2, longLine.substr(4095) + "\n4\n"}, {3, longLine + "\n4\n"}, {6, all}, {100, all}};
    for (const auto& [lines, expected] : cases) {
        std::string out = "stale";
        EXPECT_EQ(file.ReadTail(lines, out, 0), 0);
        EXPECT_EQ(out, expected) << lines << " lines";
    }
    std::string out = "stale";
    EXPECT_EQ(file.ReadTail(0, out, 1), 0);
    EXPECT_EQ(out, "old\n");
    EXPECT_EQ(TestFile(path + ".none").ReadTail(0, out, 0), Logging::LOGGING_RC_NO_ACCESS);
    EXPECT_EQ(out, "");
}

TEST(FileIo, DuplicatedDescriptorOutlivesTheOriginal) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "dup.log";
    TestFile file(path);
    ASSERT_TRUE(file.Open(true, 0));
    file.Write("first\n", 6);
    const int copy = Logging::FileIo::DuplicateFd(file.Descriptor(), "dup.log");
    ASSERT_NE(copy, -1);
    file.Close();
    EXPECT_EQ(_write(copy, "second\n", 7), 7);
    EXPECT_EQ(_close(copy), 0);
    EXPECT_EQ(Contents(path), "first\nsecond\n");

    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    EXPECT_EQ(Logging::FileIo::DuplicateFd(-1, "none"), -1);
    EXPECT_EQ(ErrorsContaining(errors, "FileIo(none): failed to get OS handle of the file: 9"), 1u);
}

TEST(FileIo, LinkWhereTheDirectoryShouldBeIsNeverWrittenThrough) {
    TestSupport::TempDir dir;
    const TestSupport::LinkedFolder folder = TestSupport::MakeLinkedFolder(dir.narrowPath());
    const std::string& logs = folder.logs;
    const std::string& target = folder.target;
    const bool junction = folder.junction;
    if (logs.empty()) {
        GTEST_SKIP() << "no junction and no host-side link";
    }
    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    TestFile file(logs + "\\io.log");
    EXPECT_EQ(file.Open(true, 0), junction);
    EXPECT_EQ(ErrorsContaining(errors, "Symlink found " + logs), 1u);
    if (junction) {
        // The junction made way for a real directory.
        file.Write("mine\n", 5);
        file.Close();
        EXPECT_EQ(::GetFileAttributesA(logs.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        EXPECT_EQ(Contents(logs + "\\io.log"), "mine\n");
    } else {
        // A host link whose target is not empty cannot be removed there: the open fails.
        EXPECT_EQ(ErrorsContaining(errors, "Cannot remove " + logs + ", "), 1u);
        EXPECT_EQ(ErrorsContaining(errors, "FileIo(" + logs + "\\io.log): open failed. Error 13"), 1u);
    }
    EXPECT_EQ(TestSupport::FolderNames(target + "\\"), std::vector<std::string>{"keep"});
}

}  // namespace
