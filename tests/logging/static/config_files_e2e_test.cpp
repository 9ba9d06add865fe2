// Configuration files and the environment's commands in real hostprobe runs: a copy of the
// program in a folder of its own, with the files beside it, its streams and report compared
// byte for byte. Console channels show what the configuration did: the detectors' lines, and
// the library's own messages once "logging-trace" is made a console channel.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "logging/common/platform.h"
#include "support/process.h"
#include "support/registry.h"
#include "support/temp_dir.h"
#include "tests/logging/log_file_helpers.h"

namespace {

struct DetectorLine {
    char level;
    const char* text;
};

// What the detectors log at INFORMATION and above on a clean prefix, in the order they log it.
const std::vector<DetectorLine> kDetectorLines = {
    {'W',
     "[MSSQL Native] Failed to open registry key: SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance "
     "Names\\SQL (64-bit view, error=2)"},
    {'W',
     "[MSSQL Native] Failed to open registry key: SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance "
     "Names\\SQL (32-bit view, error=2)"},
    {'I', "[MSSQL Native] Microsoft SQL Server not detected"},
    {'W', "[Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\Exchange\\Setup (error=2)"},
    {'W', "[Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\Exchange\\v8.0\\Setup (error=2)"},
    {'W', "[Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\ExchangeServer\\v14\\Setup (error=2)"},
    {'W', "[Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\ExchangeServer\\v15\\Setup (error=2)"},
    {'I', "[Exchange Native] Microsoft Exchange not detected"},
    {'I', "[AD Native] Active Directory not detected (not a Domain Controller)"},
    {'I', "[Oracle Detection] Starting Oracle VSS Writer detection"},
    {'W', "[Oracle Detection] Failed to create VSS backup components: 0x80004001"},
    {'I', "[Oracle Detection] Oracle VSS Writer not found"},
};

// The detector lines a channel writes: those of the given levels, each made by `line`.
template <typename Line>
std::string Written(const std::string& levels, const Line& line,
                    const std::vector<DetectorLine>& logged = kDetectorLines) {
    std::string text;
    for (const DetectorLine& entry : logged) {
        if (levels.find(entry.level) != std::string::npos) {
            text += line(entry);
        }
    }
    return text;
}

std::string Signed(const DetectorLine& entry, const std::string& prefix, const char* end = "\n") {
    return std::string(1, entry.level) + "00000000: " + prefix + entry.text + end;
}

// The library's own messages on a console channel with signature alone.
std::string Traced(const std::vector<std::string>& texts) {
    std::string lines;
    for (const std::string& text : texts) {
        lines += "I00000000: " + text + "\n";
    }
    return lines;
}

// The detector lines of `levels` on a channel whose flags are "signature", each ending in `end`.
std::string Lines(const std::string& levels, const char* end = "\n") {
    return Written(levels, [end](const DetectorLine& e) { return Signed(e, "", end); });
}

// The report when every detector line reached it, and when none did (no LogMessages element).
// Debug lines never reach it.
std::string Report(bool withLog, const std::vector<DetectorLine>& logged = kDetectorLines) {
    std::string infos, warnings;
    for (const DetectorLine& entry : logged) {
        if (entry.level != 'D') {
            (entry.level == 'I' ? infos : warnings) += "    <Message>" + Signed(entry, "", "</Message>\r\n");
        }
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DetectionResult exitCode=\"0\">\r\n"
           "  <Applications>\r\n  </Applications>\r\n" +
           (withLog ? "  <LogMessages>\r\n" + infos + warnings + "  </LogMessages>\r\n" : "") +
           "</DetectionResult>\r\n";
}

const std::wstring kSqlKey = L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";

constexpr char kTraceToStdout[] = "tune logging-trace console;flags logging-trace signature nostderr";

struct Outcome {
    DWORD exitCode;
    std::string out;
    std::string err;
    std::string report;
};

class ConfiguredHostprobe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(TestSupport::RegistryKeyExists(kSqlKey, KEY_WOW64_32KEY)) << "prefix not clean";
        ASSERT_TRUE(::CopyFileW(TestSupport::HostprobePath().c_str(), (dir.path() + L"hostprobe.exe").c_str(), TRUE));
    }

    void File(const std::string& name, const std::string& content) {
        TestSupport::WriteFileBytes(dir.path() + TestSupport::Widen(name), content);
    }
    void Statements(const std::string& name, const std::string& statements) {
        File(name, "<config>\n  <logging>\n" + statements + "  </logging>\n</config>\n");
    }
    // The folder as the reader names it, and a file in it.
    std::string Folder() const { return dir.narrowPath().substr(0, dir.narrowPath().size() - 1); }
    std::string PathOf(const std::string& name) const { return dir.narrowPath() + name; }
    // The "*.config" files in the order the folder lists them, which is the order they are read.
    std::vector<std::string> Listed() const { return Logging::Platform::ListFiles(dir.narrowPath(), "*.config"); }
    // What the library traces before the first file: the driver's own channel, the search.
    std::vector<std::string> Start() const {
        return {"CreateChannel: debugger (custom)", "Parsing configuration files: " + Folder() + "\\*.config"};
    }

    Outcome Run(const std::string& init = "", const std::string& postInit = "") {
        TestSupport::ProcessOptions options;
        options.environment = {{L"LOGGING_INIT_CMD", TestSupport::Widen(init)},
                               {L"LOGGING_POST_INIT_CMD", TestSupport::Widen(postInit)}};
        const TestSupport::ProcessResult result = TestSupport::RunProcess(
            dir.path() + L"hostprobe.exe", {L"--format=xml", L"--output=" + dir.path() + L"report.xml"}, options);
        return {result.exitCode, result.out, result.err, TestSupport::ReadFileBytes(dir.path() + L"report.xml")};
    }

    TestSupport::TempDir dir;
};

TEST_F(ConfiguredHostprobe, EveryStatementActsThroughTheManagerAndChannelsWithoutTypeAreIgnored) {
    Statements("a.config",
               "<channel id=\"x.a\" type=\"console\" flags=\"signature\" msgprefix=\"[a] \" stderr=\"false\"/>\n"
               "<channel id=\"x.notype\"/>\n<link id=\"x.notype\" to=\"debugger\"/>\n<link to=\"debugger\"/>\n"
               "<link id=\"x.a\" to=\"debugger\"/>\n<setlevel id=\"x.a\" level=\"warn\"/>\n"
               "<channel id=\"x.b\" type=\"console\" flags=\"signature\" msgprefix=\"[b] \" stderr=\"false\"/>\n"
               "<link id=\"x.b\" to=\"debugger\"/>\n<redirect id=\"x.b\" to=\"x.a\"/>\n"
               "<channel id=\"x.p\" type=\"null\">\n"
               "  <property name=\"limit\" type=\"dword\">16</property>\n"
               "  <property name=\"bad\" type=\"dword\">many</property>\n"
               "  <property name=\"note\">7</property>\n"
               "  <property name=\"real\" type=\"float\">1.5</property>\n"
               "</channel>\n<default id=\"x.none\"/>\n");
    std::vector<std::string> traces = Start();
    traces.insert(
        traces.end(),
        {"Processing " + PathOf("a.config"), "CreateChannel: x.a (console)",
         "LinkChannel: no such channel (from) x.notype", "LinkChannel: x.a linked to debugger", "SetLevel: x.a level=3",
         "CreateChannel: x.b (console)", "LinkChannel: x.b linked to debugger", "RedirectChannel: x.b->x.a",
         "CreateChannel: x.p (null)", "SetProp: channel=x.p limit=16", "SetProp: channel=x.p bad=many. Failed rc=9",
         "PropReader: invalid dword property: bad", "SetProp: channel=x.p note=7",
         "PropReader: unsupported property type: float", "SetDefaultChannel: channel does not exist x.none"});
    // x.b is redirected to x.a, which has written each record already: x.b's own lines never show.
    const Outcome run = Run(kTraceToStdout);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.out, Traced(traces) + Written("W", [](const DetectorLine& e) { return Signed(e, "[a] "); }));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.report, Report(true));
}

TEST_F(ConfiguredHostprobe, FilesAreReadInListingOrderPastSyntaxErrorsAndForeignRoots) {
    for (const char* name : {"one", "two"}) {
        Statements(std::string(name) + ".config", std::string("<channel id=\"x.") + name +
                                                      "\" type=\"console\" flags=\"signature\" stderr=\"false\" "
                                                      "msgprefix=\"[" +
                                                      name + "] \"/>\n<default id=\"x." + name + "\"/>\n");
    }
    File("broken.config",
         "<config>\n  <logging>\n    <channel id=\"x.bad\" type=\"console\"\n  </logging>\n</config>\n");
    File("foreign.config",
         "<settings><logging><channel id=\"x.foreign\" type=\"console\"/>"
         "<default id=\"x.foreign\"/></logging></settings>");
    File("hostprobe.config", "<hostprobe><logging><channel id=\"x.own\" type=\"null\"/></logging></hostprobe>");
    File("notes.txt", "<config><logging><default id=\"x.none\"/></logging></config>");
    std::vector<std::string> traces = Start();
    std::string winner;
    for (const std::string& file : Listed()) {
        traces.push_back("Processing " + PathOf(file));
        if (file == "broken.config") {
            traces.push_back("XML parser error. Line 4, Column 3");
        } else if (file == "hostprobe.config") {
            traces.push_back("CreateChannel: x.own (null)");
        } else if (file != "foreign.config") {
            winner = file.substr(0, 3);
            traces.insert(traces.end(),
                          {"CreateChannel: x." + winner + " (console)", "SetDefaultChannel: x." + winner});
        }
    }
    ASSERT_EQ(Listed().size(), 5u);
    // The detectors' lines go to the default channel of the file read last, none to the report.
    const Outcome run = Run(kTraceToStdout);
    EXPECT_EQ(run.out,
              Traced(traces) + Written("IW", [&](const DetectorLine& e) { return Signed(e, "[" + winner + "] "); }));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.report, Report(false));
}

TEST_F(ConfiguredHostprobe, FileAndLogScopeChannelsHoldEveryRecordAtExitAndLeaveTheReportAlone) {
    Statements(
        "hostprobe.config",
        "<channel id=\"x.file\" type=\"file\" file=\"x.log\" flags=\"signature eol\"/>\n"
        "<channel id=\"x.plain\" type=\"logscope\" prefix=\"plain\" compress=\"0\" flags=\"signature\" "
        "level=\"warn\"/>\n"
        "<channel id=\"x.gzip\" type=\"logscope\" prefix=\"gzip\" compress=\"1\" flags=\"signature\"/>\n"
        "<channel id=\"x.packed\" type=\"logscope\" prefix=\"packed\" compress=\"2\" maxsize=\"300\" "
        "flags=\"signature\"/>\n"
        "<link id=\"x.file\" to=\"debugger\"/><link id=\"x.plain\" to=\"debugger\"/>\n"
        "<link id=\"x.gzip\" to=\"debugger\"/><link id=\"x.packed\" to=\"debugger\"/>\n"
        "<channel id=\"x.lost\" type=\"file\" file=\"missing\\lost.log\"/><link id=\"x.lost\" to=\"debugger\"/>\n");
    const Outcome run = Run("tune logging-trace logscope prefix=trace compress=0;flags logging-trace signature");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(run.report, Report(true));
    EXPECT_EQ(TestSupport::Contents(PathOf("x.log")), Lines("IW", "\r\n"));
    EXPECT_EQ(TestSupport::Contents(PathOf("plain.0.log")), Lines("W"));
    EXPECT_EQ(TestSupport::Gunzip(PathOf("gzip.0.log.gz")), Lines("IW"));
    // The rotated files were compressed before the process ended, and no temporary is left.
    std::vector<std::string> packed;
    for (const std::string& name : TestSupport::FolderNames(dir.narrowPath())) {
        if (name.compare(0, 7, "packed.") == 0) {
            packed.push_back(name);
        }
    }
    ASSERT_GE(packed.size(), 3u);
    std::vector<std::string> names;
    std::string text;
    for (size_t n = packed.size(); n-- > 0;) {  // oldest first
        const std::string name = "packed." + std::to_string(n) + (n != 0 ? ".log.gz" : ".log");
        names.push_back(name);
        text += (n != 0 ? TestSupport::Gunzip(PathOf(name)) : TestSupport::Contents(PathOf(name)))
                    .value_or("<" + name + " unreadable>");
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(packed, names);
    EXPECT_EQ(text, Lines("IW"));
    // A file that cannot be opened costs its channel every record, each one reported.
    const std::string trace = TestSupport::Contents(PathOf("trace.0.log")).value_or("");
    const std::string lost = "C00000000: FileIo(" + PathOf("missing\\lost.log") + "): open failed. Error 2\n";
    size_t reports = 0;
    for (size_t at = trace.find(lost); at != std::string::npos; at = trace.find(lost, at + 1)) {
        ++reports;
    }
    EXPECT_EQ(reports, 1 + kDetectorLines.size()) << trace;  // at the start, then once a record
}

TEST_F(ConfiguredHostprobe, FilesAndPostInitCommandsActAfterTheDriverTookTheDefaultChannelAndBeforeItsFirstRecord) {
    // The driver makes the default channel "debugger" its collector right after Initialize. A
    // channel retuned before that is taken back; one retuned after it keeps the detectors' lines
    // from the report, and its file holds every one of them, the first included.
    const std::string tune = "tune debugger file file=d.log;flags debugger signature";
    const struct {
        const char* where;
        const char* config;
        std::string init, postInit;
        bool retunedByDriver;
    } cases[] = {
        {"file", "<channel id=\"debugger\" type=\"file\" file=\"d.log\" flags=\"signature\"/>\n", "", "", false},
        {"LOGGING_INIT_CMD", nullptr, tune, "", true},
        {"LOGGING_POST_INIT_CMD", nullptr, "", tune, false},
    };
    for (const auto& c : cases) {
        c.config != nullptr ? Statements("timing.config", c.config)
                            : void(std::remove(PathOf("timing.config").c_str()));
        std::remove(PathOf("d.log").c_str());
        const Outcome run = Run(c.init, c.postInit);
        EXPECT_EQ(run.exitCode, 0u) << c.where;
        EXPECT_EQ(run.report, Report(c.retunedByDriver)) << c.where;
        EXPECT_EQ(TestSupport::Contents(PathOf("d.log")), c.retunedByDriver ? "" : Lines("IW")) << c.where;
    }
}

TEST_F(ConfiguredHostprobe, EnvironmentCommandsMakeLogScopeChannelsAndFailedOnesAreTracedWhileTheRestRun) {
    // The library's own messages go to a log-scope channel too; words that name no command and a
    // "tune" without its file leave no trace, operations that fail trace their own message. The
    // driver's retuning of "debugger" drops the first commands' link to it: linked again, once.
    const Outcome run =
        Run("tune logging-trace logscope prefix=trace compress=0;flags logging-trace signature;"
            "tune cmd.init logscope prefix=init compress=0;flags cmd.init signature;bogus words;"
            "link cmd.init cmd.none;link cmd.init debugger;tune cmd.x file",
            "link cmd.init debugger;tune cmd.post logscope prefix=post;flags cmd.post signature eol;"
            "link cmd.post debugger;default cmd.none");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(run.report, Report(true));
    EXPECT_EQ(
        TestSupport::Contents(PathOf("trace.0.log")),
        Traced({"CreateChannel: cmd.init (logscope)", "LinkChannel: no such channel (to) cmd.none",
                "CreateChannel: debugger (debugger)", "LinkChannel: cmd.init linked to debugger",
                "CreateChannel: debugger (custom)", "Parsing configuration files: " + Folder() + "\\*.config",
                "LinkChannel: cmd.init linked to debugger", "CreateChannel: cmd.post (logscope)",
                "LinkChannel: cmd.post linked to debugger", "SetDefaultChannel: channel does not exist cmd.none"}));
    EXPECT_EQ(TestSupport::Contents(PathOf("init.0.log")), Lines("IW"));
    EXPECT_EQ(TestSupport::Gunzip(PathOf("post.0.log.gz")), Lines("IW", "\r\n"));
    EXPECT_EQ(TestSupport::Contents(PathOf("cmd.x.log")), std::nullopt);
}

TEST_F(ConfiguredHostprobe, ShippedSampleKeepsADailyLogBesideTheProgramWithoutAComplaint) {
    const std::string sample =
        TestSupport::ReadFileBytes(TestSupport::ModuleDirectory() + L"samples\\hostprobe.config");
    ASSERT_NE(sample, "");
    File("hostprobe.config", sample);
    // An instance key without values in the 32-bit view: its debug line reaches the file alone.
    TestSupport::ScopedRegistryKey key(kSqlKey, KEY_WOW64_32KEY);
    std::vector<DetectorLine> logged = kDetectorLines;
    logged[1] = {'D', "[MSSQL Native] No values found in registry key (32-bit view)"};
    // Yesterday's log: the first record of the run still joins it before it becomes the backup.
    File("hostprobe.log", "yesterday\r\n");
    ASSERT_TRUE(TestSupport::SetMinutesSinceWrite(PathOf("hostprobe.log"), 2 * 24 * 60));
    const Outcome run = Run(kTraceToStdout);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.out,
              Traced({Start()[0], Start()[1], "Processing " + PathOf("hostprobe.config"),
                      "CreateChannel: hostprobe-log (file)", "LinkChannel: hostprobe-log linked to debugger"}));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.report, Report(true, logged));
    const std::regex stamp(
        "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}[+-][0-9]{2}:[0-9]{2} [0-9]+ ");
    const auto line = [](const DetectorLine& e) { return "<time> <tid> " + Signed(e, "", "\r\n"); };
    const std::string all = Written("DIW", line, logged);
    const size_t first = all.find('\n') + 1;
    EXPECT_EQ(std::regex_replace(TestSupport::Contents(PathOf("hostprobe.log.bak")).value_or("<none>"), stamp,
                                 "<time> <tid> "),
              "yesterday\r\n" + all.substr(0, first));
    EXPECT_EQ(
        std::regex_replace(TestSupport::Contents(PathOf("hostprobe.log")).value_or("<none>"), stamp, "<time> <tid> "),
        all.substr(first));
}

}  // namespace
