// The configuration reader in-process: how each attribute turns into a configuration, and
// which files the reading modes that hostprobe does not use take. The statements are tested
// in real hostprobe runs (config_files_e2e_test.cpp).

#include "logging/static/config_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/xml/xml_reader.h"
#include "logging/channel_config.h"
#include "logging/common/platform.h"
#include "logging/logging_manager.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using Logging::LoggingManager;
using Strings = std::vector<std::string>;

LoggingManager& M() {
    return LoggingManager::Instance();
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%#x", value);
    return text;
}

// The configuration of <channel id="c" ...attributes/>, as its fields.
std::string Built(const std::string& attributes) {
    Xml::Document document;
    Xml::Error error;
    if (!Xml::Parse("<channel id=\"c\" " + attributes + "/>", document, error)) {
        return "parse error: " + error.Describe();
    }
    const std::unique_ptr<Logging::ChannelConfig> built = Logging::BuildChannelConfig(document.Root());
    std::string text = Logging::BackendTypeName(built->GetType());
    text += std::string(built->Enabled ? "" : " disabled") + " level=" + std::to_string(built->Level) +
            " flags=" + Hex(built->Flags) + (built->MsgPrefix.empty() ? "" : " prefix=" + built->MsgPrefix);
    if (auto* file = dynamic_cast<Logging::FileConfig*>(built.get())) {
        text += " [" + file->File + "] oneday=" + std::to_string(file->OneDay) +
                " append=" + std::to_string(file->Append) + " max=" + Hex(file->MaxSize);
    } else if (auto* shared = dynamic_cast<Logging::SharedFileConfig*>(built.get())) {
        text += " [" + shared->File + "] oneday=" + std::to_string(shared->OneDay) + " max=" + Hex(shared->MaxSize) +
                " timeout=" + std::to_string(shared->Timeout);
    } else if (auto* folder = dynamic_cast<Logging::FileFolderConfig*>(built.get())) {
        text += " [" + folder->Folder + "|" + folder->File + "|" + folder->Prefix + "|" + folder->Extension +
                "] files=" + Hex(folder->MaxFiles) + " max=" + Hex(folder->MaxSize) +
                " age=" + std::to_string(folder->MaxAge) + " scan=" + std::to_string(folder->ScanPeriod);
    } else if (auto* scope = dynamic_cast<Logging::LogScopeConfig*>(built.get())) {
        text += " [" + scope->Folder + "|" + scope->Prefix + "|" + scope->Extension +
                "] oneday=" + std::to_string(scope->OneDay) + " max=" + Hex(scope->MaxSize) +
                " files=" + std::to_string(scope->MaxFiles) + " compress=" + std::to_string(scope->Compress);
    }
    return text;
}

// What the reader traced to "logging-trace" while `run` ran, without the manager's own lines.
template <typename Run>
Strings ReaderTraces(const Run& run) {
    TestSupport::LogCapture trace(Logging::kSelfTraceChannel);
    run();
    Strings texts;
    for (const std::string& text : trace.Texts()) {
        texts.push_back(text.substr(11));  // "I00000000: "
    }
    return texts;
}

TEST(ConfigReader, EachChannelTypeStartsFromItsDefaultsAndReadsItsOwnAttributes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"type=\"null\"", "null level=2 flags=0x1000f4"},
        {"type=\"debugger\"", "debugger level=2 flags=0x1000f4"},
        {"type=\"console\"", "console level=2 flags=0x1008f4"},
        {"type=\"file\"", "file level=2 flags=0x1000f4 [] oneday=0 append=1 max=0x100000"},
        {"type=\"file\" maxsize=\"0x20\" append=\"false\" oneday=\"true\" file=\"C:\\l\\a.log\"",
         "file level=2 flags=0x1000f4 [C:\\l\\a.log] oneday=1 append=0 max=0x20"},
        {"type=\"sharedfile\"", "sharedfile level=2 flags=0x1030f4 [] oneday=0 max=0x2000000 timeout=3000"},
        {"type=\"sharedfile\" file=\"s.log\" oneday=\"1\" maxsize=\"4096\" timeout=\"10h\"",
         "sharedfile level=2 flags=0x1030f4 [s.log] oneday=1 max=0x1000 timeout=16"},
        {"type=\"filefolder\"",
         "filefolder level=2 flags=0x1000f4 [|||] files=0xffffffff max=0xffffffff age=168 scan=1800000"},
        {"type=\"filefolder\" folder=\"F\" file=\"f\" prefix=\"p\" extension=\"txt\" maxfiles=\"3\" maxsize=\"9\" "
         "maxage=\"2\" scanperiod=\"1000\"",
         "filefolder level=2 flags=0x1000f4 [F|f|p|txt] files=0x3 max=0x9 age=2 scan=1000"},
        {"type=\"logscope\"", "logscope level=2 flags=0x1000f4 [||log] oneday=0 max=0x100000 files=10 compress=1"},
        {"type=\"logscope\" folder=\"ignored\" prefix=\"p\" oneday=\"true\" maxsize=\"1\" maxfiles=\"2\" "
         "compress=\"0\"",
         "logscope level=2 flags=0x1000f4 [|p|log] oneday=1 max=0x1 files=2 compress=0"},
        // Attributes of other types, and names in another case, are not read.
        {"type=\"file\" timeout=\"5\" MaxSize=\"5\" File=\"x\"",
         "file level=2 flags=0x1000f4 [] oneday=0 append=1 max=0x100000"},
        {"type=\"custom\"", "null level=2 flags=0x1000f4"},
        {"type=\"gate\" server=\"x\"", "null level=2 flags=0x1000f4"},
        {"type=\"Console\"", "null level=2 flags=0x1000f4"},
        {"type=\"\"", "null level=2 flags=0x1000f4"},
    };
    for (const auto& [attributes, expected] : cases) {
        EXPECT_EQ(Built(attributes), expected) << attributes;
    }
}

TEST(ConfigReader, CommonAttributesApplyAfterTheTypesInTheirOwnOrder) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"enabled=\"false\" level=\"warn\" msgprefix=\"[{pid}] \"",
         "null disabled level=3 flags=0x1000f4 prefix=[{pid}] "},
        {"enabled=\"0\"", "null disabled level=2 flags=0x1000f4"},
        {"enabled=\"-1\" level=\"ERROR\"", "null level=4 flags=0x1000f4"},
        {"enabled=\"0x0\"", "null disabled level=2 flags=0x1000f4"},
        {"level=\"debug\"", "null level=1 flags=0x1000f4"},
        {"level=\"information\"", "null level=2 flags=0x1000f4"},
        {"level=\"info\"", "null level=2 flags=0x1000f4"},
        {"level=\"warning\"", "null level=3 flags=0x1000f4"},
        {"level=\"critical_error\"", "null level=5 flags=0x1000f4"},
        // The flags replace the type's default; the single flags change the result, whatever
        // the order in which the element lists them.
        {"signature=\"false\" flags=\"timestamp tid\"", "null level=2 flags=0x30"},
        {"flags=\"\"", "null level=2 flags=0"},
        {"flags=\"0x7  EOL\"", "null level=2 flags=0x4"},
        {"flags=\"0x303fff\"", "null level=2 flags=0x303ffc"},
        {"type=\"console\" highlight=\"false\" stderr=\"false\"", "console level=2 flags=0x3000f4"},
        {"flags=\"nostderr\" stderr=\"true\"", "null level=2 flags=0"},
        {"flags=\"\" timestamp=\"1\" tzd=\"1\" tid=\"1\" pid=\"1\" pname=\"1\" signature=\"1\" dumperror=\"1\" "
         "nolf=\"1\" debug=\"1\" dumpline=\"1\" dumpfunction=\"1\" highlight=\"1\" eol=\"1\"",
         "null level=2 flags=0x103ffc"},
        {"flags=\"0x303ffc\" timestamp=\"0\" tzd=\"0\" tid=\"0\" pid=\"0\" pname=\"0\" signature=\"0\" dumperror=\"0\" "
         "nolf=\"0\" debug=\"0\" dumpline=\"0\" dumpfunction=\"0\" highlight=\"0\" eol=\"0\"",
         "null level=2 flags=0x200000"},
    };
    for (const auto& [attributes, expected] : cases) {
        EXPECT_EQ(Built(attributes), expected) << attributes;
    }
}

TEST(ConfigReader, RejectedValuesAreTracedAndTakeTheirDefaults) {
    Strings built;
    const Strings traces = ReaderTraces([&] {
        built.push_back(Built("level=\"loud\" flags=\"tid loud 0x10\""));
        built.push_back(Built("level=\"critical\" enabled=\"yes\" eol=\"on\""));
        built.push_back(Built("type=\"file\" maxsize=\"12abc\" append=\"maybe\""));
    });
    EXPECT_EQ(built, (Strings{"null level=2 flags=0x30", "null level=2 flags=0x1000f4",
                              "file level=2 flags=0x1000f4 [] oneday=0 append=1 max=0x100000"}));
    EXPECT_EQ(traces, (Strings{"GetEventLevel: invalid event level value: loud", "GetFlags: invalid flag value: loud",
                               "GetBool: invalid bool value: yes", "GetEventLevel: invalid event level value: critical",
                               "GetBool: invalid bool value: on", "GetBool: invalid bool value: maybe",
                               "GetNumber: invalid number value: 12abc"}));
}

class ConfigFiles : public ::testing::Test {
protected:
    void Write(const std::string& name, const std::string& channel) {
        TestSupport::WriteFileBytes(
            dir_.path() + std::wstring(name.begin(), name.end()),
            "<config><logging><channel id=\"" + channel + "\" type=\"null\"/></logging></config>");
    }
    Strings Read(const std::string& name, uint32_t mode) {
        return ReaderTraces([&] { Logging::ReadConfiguration(M(), dir_.narrowPath(), name, mode); });
    }
    void TearDown() override { M().RemoveChannel("re:cr\\..*"); }

    TestSupport::TempDir dir_;
};

TEST_F(ConfigFiles, ModeOneReadsOnlyTheExecutablesFileModeThreeOnlyTheNamedOne) {
    const std::string exe = Logging::Platform::ExecutableBaseName();
    Write(exe + ".config", "cr.own");
    Write("other.config", "cr.other");
    Write("other.xml", "cr.xml");
    const std::string folder = dir_.narrowPath().substr(0, dir_.narrowPath().size() - 1);
    Strings expected = {"Parsing configuration files: " + folder + "\\*.config"};
    for (const std::string& file : Logging::Platform::ListFiles(dir_.narrowPath(), "*.config")) {
        const std::string path = dir_.narrowPath() + file;
        expected.push_back(file == "other.config" ? "Skip " + path : "Processing " + path);
        if (file != "other.config") {
            expected.push_back("CreateChannel: cr.own (null)");
        }
    }
    EXPECT_EQ(Read("", 1), expected);
    EXPECT_EQ(Read("other.xml", 3),
              (Strings{"Processing " + dir_.narrowPath() + "other.xml", "CreateChannel: cr.xml (null)"}));
    EXPECT_EQ(Read("missing.config", 3), (Strings{"Processing " + dir_.narrowPath() + "missing.config"}));
}

}  // namespace
