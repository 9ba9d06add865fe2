// Configuration files and the environment's commands in real hostprobe runs: a copy of the
// program in a folder of its own, with the files beside it, its streams and report compared
// byte for byte. Console channels show what the configuration did: the detectors' lines, and
// the library's own messages once "logging-trace" is made a console channel.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "logging/common/platform.h"
#include "support/process.h"
#include "support/registry.h"
#include "support/temp_dir.h"

namespace {

struct DetectorLine {
    char level;
    const char* text;
    const char* function;
};

// What the detectors log at INFORMATION and above on a clean prefix, in the order they log it.
const DetectorLine kDetectorLines[] = {
    {'W',
     "[MSSQL Native] Failed to open registry key: SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance "
     "Names\\SQL (64-bit view, error=2)",
     "MsSql::NativeDetectionAddon::CheckMsSqlInRegistry"},
    {'W',
     "[MSSQL Native] Failed to open registry key: SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance "
     "Names\\SQL (32-bit view, error=2)",
     "MsSql::NativeDetectionAddon::CheckMsSqlInRegistry"},
    {'I', "[MSSQL Native] Microsoft SQL Server not detected",
     "MsSql::NativeDetectionAddon::GetMachineInstalledApplications"},
    {'W', "[Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\Exchange\\Setup (error=2)",
     "MsExchange::NativeDetectionAddon::GetExchangeVersionFromSetupKey"},
    {'W', "[Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\Exchange\\v8.0\\Setup (error=2)",
     "MsExchange::NativeDetectionAddon::GetExchangeVersionFromSetupKey"},
    {'W', "[Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\ExchangeServer\\v14\\Setup (error=2)",
     "MsExchange::NativeDetectionAddon::GetExchangeVersionFromSetupKey"},
    {'W', "[Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\ExchangeServer\\v15\\Setup (error=2)",
     "MsExchange::NativeDetectionAddon::GetExchangeVersionFromSetupKey"},
    {'I', "[Exchange Native] Microsoft Exchange not detected",
     "MsExchange::NativeDetectionAddon::GetMachineInstalledApplications"},
    {'I', "[AD Native] Active Directory not detected (not a Domain Controller)",
     "ActiveDirectory::NativeDetectionAddon::GetMachineInstalledApplications"},
    {'I', "[Oracle Detection] Starting Oracle VSS Writer detection",
     "OracleBackup::NativeDetectionAddon::GetMachineInstalledApplications"},
    {'W', "[Oracle Detection] Failed to create VSS backup components: 0x80004001",
     "OracleBackup::NativeDetectionAddon::IsOracleVssWriterPresent"},
    {'I', "[Oracle Detection] Oracle VSS Writer not found",
     "OracleBackup::NativeDetectionAddon::GetMachineInstalledApplications"},
};

// The detector lines a channel writes: those of the given levels, each made by `line`.
template <typename Line>
std::string Written(const std::string& levels, const Line& line) {
    std::string text;
    for (const DetectorLine& entry : kDetectorLines) {
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

// The report when every detector line reached it, and when none did (no LogMessages element).
std::string Report(bool withLog) {
    std::string infos, warnings;
    for (const DetectorLine& entry : kDetectorLines) {
        (entry.level == 'I' ? infos : warnings) += "    <Message>" + Signed(entry, "", "</Message>\r\n");
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DetectionResult exitCode=\"0\">\r\n"
           "  <Applications>\r\n  </Applications>\r\n" +
           (withLog ? "  <LogMessages>\r\n" + infos + warnings + "  </LogMessages>\r\n" : "") +
           "</DetectionResult>\r\n";
}

constexpr char kTraceToStdout[] = "tune logging-trace console;flags logging-trace signature nostderr";

struct Outcome {
    DWORD exitCode;
    DWORD processId;
    std::string out;
    std::string err;
    std::string report;
};

class ConfiguredHostprobe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(TestSupport::RegistryKeyExists(L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL",
                                                    KEY_WOW64_32KEY))
            << "prefix not clean";
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
        return {result.exitCode, result.processId, result.out, result.err,
                TestSupport::ReadFileBytes(dir.path() + L"report.xml")};
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

TEST_F(ConfiguredHostprobe, ChannelAttributesShapeEachChannelsLines) {
    Statements(
        "attributes.config",
        "<channel id=\"a\" type=\"console\" flags=\"signature\" msgprefix=\"[a] \" level=\"warning\"/>\n"
        "<channel id=\"b\" type=\"console\" flags=\"sign eol\" msgprefix=\"[b] \" level=\"WARN\" stderr=\"false\"/>\n"
        "<channel id=\"c\" type=\"console\" flags=\"0x40\" enabled=\"false\" stderr=\"false\"/>\n"
        "<channel id=\"d\" type=\"console\" flags=\"0x40 0x4\" eol=\"false\" nolf=\"true\" dumpfunction=\"1\" "
        "stderr=\"false\" level=\"info\"/>\n"
        "<channel id=\"e\" type=\"console\" flags=\"signature pid tid timestamp tzd pname\" eol=\"true\" "
        "stderr=\"0\" msgprefix=\"[{pname}] \"/>\n"
        "<channel id=\"f\" type=\"console\" level=\"loud\" flags=\"signature loud\" stderr=\"false\"/>\n"
        "<link id=\"a\" to=\"debugger\"/><link id=\"b\" to=\"debugger\"/><link id=\"c\" to=\"debugger\"/>\n"
        "<link id=\"d\" to=\"debugger\"/><link id=\"e\" to=\"debugger\"/><link id=\"f\" to=\"debugger\"/>\n"
        "<channel id=\"g\" type=\"sharedfile\" file=\"shared.log\" maxsize=\"0x10000\" flags=\"signature eol\" "
        "level=\"warn\"/>\n<link id=\"g\" to=\"debugger\"/>\n");
    // Each record reaches the linked channels in link order; on standard output b, d, e and f.
    std::string out;
    for (const DetectorLine& entry : kDetectorLines) {
        if (entry.level == 'W') {
            out += Signed(entry, "[b] ", "\r\n");
        }
        out += Signed(entry, "", "") + " " + entry.function + "()";
        out += "<time> hostprobe(<pid>) <tid> " + Signed(entry, "[hostprobe] ", "\r\n");
        out += Signed(entry, "");
    }
    const Outcome run = Run();
    const std::regex stamp(
        "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}[+-][0-9]{2}:[0-9]{2} "
        "hostprobe\\(" +
        std::to_string(run.processId) + "\\) [0-9]+ ");
    EXPECT_EQ(std::regex_replace(run.out, stamp, "<time> hostprobe(<pid>) <tid> "), out);
    EXPECT_EQ(run.err, Written("W", [](const DetectorLine& e) { return Signed(e, "[a] "); }));
    EXPECT_EQ(run.report, Report(true));
    // A file name without a folder lands beside the program.
    EXPECT_EQ(TestSupport::ReadFileBytes(dir.path() + L"shared.log"),
              Written("W", [](const DetectorLine& e) { return Signed(e, "", "\r\n"); }));
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

TEST_F(ConfiguredHostprobe, InitCommandsRunBeforeTheFilesAndPostInitCommandsAfterThem) {
    // The file links a channel that only the first commands can have made, and sets a level that
    // only the later commands can override.
    Statements("order.config", "<link id=\"c\" to=\"debugger\"/>\n<setlevel id=\"c\" level=\"information\"/>\n");
    const Outcome run = Run("tune c console;flags c signature;level c debug", "level c warn");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, Written("W", [](const DetectorLine& e) { return Signed(e, ""); }));
    EXPECT_EQ(run.report, Report(true));
}

}  // namespace
