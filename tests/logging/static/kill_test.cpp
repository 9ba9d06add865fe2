// Children logging at full speed through the gzip writer, the text writer of a log-scope channel
// and the shared-file back-end are killed at random moments, again and again on the same files;
// every next child goes on with what the last one left. In the end every file must be whole
// (gzip files once the writer's check at the next open has repaired the last one) and hold
// every record that a child knew to be on disk when it was killed.

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

constexpr int kKills = 100;
constexpr uint32_t kMaxFiles = 400;  // as the child's configuration
constexpr char kBeginRestored[] = "------ begin of restored log ------\n";
constexpr char kEndRestored[] = "------ end of restored log ------\n";

std::wstring ChildPath() {
    return TestSupport::ModuleDirectory() + L"logging_kill_child.exe";
}

// The child and sequence numbers of a record's "cNN sNNNNNNNN" head; whether the line is that
// record exactly is checked against the record made anew from them.
bool ParseHead(const std::string& line, uint32_t& child, uint32_t& sequence) {
    return std::sscanf(line.c_str(), "c%2u s%8u", &child, &sequence) == 2;
}

// What the files of one writer hold.
struct Contents {
    std::set<std::pair<uint32_t, uint32_t>> records;  // (child, sequence) of the whole records
    size_t duplicates = 0;
    size_t torn = 0;          // lines that are neither a whole record nor allowed otherwise
    size_t unterminated = 0;  // files ending in a line without its line end
    size_t restorations = 0;
    std::string firstTorn;
};

// Text files may end in a line cut by a kill, as neither writer repairs a file it appends to; a
// gzip file's restored text may end in a cut line and holds the markers around it.
void ReadLines(const std::string& text, bool gzip, Contents& contents) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::string next = i + 1 < lines.size() ? lines[i + 1] : "";
        uint32_t child = 0, sequence = 0;
        if (line.size() == TestSupport::kCrashRecordSize && ParseHead(line, child, sequence) &&
            line == TestSupport::CrashRecord(child, sequence)) {
            contents.duplicates += !contents.records.emplace(child, sequence).second;
        } else if (gzip && (line == kBeginRestored || line == kEndRestored || next == kEndRestored ||
                            (line == "\n" && next == kBeginRestored))) {
            contents.restorations += line == kBeginRestored;
        } else if (!gzip && i + 1 == lines.size() && line.back() != '\n') {
            ++contents.unterminated;
        } else {
            contents.firstTorn = contents.torn++ == 0 ? line : contents.firstTorn;
        }
    }
}

struct KillCase {
    const char* writer;
    std::wstring (*file)(uint32_t index);  // the name of the index-th file, or empty
};

const KillCase kCases[] = {
    {"gzip", [](uint32_t n) { return L"kill." + std::to_wstring(n) + L".log.gz"; }},
    {"logscope", [](uint32_t n) { return L"kill." + std::to_wstring(n) + L".log"; }},
    {"sharedfile", [](uint32_t n) { return n == 0 ? std::wstring(L"kill.log") : std::wstring(); }},
};

class WriterKill : public ::testing::TestWithParam<KillCase> {};

TEST_P(WriterKill, RecordsOnDiskBeforeAKillSurviveRepeatedKills) {
    const KillCase& kase = GetParam();
    const bool gzip = std::string(kase.writer) == "gzip";
    unsigned seed = static_cast<unsigned>(::GetTickCount());
    if (const char* given = std::getenv("HOSTPROBE_CRASH_SEED")) {
        seed = static_cast<unsigned>(std::strtoul(given, nullptr, 10));
    }
    std::printf("%s: seed %u (set HOSTPROBE_CRASH_SEED to repeat)\n", kase.writer, seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);

    const std::wstring mappingName =
        L"Local\\hostprobe-kill-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + TestSupport::Widen(kase.writer);
    const Common::UniqueHandle mapping(::CreateFileMappingW(
        INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TestSupport::KillSlot) * kKills, mappingName.c_str()));
    const Common::UniqueView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0) : nullptr);
    ASSERT_TRUE(view.valid()) << ::GetLastError();
    const auto* slots = static_cast<const TestSupport::KillSlot*>(view.get());

    TestSupport::TempDir folder;
    int damagedTails = 0;  // kills that left a gzip member cut short
    for (int i = 0; i < kKills; ++i) {
        TestSupport::ChildProcess child(
            ChildPath(), {TestSupport::Widen(kase.writer), folder.path(), std::to_wstring(i), mappingName});
        ASSERT_TRUE(child.Started());
        // Mostly while writing; every fourth time from the start, which may hit the gzip repair.
        if (i % 4 == 3) {
            ::Sleep(std::uniform_int_distribution<DWORD>(0, 40)(random));
        } else {
            for (int waited = 0; slots[i].open == 0 && waited < 20000; ++waited) {
                ASSERT_EQ(::WaitForSingleObject(child.Handle(), 1), static_cast<DWORD>(WAIT_TIMEOUT))
                    << "child " << i << " ended";
            }
            ::Sleep(std::uniform_int_distribution<DWORD>(5, 80)(random));
        }
        ASSERT_TRUE(::TerminateProcess(child.Handle(), 9));
        child.Wait();
        if (gzip) {
            damagedTails +=
                TestSupport::SplitMembers(TestSupport::ReadFileBytes(folder.path() + kase.file(0))).rest > 0;
        }
    }
    if (gzip) {
        const TestSupport::ProcessResult repair =
            TestSupport::RunProcess(ChildPath(), {TestSupport::Widen(kase.writer), folder.path(), L"repair", L"-"});
        ASSERT_EQ(repair.exitCode, 0u);
    }

    Contents contents;
    uint32_t files = 0;
    for (uint32_t n = 0; n < kMaxFiles && !kase.file(n).empty(); ++n) {
        const std::wstring path = folder.path() + kase.file(n);
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            continue;  // a kill between the renames of a rotation leaves a gap until the next open
        }
        ++files;
        const std::string bytes = TestSupport::ReadFileBytes(path);
        if (!gzip) {
            ReadLines(bytes, false, contents);
            continue;
        }
        const TestSupport::GzSplit split = TestSupport::SplitMembers(bytes);
        EXPECT_EQ(split.rest, 0u) << "file " << n;
        bool complete = false;
        const std::string text = TestSupport::GzReadAll(path, &complete);
        EXPECT_TRUE(complete) << "file " << n;
        EXPECT_EQ(text, TestSupport::JoinTexts(split)) << "file " << n;
        if (n < 2) {
            TestSupport::KeepSample(path, "kill-" + std::to_string(n), text);
        }
        ReadLines(text, true, contents);
    }
    ASSERT_LT(files, kMaxFiles - 1) << "the oldest files were rotated away";

    size_t flushed = 0, lost = 0;
    for (int i = 0; i < kKills; ++i) {
        for (uint32_t sequence = 0; sequence < static_cast<uint32_t>(slots[i].flushed); ++sequence) {
            ++flushed;
            if (contents.records.count({static_cast<uint32_t>(i), sequence}) == 0 && lost++ == 0) {
                ADD_FAILURE() << "child " << i << " had " << slots[i].flushed << " records on disk, but record "
                              << sequence << " is missing";
            }
        }
    }
    std::printf(
        "kills: %s %d, files %u, records on disk before a kill %zu, found %zu, lost %zu, duplicated %zu, "
        "torn lines %zu, unterminated last lines %zu, damaged gzip tails repaired %d, restorations %zu\n",
        kase.writer, kKills, files, flushed, contents.records.size(), lost, contents.duplicates, contents.torn,
        contents.unterminated, damagedTails, contents.restorations);
    EXPECT_EQ(lost, 0u);
    EXPECT_EQ(contents.duplicates, 0u);
    EXPECT_EQ(contents.torn, 0u) << "first: " << contents.firstTorn;
    EXPECT_GT(flushed, 0u);
}

INSTANTIATE_TEST_SUITE_P(Writers, WriterKill, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<KillCase>& info) { return std::string(info.param.writer); });

}  // namespace
