// A child writing gzip logs at full speed is killed at random moments, again and again on the
// same files; every next child repairs them when it opens them. In the end every file must
// inflate completely and hold every record that was flushed before a kill.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/common/handles.h"
#include "logging/static/writers/crash_records.h"
#include "logging/static/writers/gz_files.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

constexpr int kKills = 20;
constexpr uint32_t kMaxFiles = 100;  // as the child's configuration

std::wstring ChildPath() {
    return TestSupport::ModuleDirectory() + L"gz_writer_child.exe";
}

// The child with its standard output on a pipe; killed if it still runs when the test ends.
struct Child {
    Child() = default;
    Child(Child&&) = default;
    ~Child() {
        if (process.valid()) {
            ::TerminateProcess(process.get(), 9);
            ::WaitForSingleObject(process.get(), 20000);
        }
    }
    Common::UniqueHandle process;
    Common::UniqueHandle output;
};

Child Start(const std::wstring& folder, int number, const std::wstring& flushedFile) {
    Child child;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Common::UniqueHandle write;
    if (!::CreatePipe(child.output.put(), write.put(), &inherit, 0) ||
        !::SetHandleInformation(child.output.get(), HANDLE_FLAG_INHERIT, 0)) {
        ADD_FAILURE() << "CreatePipe failed: " << ::GetLastError();
        return child;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write.get();
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    // The folder ends with a backslash, which is doubled before the closing quote.
    std::wstring command =
        L"\"" + ChildPath() + L"\" \"" + folder + L"\\\" " + std::to_wstring(number) + L" \"" + flushedFile + L"\"";
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        ADD_FAILURE() << "CreateProcess failed: " << ::GetLastError();
        return child;
    }
    ::CloseHandle(info.hThread);
    child.process.reset(info.hProcess);
    return child;
}

// Waits until the child has printed its first line.
bool WaitForOpen(const Child& child) {
    std::string seen;
    char buffer[64];
    DWORD read = 0;
    while (seen.find('\n') == std::string::npos) {
        if (!::ReadFile(child.output.get(), buffer, sizeof buffer, &read, nullptr) || read == 0) {
            return false;
        }
        seen.append(buffer, read);
    }
    return seen == "open\n";
}

// The child and sequence numbers of a record's "cNN sNNNNNNNN" head.
bool ParseHead(const std::string& text, size_t at, uint32_t& child, uint32_t& sequence) {
    const auto number = [&](size_t from, size_t digits, uint32_t& value) {
        value = 0;
        for (size_t i = from; i < from + digits; ++i) {
            if (text[at + i] < '0' || text[at + i] > '9') {
                return false;
            }
            value = value * 10 + static_cast<uint32_t>(text[at + i] - '0');
        }
        return true;
    };
    return text[at] == 'c' && text.compare(at + 3, 2, " s") == 0 && number(1, 2, child) && number(5, 8, sequence);
}

TEST(GzWriterCrash, RecordsFlushedBeforeAKillSurviveRepeatedKillsAndRepairs) {
    unsigned seed = static_cast<unsigned>(::GetTickCount());
    if (const char* given = std::getenv("HOSTPROBE_CRASH_SEED")) {
        seed = static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    }
    std::printf("seed %u (set HOSTPROBE_CRASH_SEED to repeat)\n", seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);

    TestSupport::TempDir folder;
    std::vector<long long> flushed(kKills, -1);  // last sequence number flushed by each child
    int damagedTails = 0;                        // kills that left a chunk cut short
    for (int i = 0; i < kKills; ++i) {
        const std::wstring flushedFile = folder.path() + L"flushed-" + std::to_wstring(i);
        Child child = Start(folder.path(), i, flushedFile);
        ASSERT_TRUE(child.process.valid());
        // Mostly while writing; every fourth time from the start, which may hit the repair.
        if (i % 4 == 3) {
            ::Sleep(std::uniform_int_distribution<DWORD>(0, 60)(random));
        } else {
            ASSERT_TRUE(WaitForOpen(child)) << "child " << i;
            ::Sleep(std::uniform_int_distribution<DWORD>(5, 150)(random));
        }
        ASSERT_TRUE(::TerminateProcess(child.process.get(), 9));
        ASSERT_EQ(::WaitForSingleObject(child.process.get(), 20000), WAIT_OBJECT_0);
        damagedTails +=
            TestSupport::SplitMembers(TestSupport::ReadFileBytes(folder.path() + L"crash.0.log.gz")).rest > 0;
        const std::string text = TestSupport::ReadFileBytes(flushedFile);
        if (!text.empty()) {
            flushed[i] = std::strtoll(text.c_str(), nullptr, 10);
        }
    }
    const TestSupport::ProcessResult repair = TestSupport::RunProcess(ChildPath(), {folder.path(), L"repair"});
    ASSERT_EQ(repair.exitCode, 0u);
    ASSERT_EQ(repair.out, "open\n");

    std::set<std::pair<uint32_t, uint32_t>> present;  // (child, sequence) of the whole records found
    size_t restorations = 0;
    uint32_t files = 0;
    for (; files < kMaxFiles; ++files) {
        const std::wstring path = folder.path() + L"crash." + std::to_wstring(files) + L".log.gz";
        const std::string bytes = TestSupport::ReadFileBytes(path);
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            break;
        }
        const TestSupport::GzSplit split = TestSupport::SplitMembers(bytes);
        EXPECT_EQ(split.rest, 0u) << "file " << files;
        bool complete = false;
        const std::string text = TestSupport::GzReadAll(path, &complete);
        EXPECT_TRUE(complete) << "file " << files;
        EXPECT_EQ(text, TestSupport::JoinTexts(split)) << "file " << files;
        if (files < 2) {
            TestSupport::KeepSample(path, "crash-" + std::to_string(files), text);
        }
        for (size_t at = 0; (at = text.find("\n------ begin of restored log ------\n", at)) != std::string::npos;
             ++at) {
            ++restorations;
        }
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\n', at);
            end = end == std::string::npos ? text.size() : end + 1;
            uint32_t child = 0, sequence = 0;
            if (end - at == TestSupport::kCrashRecordSize && ParseHead(text, at, child, sequence) &&
                text.compare(at, end - at, TestSupport::CrashRecord(child, sequence)) == 0) {
                present.emplace(child, sequence);
            }
            at = end;
        }
    }
    ASSERT_LT(files, kMaxFiles) << "the oldest files were rotated away";
    std::printf("%d kills, %d left a damaged tail; %u files, %zu records, %zu restorations\n", kKills, damagedTails,
                files, present.size(), restorations);
    for (int i = 0; i < kKills; ++i) {
        for (long long sequence = 0; sequence <= flushed[i]; ++sequence) {
            if (present.count({static_cast<uint32_t>(i), static_cast<uint32_t>(sequence)}) == 0) {
                ADD_FAILURE() << "child " << i << " flushed up to " << flushed[i] << " but record " << sequence
                              << " is missing";
                break;
            }
        }
    }
}

}  // namespace
