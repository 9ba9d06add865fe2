#include "logging/common/file_io.h"

#include <gtest/gtest.h>
#include <io.h>

#include <future>
#include <thread>

#include "logging/result_codes.h"
#include "support/junction.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "tests/logging/log_file_helpers.h"

namespace {

using TestSupport::ReadFileText;

// A file of its own, "<path>" and "<path>.bak".
class TestFile : public Logging::FileIo {
public:
    explicit TestFile(std::string path) : path_(std::move(path)) {}
    std::string GetPath(uint32_t index) override { return index == 0 ? path_ : path_ + ".bak"; }

private:
    std::string path_;
};

TEST(FileIo, AppendsOrTruncatesAndReopensAfterClose) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "a.log";
    TestFile file(path);
    ASSERT_TRUE(file.Open(true, 0));
    file.Write("one\n", 4);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    ASSERT_TRUE(file.Open(true, 0));
    file.Write("two\n", 4);
    file.Close();
    EXPECT_EQ(ReadFileText(path), "one\ntwo\n");
    ASSERT_TRUE(file.Open(false, 0));
    file.Write("three\n", 6);
    file.Close();
    EXPECT_EQ(ReadFileText(path), "three\n");
}

TEST(FileIo, SecondWriterWaitsForTheTimeOutThenGetsTheFileOnceReleased) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "held.log";
    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    TestFile holder(path);
    ASSERT_TRUE(holder.Open(true, 0));
    // Others may read the file while it is held.
    holder.Write("held\n", 5);
    EXPECT_EQ(ReadFileText(path), "held\n");

    TestFile second(path);
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(second.Open(true, 300));
    EXPECT_GE(::GetTickCount() - start, 250u) << "it gave up before the time-out";
    EXPECT_EQ(TestSupport::ErrorsContaining(errors, "open failed").size(), 1u);
    EXPECT_EQ(TestSupport::ErrorsContaining(errors, "FileIo(" + path + "): open failed. Error 13").size(), 1u);

    std::future<bool> opened = std::async(std::launch::async, [&] { return second.Open(true, 20000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    holder.Close();
    ASSERT_TRUE(opened.get());
    second.Write("second\n", 7);
    second.Close();
    EXPECT_EQ(ReadFileText(path), "held\nsecond\n");
}

TEST(FileIo, ReadsTheLastLinesOfItsFiles) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "tail.log";
    const std::string longLine(5000, 'x');  // read as a piece of 4095 characters and the rest
    TestSupport::WriteFileText(path, "1\n2\n3\n" + longLine + "\n4\n");
    TestSupport::WriteFileText(path + ".bak", "old\n");
    TestFile file(path);
    const std::pair<uint32_t, std::string> cases[] = {
        {0, "1\n2\n3\n" + longLine + "\n4\n"},  {1, "4\n"},
        {2, longLine.substr(4095) + "\n4\n"},   {3, longLine + "\n4\n"},
        {6, "1\n2\n3\n" + longLine + "\n4\n"},  {7, "1\n2\n3\n" + longLine + "\n4\n"},
        {100, "1\n2\n3\n" + longLine + "\n4\n"}};
    for (const auto& [lines, expected] : cases) {
        std::string out = "stale";
        EXPECT_EQ(file.ReadTail(lines, out, 0), 0);
        EXPECT_EQ(out, expected) << lines << " lines";
    }
    std::string out;
    EXPECT_EQ(file.ReadTail(0, out, 1), 0);
    EXPECT_EQ(out, "old\n");
    TestFile missing(dir.narrowPath() + "missing.log");
    out = "stale";
    EXPECT_EQ(missing.ReadTail(0, out, 0), Logging::LOGGING_RC_NO_ACCESS);
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
    ASSERT_NE(copy, file.Descriptor());
    file.Close();
    EXPECT_EQ(_write(copy, "second\n", 7), 7);
    EXPECT_EQ(Logging::FileIo::GetFileTime(copy) > 0, true);
    EXPECT_EQ(_close(copy), 0);
    EXPECT_EQ(ReadFileText(path), "first\nsecond\n");

    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    EXPECT_EQ(Logging::FileIo::DuplicateFd(-1, "none"), -1);
    EXPECT_EQ(TestSupport::ErrorsContaining(errors, "FileIo(none): failed to get OS handle of the file: 9").size(), 1u);
}

TEST(FileIo, JunctionInPlaceOfTheDirectoryIsReplacedByARealOne) {
    TestSupport::TempDir dir;
    const std::string target = dir.narrowPath() + "elsewhere";
    const std::string logs = dir.narrowPath() + "logs";
    ASSERT_TRUE(::CreateDirectoryA(target.c_str(), nullptr));
    if (!TestSupport::MakeJunction(TestSupport::Widen(logs), TestSupport::Widen(target))) {
        GTEST_SKIP() << "the file system made no junction (FSCTL_SET_REPARSE_POINT failed: " << ::GetLastError() << ")";
    }
    ASSERT_EQ(::GetFileAttributesA(logs.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, FILE_ATTRIBUTE_REPARSE_POINT);
    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    TestFile file(logs + "\\app.log");
    ASSERT_TRUE(file.Open(true, 0));
    file.Write("mine\n", 5);
    file.Close();
    EXPECT_EQ(TestSupport::ErrorsContaining(errors, "Symlink found " + logs).size(), 1u);
    const DWORD attributes = ::GetFileAttributesA(logs.c_str());
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(ReadFileText(logs + "\\app.log"), "mine\n");
    EXPECT_TRUE(TestSupport::FolderNames(target + "\\").empty()) << "the file went through the link";
}

TEST(FileIo, LinkThatCannotBeRemovedFailsTheOpen) {
    // Where no junction can be made, the test's fixture makes a host-side symbolic link
    // "logs" to a folder that is not empty.
    const char* link = std::getenv("HP_TEST_LINK");
    if (link == nullptr) {
        GTEST_SKIP() << "no host-side link (HP_TEST_LINK)";
    }
    const std::string logs = link;
    const std::string target = logs.substr(0, logs.find_last_of('\\')) + "\\target\\";
    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    TestFile file(logs + "\\io.log");
    EXPECT_FALSE(file.Open(true, 0));
    EXPECT_EQ(TestSupport::ErrorsContaining(errors, "Symlink found " + logs).size(), 1u);
    EXPECT_EQ(TestSupport::ErrorsContaining(errors, "Cannot remove " + logs + ", ").size(), 1u);
    EXPECT_EQ(TestSupport::ErrorsContaining(errors, "FileIo(" + logs + "\\io.log): open failed. Error 13").size(), 1u);
    EXPECT_EQ(TestSupport::FolderNames(target), std::vector<std::string>{"keep"});
}

}  // namespace
