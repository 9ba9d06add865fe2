// A host creates, uses and removes a channel of every type again and again; what it holds of
// the process's resources must stay where it was after the first rounds.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"

namespace {

// A round starts and ends two threads (the log-scope writer and the file-folder scanner), at
// some 4 ms each under Wine: 15 to 17 ms in all, so that the rounds take 150 to 170 s.
constexpr int kRounds = 10000;

using Figures = std::map<std::string, unsigned long long>;

// The "<name> <number>" pairs of the line that starts with `label`.
Figures FindFigures(const std::string& out, const std::string& label) {
    Figures figures;
    const size_t at = out.find("\n" + label + ": ");
    if (at == std::string::npos) {
        return figures;
    }
    std::istringstream line(out.substr(at + label.size() + 3, out.find('\n', at + 1) - at - label.size() - 3));
    std::string name;
    unsigned long long value = 0;
    while (line >> name >> value) {
        figures[name] = value;
    }
    return figures;
}

TEST(ChannelLeaks, EveryChannelTypeMadeUsedAndRemovedManyTimesLeavesTheProcessAsItWas) {
    TestSupport::TempDir folder;
    TestSupport::ProcessOptions options;
    options.timeoutMs = 330000;
    const TestSupport::ProcessResult host = TestSupport::RunProcess(
        TestSupport::ModuleDirectory() + L"logging_leak_host.exe", {folder.path(), std::to_wstring(kRounds)}, options);
    ASSERT_EQ(host.exitCode, 0u) << host.err;
    Figures warm = FindFigures(host.out, "warm"), done = FindFigures(host.out, "done");
    ASSERT_EQ(done["rounds"], static_cast<unsigned long long>(kRounds)) << host.out.substr(0, 2000);

    // Growth allowed after the warm-up rounds, and why: nothing a round makes outlives it, but a
    // handle the library makes on first need may come late, and the heap grows in steps of
    // 64 KiB. A leak of one handle or thread per round exceeds these by far, and one of 64
    // bytes per round (a string, a record) the memory bounds.
    const struct {
        const char* figure;
        unsigned long long bound;
    } bounds[] = {
        {"handles", 4}, {"handle-slots", 4}, {"threads", 0}, {"private", 0x40000}, {"committed-private", 0x40000},
    };
    std::printf("leaks: %d rounds of every channel type in %llu ms\n", kRounds, done["ms"]);
    for (const auto& bound : bounds) {
        std::printf("leaks: %s %llu after the warm-up rounds, %llu after all (bound +%llu)\n", bound.figure,
                    warm[bound.figure], done[bound.figure], bound.bound);
        EXPECT_LE(done[bound.figure], warm[bound.figure] + bound.bound) << bound.figure;
    }
}

}  // namespace
