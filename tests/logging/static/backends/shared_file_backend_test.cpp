// The shared-file back-end: writer processes racing on one file, the rotation that must stay
// right while others write and rotate, the open time-out, and the names of its files.

#include "logging/static/backends/shared_file_backend.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "core/common/handles.h"
#include "logging/logging_manager.h"
#include "support/file_state.h"
#include "support/log_capture.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using Optional = TestSupport::FileBytes;
using Strings = std::vector<std::string>;
using TestSupport::Contents;
using TestSupport::SetContents;
const Optional kNone;

std::wstring ChildPath() {
    return TestSupport::ModuleDirectory() + L"logging_shared_file_child.exe";
}

struct OpenFile : Logging::FileIo {
    std::string GetPath(uint32_t) override { return std::string(); }
};
const Logging::FileIdentity kUnknown;

// What "logging-trace" received about files.
Strings FileMessages(const TestSupport::LogCapture& trace) {
    Strings messages;
    for (const std::string& text : trace.Texts()) {
        if (text.find("File") != std::string::npos && text.find("CreateChannel") == std::string::npos) {
            messages.push_back(text);
        }
    }
    return messages;
}

void LogTo(const char* channel, const char* text) {
    Logging::Log(Logging::TraceLocation{"tests/shared_file", "Test", 1}, Logging::INFORMATION, channel, "%s", text);
}

Logging::SharedFileConfig SharedFile(const std::string& file, uint32_t maxSize, bool oneDay = false) {
    Logging::SharedFileConfig config;
    config.File = file;
    config.MaxSize = maxSize;
    config.OneDay = oneDay;
    config.Flags = 0x44;  // "I00000000: <text>" and CR LF
    return config;
}

// Each writer appends records "p<id> r<n>"; what is left in ".bak" and the file must be, per
// writer, its latest records in order, each once and whole. With one rotation that is all of them.
TEST(SharedFileProcesses, WritersLeaveTheirLatestRecordsInOrderAndWhole) {
    // Lines of about 62 bytes: 20,000 of them cross 756,000 once; 40,000 cross 100,000 two dozen times.
    const struct {
        int writers, count;
        uint32_t maxSize;
        size_t left;  // at least this many records per writer
    } cases[] = {{2, 10000, 756000, 10000}, {4, 10000, 100000, 0}};
    for (const auto& c : cases) {
        TestSupport::TempDir dir;
        const std::string file = dir.narrowPath() + "shared.log";
        std::vector<std::thread> threads;
        for (int id = 0; id < c.writers; ++id) {
            threads.emplace_back([&, id] {
                EXPECT_EQ(TestSupport::RunProcess(ChildPath(),
                                                  {L"write", TestSupport::Widen(file), std::to_wstring(c.maxSize),
                                                   std::to_wstring(id), std::to_wstring(c.count)})
                              .exitCode,
                          0u);
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        const std::string bytes = Contents(file + ".bak").value_or("") + Contents(file).value_or("");
        // Every rotation moves a file over the limit; rotating one twice would leave a small one.
        EXPECT_GT(Contents(file + ".bak").value_or("").size(), c.maxSize);
        std::map<int, std::vector<int>> records;
        for (size_t start = 0, end; start < bytes.size(); start = end + 2) {
            end = std::min(bytes.find("\r\n", start), bytes.size());
            const std::string line = bytes.substr(start, end - start);
            int id = -1, n = -1;
            char expected[80] = "";
            if (std::sscanf(line.c_str(), "I00000000: p%d r%d", &id, &n) == 2) {
                std::snprintf(expected, sizeof expected, "I00000000: p%d r%d %s", id, n, std::string(40, '-').c_str());
            }
            EXPECT_TRUE(line == expected && end < bytes.size()) << "torn line: " << line;
            records[id].push_back(n);
        }
        for (int id = 0; id < c.writers; ++id) {
            const std::vector<int>& numbers = records[id];
            EXPECT_GE(numbers.size(), c.left) << "writer " << id;
            for (size_t i = 0; i < numbers.size(); ++i) {
                ASSERT_EQ(numbers[i], c.count - static_cast<int>(numbers.size() - i)) << "writer " << id;
            }
        }
    }
}

// Each case starts from the files as another process left them, with the judgement this process
// made after its own record; only a file still due is moved.
TEST(SharedFileRotation, MovesOnlyTheFileThatIsStillDueOnceHeld) {
    enum Day { kNoDay, kCurrent, kBackup };  // the file found written on an earlier day
    const struct {
        const char* what;
        Optional current, backup;
        uint32_t maxSize;
        Day day;
        Optional currentAfter, backupAfter;
    } cases[] = {
        {"over size", "abcd", kNone, 3, kNoDay, kNone, "abcd"},
        {"over size, the old backup goes", "abcd", "old", 3, kNoDay, kNone, "abcd"},
        {"exactly at the limit", "abc", "old", 3, kNoDay, "abc", "old"},
        {"rotated by another, then written", "x", "abcd", 3, kNoDay, "x", "abcd"},
        {"rotated by another, not written since", kNone, "abcd", 3, kNoDay, kNone, "abcd"},
        {"still the file of an earlier day", "x", "old", 0xFFFFFFFF, kCurrent, kNone, "x"},
        {"that file rotated by another", "y", "x", 0xFFFFFFFF, kBackup, "y", "x"},
    };
    for (const auto& c : cases) {
        TestSupport::TempDir dir;
        const std::string path = dir.narrowPath() + "r.log";
        SetContents(path, c.current);
        SetContents(path + ".bak", c.backup);
        OpenFile judged;
        const bool found = c.day != kNoDay && judged.Open(true, 0, (c.day == kCurrent ? path : path + ".bak").c_str());
        const Logging::FileIdentity day = found ? Logging::IdentityOfDescriptor(judged.Descriptor()) : kUnknown;
        judged.Close();
        TestSupport::LogCapture trace(Logging::kSelfTraceChannel);
        Logging::RotateSharedFile(path, path + ".bak", c.maxSize, day, 0);
        EXPECT_EQ(Contents(path), c.currentAfter) << c.what;
        EXPECT_EQ(Contents(path + ".bak"), c.backupAfter) << c.what;
        EXPECT_EQ(FileMessages(trace), Strings()) << c.what;
    }
}

TEST(SharedFileRotation, AFileThatCannotBeMovedKeepsItsRecords) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "r.log", backup = path + ".bak";
    SetContents(path, "abcd");
    SetContents(backup, "old");
    TestSupport::LogCapture trace(Logging::kSelfTraceChannel);
    for (const std::string& read : {path, backup}) {  // a reader shares writing, not deleting
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> reader(std::fopen(read.c_str(), "r"), &std::fclose);
        Logging::RotateSharedFile(path, backup, 3, kUnknown, 0);
    }
    EXPECT_EQ(Contents(path), "abcd");
    EXPECT_EQ(Contents(backup), "old");
    const std::string rename =
        "C00000000: SharedFileBackend: unable to rename " + path + " to " + backup + ". error 13";
    EXPECT_EQ(FileMessages(trace),
              Strings({rename, "C00000000: SharedFileBackend: unable to remove " + backup + ". error 13", rename}));
}

TEST(SharedFileBackend, RotatesAfterTheRecordThatCrossesTheLimitOrStartsANewDay) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "size.log", a = "I00000000: aaaa\r\n", b = "I00000000: bbbb\r\n";
    TestSupport::LogCapture trace(Logging::kSelfTraceChannel);
    ASSERT_EQ(Logging::LoggingManager::Instance().TuneChannel("sf", SharedFile(path, 34)), 0);
    EXPECT_EQ(trace.Texts().at(0), "I00000000: CreateChannel: sf (shared file)");
    // Lines of 17 bytes: the second makes the file exactly 34 bytes long, the third crosses.
    const std::pair<Optional, Optional> after[] = {{a, kNone}, {a + b, kNone}, {kNone, a + b + a}, {b, a + b + a}};
    for (int i = 0; i < 4; ++i) {
        LogTo("sf", i % 2 == 0 ? "aaaa" : "bbbb");
        EXPECT_EQ(std::make_pair(Contents(path), Contents(path + ".bak")), after[i]) << "after record " << i;
    }
    for (const bool oneDay : {true, false}) {
        SetContents(path, a);
        SetContents(path + ".bak", kNone);
        ASSERT_EQ(Logging::LoggingManager::Instance().TuneChannel("sf", SharedFile(path, 0xFFFFFFFF, oneDay)), 0);
        ASSERT_TRUE(TestSupport::SetMinutesSinceWrite(path, 48 * 60));  // two days: whatever the time of day
        LogTo("sf", "bbbb");
        LogTo("sf", "aaaa");
        EXPECT_EQ(std::make_pair(Contents(path), Contents(path + ".bak")),
                  oneDay ? std::make_pair(Optional(a), Optional(a + b)) : std::make_pair(Optional(a + b + a), kNone));
    }
    EXPECT_EQ(FileMessages(trace), Strings());
    Logging::LoggingManager::Instance().RemoveChannel("sf");
}

TEST(SharedFileBackend, WithNoTimeOutARecordThatFindsTheFileHeldIsLost) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "held.log", suffix = std::to_string(::GetCurrentProcessId());
    Logging::SharedFileConfig config = SharedFile(path, 0xFFFFFFFF);
    config.Timeout = 0;
    ASSERT_EQ(Logging::LoggingManager::Instance().TuneChannel("sf-held", config), 0);
    const std::string heldName = "hostprobe-sf-held-" + suffix, releaseName = "hostprobe-sf-release-" + suffix;
    const Common::UniqueHandle held(::CreateEventA(nullptr, TRUE, FALSE, heldName.c_str()));
    const Common::UniqueHandle release(::CreateEventA(nullptr, TRUE, FALSE, releaseName.c_str()));
    std::thread holder([&] {
        EXPECT_EQ(TestSupport::RunProcess(ChildPath(), {L"hold", TestSupport::Widen(path), TestSupport::Widen(heldName),
                                                        TestSupport::Widen(releaseName)})
                      .exitCode,
                  0u);
    });
    ASSERT_EQ(::WaitForSingleObject(held.get(), 60000), WAIT_OBJECT_0);
    {
        TestSupport::LogCapture trace(Logging::kSelfTraceChannel);
        LogTo("sf-held", "lost");
        EXPECT_EQ(FileMessages(trace), Strings({"C00000000: FileIo(" + path + "): open failed. Error 13"}));
    }
    ::SetEvent(release.get());
    holder.join();
    LogTo("sf-held", "after");  // the next record tries again
    EXPECT_EQ(Contents(path), "I00000000: after\r\n");
    Logging::LoggingManager::Instance().RemoveChannel("sf-held");
}

TEST(SharedFileBackend, NamesItsFileAndBackupForAbsoluteAndRelativeNames) {
    const std::wstring module = TestSupport::ModuleDirectory();
    const std::string exe(module.begin(), module.end() - 1), pid = std::to_string(::GetCurrentProcessId());
    const struct {
        const char *file, *home;
        std::string path;
    } cases[] = {{"rel.log", "C:\\home", "C:\\home\\rel.log"},
                 {"rel.log", "C:\\home\\", "C:\\home\\rel.log"},
                 {"", "", exe + "\\sf.log"},
                 {"p{pid}.log", "C:\\", "C:\\p" + pid + ".log"},
                 {"D:\\logs\\a.log", "C:\\home", "D:\\logs\\a.log"},
                 {"/logs/a.log", "C:\\home", "/logs/a.log"}};
    for (const auto& c : cases) {
        Logging::SharedFileBackend backend(c.home);
        ASSERT_EQ(backend.SetConfig("sf", SharedFile(c.file, 100)), 0);
        std::string names[3];
        const int32_t codes[] = {backend.GetProperty("log-file-0", names[0]),
                                 backend.GetProperty("log-file-1", names[1]),
                                 backend.GetProperty("log-file-2", names[2])};
        EXPECT_EQ(std::vector<int32_t>(codes, codes + 3), std::vector<int32_t>({0, 0, 8})) << c.file;
        EXPECT_EQ(Strings(names, names + 2), Strings({c.path, c.path + ".bak"})) << c.file;
        EXPECT_EQ(backend.GetProperty("homeDir", names[2]), 0);
        EXPECT_EQ(names[2], *c.home ? c.home : exe) << c.file;
    }
}

}  // namespace
