// The file-folder back-end: the scanner's pruning by age and count, its start and stop, and
// the files of target and single-file mode.

#include "logging/static/backends/file_folder_backend.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "logging/logging_manager.h"
#include "support/file_state.h"
#include "support/log_capture.h"
#include "support/thread_count.h"

namespace {

using Logging::LoggingManager;
using Names = std::set<std::string>;

Names FilesIn(const TestSupport::TempDir& dir) {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

void MakeFile(const std::string& path, const std::string& bytes, uint64_t minutesOld = 0) {
    TestSupport::SetContents(path, bytes);
    TestSupport::SetMinutesSinceWrite(path, minutesOld);
}

Logging::FileFolderConfig Folder(const TestSupport::TempDir& dir, uint32_t maxFiles, uint32_t maxAge) {
    Logging::FileFolderConfig config;
    config.Folder = dir.narrowPath();
    config.Prefix = "app-";
    config.Extension = "log";
    config.MaxFiles = maxFiles;
    config.MaxAge = maxAge;
    config.Flags = 0x44;  // "I00000000: <text>" and CR LF
    return config;
}

std::string Property(const char* name) {
    std::string value;
    return LoggingManager::Instance().GetProperty("ff", name, value) == 0 ? value : "(none)";
}

TEST(FileFolderScanner, DeletesFilesOverTheAgeInWholeHoursAndTheOldestBeyondTheCount) {
    const struct {
        uint32_t maxFiles, maxAge;
        std::vector<std::pair<const char*, uint64_t>> files;  // name, minutes since the last write
        Names left;
        const char* count;
    } cases[] = {
        {0xFFFFFFFF,
         24,
         {{"app-old.log", 25 * 60}, {"app-young.log", 24 * 60 + 59}, {"other.log", 99 * 60}},
         {"app-young.log", "other.log"},
         "0"},
        {3,
         0xFFFFFFFF,
         {{"app-1.log", 300}, {"app-2.log", 240}, {"app-3.log", 180}, {"app-4.log", 120}, {"app-5.log", 60}},
         {"app-3.log", "app-4.log", "app-5.log"},
         "3"},
    };
    for (const auto& c : cases) {
        TestSupport::TempDir dir;
        for (const auto& [name, minutes] : c.files) {
            MakeFile(dir.narrowPath() + name, "x", minutes);
        }
        ASSERT_EQ(LoggingManager::Instance().TuneChannel("ff", Folder(dir, c.maxFiles, c.maxAge)), 0);
        // The first scan runs as the scanner starts; a faulty one never gets there.
        for (const ULONGLONG end = ::GetTickCount64() + 10000;
             (FilesIn(dir) != c.left || Property("count") != c.count) && ::GetTickCount64() < end;) {
            ::Sleep(10);
        }
        EXPECT_EQ(FilesIn(dir), c.left);
        EXPECT_EQ(Property("count"), c.count);
        SYSTEMTIME today;
        ::GetLocalTime(&today);
        EXPECT_NE(Property("activity").find(std::to_string(today.wYear)), std::string::npos) << Property("activity");
        const ULONGLONG before = ::GetTickCount64();
        LoggingManager::Instance().RemoveChannel("ff");
        EXPECT_LT(::GetTickCount64() - before, 5000u) << "the scanner waits 30 s between looks at its clock";
    }
}

TEST(FileFolderScanner, RunsOnlyWithALimit) {
    TestSupport::TempDir dir;
    const size_t threads = TestSupport::ThreadsOfThisProcess();
    for (const auto& [maxFiles, maxAge, scanners] :
         {std::tuple<uint32_t, uint32_t, size_t>{0xFFFFFFFF, 0xFFFFFFFF, 0}, {5, 0xFFFFFFFF, 1}, {0xFFFFFFFF, 24, 1}}) {
        ASSERT_EQ(LoggingManager::Instance().TuneChannel("ff", Folder(dir, maxFiles, maxAge)), 0);
        EXPECT_EQ(TestSupport::ThreadsOfThisProcess(), threads + scanners) << maxFiles << " " << maxAge;
        LoggingManager::Instance().RemoveChannel("ff");
    }
}

TEST(FileFolderBackend, TargetsNameTheirFilesAndStartAgainAtTheLimit) {
    TestSupport::TempDir dir;
    const std::string folder = dir.narrowPath(), line = "I00000000: text\r\n";
    MakeFile(folder + "app-full.log", std::string(1000, 'f'));
    MakeFile(folder + "app-almost.log", std::string(999, 'a'));
    Logging::FileFolderConfig config = Folder(dir, 0xFFFFFFFF, 0xFFFFFFFF);
    config.MaxSize = 1000;
    TestSupport::LogCapture trace(Logging::kSelfTraceChannel);
    ASSERT_EQ(LoggingManager::Instance().TuneChannel("ff", config), 0);
    EXPECT_EQ(trace.Texts().at(0), "I00000000: CreateChannel: ff (filefolder)");
    for (const char* channel : {"ff#full", "ff#almost", "ff#new", "ff"}) {
        Logging::Log(Logging::TraceLocation{"tests/file_folder", "Test", 1}, Logging::INFORMATION, channel, "text");
    }
    EXPECT_EQ(FilesIn(dir), Names({"app-almost.log", "app-full.log", "app-new.log"}));
    EXPECT_EQ(TestSupport::ReadFileBytes(dir.path() + L"app-full.log"), line);
    EXPECT_EQ(TestSupport::ReadFileBytes(dir.path() + L"app-almost.log"), std::string(999, 'a') + line);
    EXPECT_EQ(TestSupport::ReadFileBytes(dir.path() + L"app-new.log"), line);
    EXPECT_EQ(Property("active") + Property("homeDir"), "0" + folder);
    std::string name;
    Logging::FileFolderBackend backend("");
    EXPECT_EQ(backend.MakeTargetName("ff", "abc", name), 0);
    EXPECT_EQ(name, "ff#abc");
    LoggingManager::Instance().RemoveChannel("ff");
}

TEST(FileFolderBackend, TheSingleFileStartsEmptyAtEveryStart) {
    TestSupport::TempDir dir;
    Logging::FileFolderConfig config = Folder(dir, 0xFFFFFFFF, 0xFFFFFFFF);
    config.File = "single-{pid}.log";
    const std::string path = dir.narrowPath() + "single-" + std::to_string(::GetCurrentProcessId()) + ".log";
    for (const char* text : {"first", "second"}) {
        ASSERT_EQ(LoggingManager::Instance().TuneChannel("ff", config), 0);
        Logging::Log(Logging::TraceLocation{"tests/file_folder", "Test", 1}, Logging::INFORMATION, "ff", "%s", text);
        EXPECT_EQ(TestSupport::ReadFileBytes(TestSupport::Widen(path)), "I00000000: " + std::string(text) + "\r\n");
    }
    EXPECT_EQ(Property("active") + Property("file"), "1" + path);
    config.Folder.clear();
    EXPECT_EQ(LoggingManager::Instance().TuneChannel("ff", config), Logging::LOGGING_RC_INVALID_PARAM);
    LoggingManager::Instance().RemoveChannel("ff");
}

}  // namespace
