#include "logging/static/backends/file_backend.h"

#include <gtest/gtest.h>

#include <regex>

#include "logging/common/platform.h"
#include "logging/logging_manager.h"
#include "support/junction.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "tests/logging/log_file_helpers.h"

namespace {

using TestSupport::FileExists;
using TestSupport::ReadFileText;

Logging::LoggingManager& M() {
    return Logging::LoggingManager::Instance();
}

// Records logged with flags 0 are their text and "\n".
void LogLine(const char* channel, const std::string& text, int32_t level = Logging::INFORMATION) {
    Logging::Log(Logging::TraceLocation{"tests/file_backend", "Test", 1}, level, channel, "%s", text.c_str());
}

std::string Property(const char* channel, const char* name) {
    std::string value = "unset";
    const int32_t rc = M().GetProperty(channel, name, value);
    return rc == 0 ? value : "rc=" + std::to_string(rc);
}

// A file channel writing `file`, lines without decoration.
class FileChannel {
public:
    FileChannel(const char* name, const std::string& file, uint32_t maxSize, bool oneday = false) : name_(name) {
        config_.File = file;
        config_.MaxSize = maxSize;
        config_.OneDay = oneday;
        config_.Flags = 0;
        rc_ = M().TuneChannel(name, config_);
    }
    ~FileChannel() { M().RemoveChannel(name_); }
    int32_t Rc() const { return rc_; }

private:
    const char* name_;
    Logging::FileConfig config_;
    int32_t rc_;
};

TEST(FileBackend, RotatesIntoTheBackupOnlyOnceARecordTakesTheFileOverMaxSize) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "rot.log";
    TestSupport::WriteFileText(path + ".bak", "older backup\n");
    FileChannel channel("fb.rotation", path, 10);
    ASSERT_EQ(channel.Rc(), 0);
    LogLine("fb.rotation", "12345");  // 6 bytes
    LogLine("fb.rotation", "678");    // exactly 10: no rotation
    EXPECT_EQ(ReadFileText(path), "12345\n678\n");
    EXPECT_EQ(ReadFileText(path + ".bak"), "older backup\n");
    LogLine("fb.rotation", "");  // 11: written, then rotated, the old backup replaced
    EXPECT_EQ(ReadFileText(path + ".bak"), "12345\n678\n\n");
    EXPECT_EQ(ReadFileText(path), "");
    LogLine("fb.rotation", std::string(24, 'x'));  // larger than maxSize on its own
    EXPECT_EQ(ReadFileText(path + ".bak"), std::string(24, 'x') + "\n");
    EXPECT_EQ(ReadFileText(path), "");
    LogLine("fb.rotation", "after");
    EXPECT_EQ(ReadFileText(path), "after\n");
}

TEST(FileBackend, NoLimitNeverRotates) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "big.log";
    FileChannel channel("fb.unlimited", path, 0xFFFFFFFF);
    for (int i = 0; i < 50; ++i) {
        LogLine("fb.unlimited", std::string(1000, 'a'));
    }
    EXPECT_EQ(ReadFileText(path).size(), 50u * 1001);
    EXPECT_FALSE(FileExists(path + ".bak"));
}

TEST(FileBackend, FileFromAnotherDayRotatesAfterTheFirstRecordOnlyWithOneday) {
    for (const bool oneday : {false, true}) {
        TestSupport::TempDir dir;
        const std::string path = dir.narrowPath() + "day.log";
        TestSupport::WriteFileText(path, "yesterday\n");
        ASSERT_TRUE(TestSupport::AgeFile(path, 2));
        FileChannel channel("fb.day", path, 0xFFFFFFFF, oneday);
        LogLine("fb.day", "today");
        EXPECT_EQ(ReadFileText(path), oneday ? "" : "yesterday\ntoday\n") << oneday;
        EXPECT_EQ(ReadFileText(path + ".bak"), oneday ? "yesterday\ntoday\n" : "") << oneday;
        LogLine("fb.day", "later");
        EXPECT_EQ(ReadFileText(path), oneday ? "later\n" : "yesterday\ntoday\nlater\n") << oneday;
    }
}

TEST(FileBackend, PathsAreResolvedAgainstTheHomeDirectoryUnlessAbsolute) {
    const struct {
        const char* home;
        const char* file;
        const char* path;
    } cases[] = {
        {"C:\\home", "app.log", "C:\\home\\app.log"},
        {"C:\\home\\", "sub\\app.log", "C:\\home\\sub\\app.log"},
        {"C:\\home", "D:\\logs\\app.log", "D:\\logs\\app.log"},
        {"C:\\home", "D:app.log", "D:app.log"},
        {"C:\\home", "\\logs\\app.log", "\\logs\\app.log"},
        {"C:\\home", "/logs/app.log", "/logs/app.log"},
        {"C:\\home", "{target}-{pid}.log", nullptr},
    };
    for (const auto& c : cases) {
        Logging::FileBackend backend(c.home);
        Logging::FileConfig config;
        config.Enabled = false;  // nothing is opened
        config.File = c.file;
        ASSERT_EQ(backend.SetConfig("fb.paths", config), 0);
        const std::string expected =
            c.path != nullptr ? c.path : "C:\\home\\0-" + std::to_string(::GetCurrentProcessId()) + ".log";
        std::string value;
        EXPECT_EQ(backend.GetProperty("log-file-0", value), 0);
        EXPECT_EQ(value, expected) << c.file;
        EXPECT_EQ(backend.GetProperty("log-file-1", value), 0);
        EXPECT_EQ(value, expected + ".bak") << c.file;
        EXPECT_EQ(backend.GetProperty("log-file-2", value), Logging::LOGGING_RC_NO_SUCH_PROPERTY);
        EXPECT_EQ(backend.GetProperty("homeDir", value), 0);
        EXPECT_EQ(value, c.home);
    }
    // Without a home directory of its own the executable's directory is used.
    Logging::FileBackend backend;
    Logging::FileConfig config;
    config.Enabled = false;
    ASSERT_EQ(backend.SetConfig("fb.exe", config), 0);
    std::string home;
    backend.GetProperty("homeDir", home);
    const std::wstring module = TestSupport::ModuleDirectory();
    EXPECT_EQ(home + "\\", std::string(module.begin(), module.end()));
}

TEST(FileBackend, MacrosInTheFileNameAreExpandedAndAnEmptyNameTakesTheChannels) {
    TestSupport::TempDir dir;
    const std::string base = Logging::Platform::ExecutableBaseName();
    {
        FileChannel channel("fb.macros", dir.narrowPath() + "{pname}-{pid}-{date}.log", 0xFFFFFFFF);
        LogLine("fb.macros", "expanded");
        const std::string path = Property("fb.macros", "log-file-0");
        const std::regex expected(std::regex_replace(dir.narrowPath(), std::regex(R"(\\)"), R"(\\)") + base + "-" +
                                  std::to_string(::GetCurrentProcessId()) + R"(-\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d\.log)");
        EXPECT_TRUE(std::regex_match(path, expected)) << path;
        EXPECT_EQ(ReadFileText(path), "expanded\n");
    }
    Logging::FileBackend backend(dir.narrowPath());
    Logging::FileConfig config;
    config.Flags = 0;
    ASSERT_EQ(backend.SetConfig("fb.unnamed", config), 0);
    std::string value;
    backend.GetProperty("file", value);
    EXPECT_EQ(value, "fb.unnamed.log");
    backend.Close();
    EXPECT_TRUE(FileExists(dir.narrowPath() + "fb.unnamed.log"));
}

TEST(FileBackend, PropertiesAndReadingTheCurrentAndBackupFiles) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "props.log";
    FileChannel channel("fb.props", path, 20);
    const std::pair<const char*, std::string> reads[] = {{"append", "1"},
                                                         {"active", "1"},
                                                         {"oneday", "0"},
                                                         {"maxSize", "20"},
                                                         {"file", path},
                                                         {"number-of-logs", "2"},
                                                         {"log-file-1", path + ".bak"}};
    for (const auto& [name, value] : reads) {
        EXPECT_EQ(Property("fb.props", name), value) << name;
    }
    EXPECT_EQ(M().SetProperty("fb.props", "maxSize", "12"), 0);
    EXPECT_EQ(M().SetProperty("fb.props", "active", "0"), Logging::LOGGING_RC_READ_ONLY);
    EXPECT_EQ(M().SetProperty("fb.props", "file", "x.log"), Logging::LOGGING_RC_READ_ONLY);
    for (const char* text : {"one", "two", "three", "four"}) {
        LogLine("fb.props", text);
    }
    // "one two three" went over 12 bytes and into the backup.
    std::string current;
    std::string backup;
    EXPECT_EQ(ReadFileText(path), "four\n");
    EXPECT_EQ(ReadFileText(path + ".bak"), "one\ntwo\nthree\n");

    Logging::FileBackend reader(dir.narrowPath());
    Logging::FileConfig config;
    config.Enabled = false;
    config.File = "props.log";
    ASSERT_EQ(reader.SetConfig("fb.reader", config), 0);
    EXPECT_EQ(reader.ReadLog(2, backup, 1), 0);
    EXPECT_EQ(backup, "two\nthree\n");
    EXPECT_EQ(reader.ReadLog(0, current, 0), 0);
    EXPECT_EQ(current, "four\n");
    EXPECT_EQ(reader.ReadLog(0, current, 2), Logging::LOGGING_RC_NO_ACCESS);
    std::string active;
    reader.GetProperty("active", active);
    EXPECT_EQ(active, "0");  // a disabled channel opens nothing
}

// The folder a host-side symbolic link "logs" stands in, when the test runs where no junction
// can be made (the test's fixture makes it); empty otherwise.
std::string HostLink() {
    const char* link = std::getenv("HP_TEST_LINK");
    return link != nullptr ? link : "";
}

TEST(FileBackend, JunctionWhereTheDirectoryShouldBeIsReplacedBeforeTheFileIsCreated) {
    TestSupport::TempDir dir;
    const std::string target = dir.narrowPath() + "elsewhere";
    const std::string logs = dir.narrowPath() + "logs";
    ASSERT_TRUE(::CreateDirectoryA(target.c_str(), nullptr));
    if (!TestSupport::MakeJunction(TestSupport::Widen(logs), TestSupport::Widen(target))) {
        GTEST_SKIP() << "the file system made no junction (error " << ::GetLastError() << ")";
    }
    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    FileChannel channel("fb.junction", logs + "\\app.log", 0xFFFFFFFF);
    LogLine("fb.junction", "real");
    EXPECT_EQ(TestSupport::ErrorsContaining(errors, "Symlink found " + logs).size(), 1u);
    EXPECT_EQ(::GetFileAttributesA(logs.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_EQ(ReadFileText(logs + "\\app.log"), "real\n");
    EXPECT_TRUE(TestSupport::FolderNames(target + "\\").empty());
}

TEST(FileBackend, LinkThatCannotBeRemovedIsNeverWrittenThrough) {
    const std::string link = HostLink();
    if (link.empty()) {
        GTEST_SKIP() << "no host-side link (HP_TEST_LINK)";
    }
    const std::string target = link.substr(0, link.find_last_of('\\')) + "\\target\\";
    const std::vector<std::string> before = TestSupport::FolderNames(target);
    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    FileChannel channel("fb.link", link + "\\app.log", 0xFFFFFFFF);
    LogLine("fb.link", "never");
    // Its target is not empty, so the link cannot go: the file is not opened.
    EXPECT_FALSE(TestSupport::ErrorsContaining(errors, "Symlink found " + link).empty());
    EXPECT_FALSE(TestSupport::ErrorsContaining(errors, "Cannot remove " + link + ", ").empty());
    EXPECT_FALSE(TestSupport::ErrorsContaining(errors, "FileIo(" + link + "\\app.log): open failed. Error 13").empty());
    EXPECT_EQ(TestSupport::FolderNames(target), before);
}

}  // namespace
