#include "logging/static/backends/file_backend.h"

#include <gtest/gtest.h>

#include <tuple>

#include <regex>

#include "logging/common/platform.h"
#include "logging/logging_manager.h"
#include "support/time_zone.h"
#include "tests/logging/log_file_helpers.h"

namespace {

using TestSupport::Contents;

Logging::LoggingManager& M() {
    return Logging::LoggingManager::Instance();
}

// Records logged with flags 0 are their text and "\n".
void LogLine(const char* channel, const std::string& text) {
    Logging::Log(Logging::TraceLocation{"tests/file_backend", "Test", 1}, Logging::INFORMATION, channel, "%s",
                 text.c_str());
}

std::string Property(const char* channel, const char* name) {
    std::string value;
    const int32_t rc = M().GetProperty(channel, name, value);
    return rc == 0 ? value : "rc=" + std::to_string(rc);
}

// A file channel writing `file`, lines without decoration, removed at the end of the scope.
struct FileChannel {
    FileChannel(const char* name, const std::string& file, uint32_t maxSize, bool oneday = false) : name(name) {
        Logging::FileConfig config;
        config.File = file;
        config.MaxSize = maxSize;
        config.OneDay = oneday;
        config.Flags = 0;
        rc = M().TuneChannel(name, config);
    }
    ~FileChannel() { M().RemoveChannel(name); }
    const char* name;
    int32_t rc;
};

TEST(FileBackend, RotatesIntoTheBackupOnlyOnceARecordTakesTheFileOverMaxSize) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "rot.log";
    TestSupport::SetContents(path + ".bak", "older backup\n");
    FileChannel channel("fb.rotation", path, 10);
    ASSERT_EQ(channel.rc, 0);
    const struct {
        std::string record;
        const char* file;
        const char* backup;
    } steps[] = {
        {"12345", "12345\n", "older backup\n"},
        {"678", "12345\n678\n", "older backup\n"},                 // exactly maxSize: stays
        {"", "", "12345\n678\n\n"},                                // one byte over: written, then rotated
        {std::string(24, 'x'), "", "xxxxxxxxxxxxxxxxxxxxxxxx\n"},  // larger than maxSize alone
        {"after", "after\n", "xxxxxxxxxxxxxxxxxxxxxxxx\n"},
    };
    for (const auto& step : steps) {
        LogLine("fb.rotation", step.record);
        EXPECT_EQ(Contents(path), step.file) << step.record;
        EXPECT_EQ(Contents(path + ".bak"), step.backup) << step.record;
    }
}

TEST(FileBackend, FileOfAnEarlierLocalDayRotatesAfterTheFirstRecordOnlyWithOneday) {
    const TestSupport::MiddayTimeZone zone;
    const int64_t midnight = zone.Midnight();
    // The last second of yesterday and the first of today, local time.
    const std::tuple<bool, int64_t, bool> cases[] = {
        {false, midnight - 1, false}, {true, midnight - 1, true}, {true, midnight, false}};
    for (const auto& [oneday, written, rotates] : cases) {
        TestSupport::TempDir dir;
        const std::string path = dir.narrowPath() + "day.log";
        TestSupport::SetContents(path, "earlier\n");
        ASSERT_TRUE(TestSupport::SetWriteTime(path, written));
        FileChannel channel("fb.day", path, 0xFFFFFFFF, oneday);
        LogLine("fb.day", "today");
        LogLine("fb.day", "later");
        EXPECT_EQ(Contents(path), rotates ? "later\n" : "earlier\ntoday\nlater\n") << oneday << " " << written;
        EXPECT_EQ(Contents(path + ".bak"), rotates ? TestSupport::FileBytes("earlier\ntoday\n") : std::nullopt);
    }
}

TEST(FileBackend, NamesAreResolvedAgainstTheHomeDirectoryUnlessAbsolute) {
    const std::string pid = std::to_string(::GetCurrentProcessId());
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {"C:\\home", "app.log", "C:\\home\\app.log"},
        {"C:\\home\\", "sub\\app.log", "C:\\home\\sub\\app.log"},
        {"C:\\home", "D:\\logs\\app.log", "D:\\logs\\app.log"},
        {"C:\\home", "D:app.log", "D:app.log"},
        {"C:\\home", "\\logs\\app.log", "\\logs\\app.log"},
        {"C:\\home", "/logs/app.log", "/logs/app.log"},
        {"C:\\home", "{target}-{pid}.log", "C:\\home\\0-" + pid + ".log"},
        {"", "app.log", Logging::Platform::ExecutableDirectory() + "\\app.log"},
    };
    for (const auto& [home, file, path] : cases) {
        Logging::FileBackend backend(home);
        Logging::FileConfig config;
        config.Enabled = false;  // nothing is opened
        config.File = file;
        ASSERT_EQ(backend.SetConfig("fb.paths", config), 0);
        std::string value;
        EXPECT_EQ(backend.GetProperty("log-file-0", value), 0);
        EXPECT_EQ(value, path) << file;
        EXPECT_EQ(backend.GetProperty("log-file-1", value), 0);
        EXPECT_EQ(value, path + ".bak") << file;
        EXPECT_EQ(backend.GetProperty("log-file-2", value), Logging::LOGGING_RC_NO_SUCH_PROPERTY);
    }
}

TEST(FileBackend, PropertiesMacrosAndReadingBothFiles) {
    TestSupport::TempDir dir;
    {
        FileChannel dated("fb.macros", dir.narrowPath() + "{pname}-{pid}-{date}.log", 12);
        const std::string path = Property("fb.macros", "log-file-0");
        const std::string prefix = dir.narrowPath() + Logging::Platform::ExecutableBaseName() + "-" +
                                   std::to_string(::GetCurrentProcessId()) + "-";
        EXPECT_EQ(path.substr(0, prefix.size()), prefix);
        EXPECT_TRUE(std::regex_match(path.substr(prefix.size()), std::regex(R"(\d{4}(-\d\d){5}\.log)"))) << path;
    }
    FileChannel channel("fb.props", dir.narrowPath() + "props.log", 12);
    const std::pair<const char*, std::string> reads[] = {{"append", "1"},
                                                         {"active", "1"},
                                                         {"oneday", "0"},
                                                         {"maxSize", "12"},
                                                         {"file", dir.narrowPath() + "props.log"},
                                                         {"number-of-logs", "2"}};
    for (const auto& [name, value] : reads) {
        EXPECT_EQ(Property("fb.props", name), value) << name;
    }
    EXPECT_EQ(M().SetProperty("fb.props", "active", "0"), Logging::LOGGING_RC_READ_ONLY);
    EXPECT_EQ(M().SetProperty("fb.props", "file", "x.log"), Logging::LOGGING_RC_READ_ONLY);
    for (const char* text : {"one", "two", "three", "four"}) {
        LogLine("fb.props", text);
    }
    Logging::FileBackend reader(dir.narrowPath());
    Logging::FileConfig config;
    config.Enabled = false;
    config.File = "props.log";
    ASSERT_EQ(reader.SetConfig("fb.reader", config), 0);
    std::string text;
    EXPECT_EQ(reader.ReadLog(2, text, 1), 0);
    EXPECT_EQ(text, "two\nthree\n");
    EXPECT_EQ(reader.ReadLog(0, text, 0), 0);
    EXPECT_EQ(text, "four\n");
    reader.GetProperty("active", text);
    EXPECT_EQ(text, "0");  // a disabled channel opens nothing
    // An empty file name takes the channel's.
    config.File.clear();
    ASSERT_EQ(reader.SetConfig("fb.unnamed", config), 0);
    reader.GetProperty("file", text);
    EXPECT_EQ(text, "fb.unnamed.log");
}

TEST(FileBackend, LinkWhereTheDirectoryShouldBeIsReplacedOrRefused) {
    TestSupport::TempDir dir;
    const TestSupport::LinkedFolder folder = TestSupport::MakeLinkedFolder(dir.narrowPath());
    const std::string& logs = folder.logs;
    const std::string& target = folder.target;
    const bool junction = folder.junction;
    if (logs.empty()) {
        GTEST_SKIP() << "no junction and no host-side link";
    }
    TestSupport::LogCapture errors(Logging::kSelfTraceChannel);
    {
        FileChannel channel("fb.link", logs + "\\app.log", 0xFFFFFFFF);
        LogLine("fb.link", "real");
    }
    EXPECT_GE(TestSupport::ErrorsContaining(errors, "Symlink found " + logs), 1u);
    EXPECT_EQ(Contents(logs + "\\app.log"), junction ? TestSupport::FileBytes("real\n") : std::nullopt);
    EXPECT_EQ(TestSupport::FolderNames(target + "\\"), std::vector<std::string>{"keep"});
}

}  // namespace
