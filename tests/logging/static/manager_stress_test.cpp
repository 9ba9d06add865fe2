// The logging manager under load (logging_stress_child, manager_stress.h): a million records
// over channels of every type while channels change and the control pipe is busy. Nothing may
// crash or hang (the child must end within the time-out), no line may be torn or repeated, a
// stable channel must write each record sent to it exactly once, and a churned one only whole
// records that were sent, each at most once.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "logging/log_file_helpers.h"
#include "logging/static/manager_stress.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using Stress::Kind;
using Stress::OutputCheck;

// HP_STRESS_RECORDS asks for a shorter (or longer) run.
const int kRecords =
    std::getenv("HP_STRESS_RECORDS") != nullptr ? std::atoi(std::getenv("HP_STRESS_RECORDS")) : 1000000;
const int kPerThread = kRecords / Stress::kLoggers;
// The watchdog: a child still running then has hung, and is ended.
constexpr DWORD kTimeLimitMs = 240000;

// The child's figures: "<what> <name> <numbers>" per line of its standard error.
using Figures = std::map<std::string, std::vector<uint64_t>>;

Figures ReadFigures(const std::string& err) {
    Figures figures;
    std::istringstream lines(err);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string what, name;
        words >> what >> name;
        std::vector<uint64_t>& numbers = figures[what + " " + name];
        for (uint64_t n; words >> n;) {
            numbers.push_back(n);
        }
    }
    return figures;
}

uint64_t Figure(const Figures& figures, const std::string& key, size_t index = 0) {
    const auto it = figures.find(key);
    return it != figures.end() && index < it->second.size() ? it->second[index] : ~uint64_t{0};
}

// Every file output below `home`, by the channel that wrote it: "<channel>.log" and its
// ".bak" in the home folder, everything in the folder "<channel>"; gzip files inflated.
class FileOutputs {
public:
    explicit FileOutputs(const std::string& home) {
        for (const std::string& name : TestSupport::FolderNames(home)) {
            const std::string path = home + name;
            if ((::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                for (const std::string& file : TestSupport::FolderNames(path + "\\")) {
                    Add(name, path + "\\" + file);
                }
            } else if (name != "console.txt") {
                Add(name.substr(0, name.find(".log")), path);
            }
        }
    }

    std::map<std::string, std::unique_ptr<OutputCheck>>& Outputs() { return outputs_; }

private:
    void Add(const std::string& owner, const std::string& path) {
        auto& check = outputs_[owner];
        if (!check) {
            check = std::make_unique<OutputCheck>(owner, kPerThread);
        }
        const bool gzip = path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
        const TestSupport::FileBytes bytes = gzip ? TestSupport::Gunzip(path) : TestSupport::Contents(path);
        if (!bytes) {
            check->Torn();  // a gzip file that does not inflate to its end
            return;
        }
        check->AddText(*bytes);
    }

    std::map<std::string, std::unique_ptr<OutputCheck>> outputs_;
};

TEST(LoggingStress, StableChannelsWriteEveryRecordOnceWhileOthersChangeAround) {
    TestSupport::TempDir home;
    TestSupport::ProcessOptions options;
    options.outputFile = home.path() + L"console.txt";
    options.timeoutMs = kTimeLimitMs;
    const TestSupport::ProcessResult run =
        TestSupport::RunProcess(TestSupport::ModuleDirectory() + L"logging_stress_child.exe",
                                {home.path(), std::to_wstring(kRecords)}, options);
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    const Figures figures = ReadFigures(run.err);

    // The console lines of all channels share standard output; the prefix tells them apart.
    std::map<std::string, std::unique_ptr<OutputCheck>> console;
    uint64_t consoleTorn = 0;
    const std::string text = TestSupport::ReadFileBytes(home.path() + L"console.txt");
    Stress::ForEachLine(
        text, true,
        [&](const Stress::Line& line) {
            auto& check = console[std::string(line.tag)];
            if (!check) {
                check = std::make_unique<OutputCheck>(std::string(line.tag), kPerThread);
            }
            check->Add(line);
        },
        [&] { ++consoleTorn; });
    EXPECT_EQ(consoleTorn, 0u);
    FileOutputs files(home.narrowPath());

    // Every output, checked the same way: (numbers delivered, duplicates, torn, foreign).
    std::map<std::string, std::vector<uint64_t>> outputs;
    for (auto* group : {&console, &files.Outputs()}) {
        for (const auto& [owner, check] : *group) {
            const Stress::Tally& t = check->Counts();
            outputs[owner] = {t.delivered.load(), t.duplicates.load(), t.torn.load(), t.foreign.load()};
        }
    }
    for (const auto& [key, numbers] : figures) {
        if (key.compare(0, 7, "custom ") == 0 || key.compare(0, 5, "gate ") == 0) {
            outputs[key.substr(key.find(' ') + 1)] = numbers;
        }
    }
    uint64_t churnedRecords = 0, duplicates = 0, torn = consoleTorn, foreign = 0;
    for (const auto& [owner, numbers] : outputs) {
        ASSERT_EQ(numbers.size(), 4u) << owner;
        EXPECT_EQ(numbers[1], 0u) << "duplicates in " << owner;
        EXPECT_EQ(numbers[2], 0u) << "torn lines in " << owner;
        EXPECT_EQ(numbers[3], 0u) << "foreign records in " << owner;
        churnedRecords += Stress::IsStable(owner) ? 0 : numbers[0];
        duplicates += numbers[1];
        torn += numbers[2];
        foreign += numbers[3];
    }

    // A stable channel: every record sent to it, and each name counts every record logged to it.
    uint64_t sentAll = 0, lost = 0;
    std::string delivered;
    for (int c = 0; c < Stress::kStableCount; ++c) {
        const Stress::Channel& channel = Stress::kChannels[c];
        const Stress::Sent sent = Stress::SentTo(c, kPerThread);
        EXPECT_EQ(Figure(figures, std::string("usage ") + channel.name), sent.information + sent.debug) << channel.name;
        if (channel.kind == Kind::Null) {
            continue;
        }
        const auto it = outputs.find(channel.name);
        const uint64_t got = it != outputs.end() ? it->second[0] : 0;
        if (channel.kind == Kind::Gate) {
            // UDP may drop datagrams on the way; the back-end must have sent each record once.
            EXPECT_EQ(Figure(figures, "gate-serial st.gate"), sent.information);
            EXPECT_LE(got, sent.information);
            delivered += ", gate received " + std::to_string(got) + " of " + std::to_string(sent.information);
            continue;
        }
        EXPECT_EQ(got, sent.information) << channel.name;
        lost += sent.information - std::min(got, sent.information);
        delivered += std::string(", ") + channel.name + " " + std::to_string(got);
    }
    for (int c = 0; c < Stress::kChannelCount; ++c) {
        const Stress::Sent sent = Stress::SentTo(c, kPerThread);
        sentAll += sent.information + sent.debug;
    }
    EXPECT_EQ(sentAll, static_cast<uint64_t>(kRecords));
    EXPECT_EQ(Figure(figures, "gate-malformed all"), 0u);
    EXPECT_EQ(Figure(figures, "commands all", 1), 0u) << "commands without a reply";
    EXPECT_EQ(Figure(figures, "commands all", 2), 0u) << "stable channels' queries that failed";
    EXPECT_EQ(Figure(figures, "assertions all"), 0u) << run.err;
    EXPECT_EQ(Figure(figures, "errors all"), 0u) << run.err;
    std::printf(
        "stress: records sent %llu%s, churned outputs %llu, duplicates %llu, torn %llu, foreign %llu, lost %llu, "
        "commands %llu, churn rounds %llu, elapsed %.1f s\n",
        static_cast<unsigned long long>(sentAll), delivered.c_str(), static_cast<unsigned long long>(churnedRecords),
        static_cast<unsigned long long>(duplicates), static_cast<unsigned long long>(torn),
        static_cast<unsigned long long>(foreign), static_cast<unsigned long long>(lost),
        static_cast<unsigned long long>(Figure(figures, "commands all")),
        static_cast<unsigned long long>(Figure(figures, "churn all")),
        static_cast<double>(Figure(figures, "elapsed all")) / 1000.0);
}

}  // namespace
