#include "logging/static/control_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "logging/channel_config.h"
#include "logging/common/platform.h"
#include "logging/logging_manager.h"
#include "logging/static/backend.h"
#include "logging/static/manager_internal.h"
#include "logging/static/trace_points.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using Logging::LoggingManager;
using Strings = std::vector<std::string>;

LoggingManager& M() {
    return LoggingManager::Instance();
}

std::string Cmd(const std::string& line) {
    return Logging::RunControlCommand(M(), line);
}

void LogTo(const char* channel, int32_t level) {
    Logging::Log(Logging::TraceLocation{"tests/control", "Test", 1}, level, channel, "%s", "x");
}

// The ";"-separated record of a "list" or "stat" reply that starts with "name=<name>,".
std::string RecordOf(const std::string& reply, const std::string& name) {
    const std::string start = "name=" + name + ",";
    size_t begin = 0;
    while (begin <= reply.size()) {
        size_t end = reply.find(';', begin);
        end = end == std::string::npos ? reply.size() : end;
        if (reply.compare(begin, start.size(), start) == 0) {
            return reply.substr(begin, end - begin);
        }
        begin = end + 1;
    }
    return "<none>";
}

constexpr char kConsoleFlags[] =
    "OF_TIMESTAMP | OF_TZD | OF_TID | OF_SIGNATURE | OF_DUMPERROR | OF_HIGHLIGHT | OF_NATIVE_EOL";

// Every test works on channels named "cc.*" and removes them, and restores the default.
class ControlCommands : public ::testing::Test {
protected:
    void SetUp() override {
        char* name = M().GetDefaultChannel();
        default_ = name;
        Logging::Free(name);
    }
    void TearDown() override {
        M().SetDefaultChannel(default_.c_str());
        M().RemoveChannel("re:cc\\..*");
    }
    std::string default_;
};

TEST_F(ControlCommands, WordsAreSplitAtBlanksAndTheCommandWordMatchedWithoutCase) {
    EXPECT_EQ(Logging::SplitCommandWords("  tune  a console "), (Strings{"tune", "a", "console"}));
    EXPECT_EQ(Logging::SplitCommandWords("a\tb"), Strings{"a\tb"});
    EXPECT_EQ(Cmd("TUNE cc.A Console"), "ok");
    EXPECT_EQ(RecordOf(Cmd("LiSt"), "cc.A"), "name=cc.A,type=console,enabled=1,level=INFORMATION,default=0");
    EXPECT_EQ(RecordOf(Cmd("list"), "cc.a"), "<none>");  // channel names keep their case
    for (const char* line : {"", "   ", "bogus", "lists", "config-cc.A"}) {
        EXPECT_EQ(Cmd(line), "Error: unsupported command") << line;
    }
    for (const char* line : {"config", "delete", "disable", "enable", "flags", "level cc.A", "link cc.A", "unlink cc.A",
                             "prop cc.A", "redirect cc.A", "tune cc.A", "trace 0 1 2"}) {
        EXPECT_EQ(Cmd(line), "Error: invalid parameters") << line;
    }
}

TEST_F(ControlCommands, ConfigListsTheChannelItsRoutesAndEveryReadableProperty) {
    ASSERT_EQ(Cmd("tune cc.a console"), "ok");
    ASSERT_EQ(Cmd("tune cc.b null"), "ok");
    const std::string fresh = std::string("name=cc.a,type=console,enabled=yes,level=INFORMATION,flags=") +
                              kConsoleFlags + ",msgprefix=,redirect=<not redirected>,links=<no links>";
    EXPECT_EQ(Cmd("config cc.a"), fresh);
    EXPECT_EQ(Cmd("link cc.b cc.a"), "ok");
    EXPECT_EQ(Cmd("tune cc.c debugger"), "ok");
    EXPECT_EQ(Cmd("link cc.c cc.a"), "ok");
    EXPECT_EQ(Cmd("redirect cc.a cc.c"), "ok");
    EXPECT_EQ(Cmd("prop cc.a zeta=7"), "ok");
    EXPECT_EQ(Cmd("prop cc.a alpha=0x10"), "ok");
    EXPECT_EQ(Cmd("disable cc.a"), "ok");
    EXPECT_EQ(Cmd("config cc.a"), std::string("name=cc.a,type=console,enabled=no,level=INFORMATION,flags=") +
                                      kConsoleFlags + ",msgprefix=,redirect=cc.c,links=cc.b cc.c,alpha=0x10,zeta=7");
    EXPECT_EQ(Cmd("default cc.a"), "ok");
    EXPECT_EQ(Cmd("config <default>").substr(0, 19), "name=cc.a,type=cons");
    EXPECT_EQ(Cmd("config cc.none"), "Error: unable to retrieve channel config: LOGGING_RC_CHANNEL_DOES_NOT_EXIST");
    EXPECT_EQ(Cmd("config re:cc.*"), "Error: unable to retrieve channel config: LOGGING_RC_INVALID_PARAM");
}

TEST_F(ControlCommands, ListAndDefaultShowTheChannelsAndTheDefaultOne) {
    ASSERT_EQ(Cmd("tune cc.a console"), "ok");
    ASSERT_EQ(Cmd("tune cc.b null"), "ok");
    ASSERT_EQ(Cmd("level cc.b warn"), "ok");
    ASSERT_EQ(Cmd("disable cc.b"), "ok");
    EXPECT_EQ(Cmd("default"), "name=" + default_);
    EXPECT_EQ(Cmd("default cc.b"), "ok");
    EXPECT_EQ(Cmd("default"), "name=cc.b");
    const std::string list = Cmd("list");
    EXPECT_EQ(RecordOf(list, "cc.a"), "name=cc.a,type=console,enabled=1,level=INFORMATION,default=0");
    EXPECT_EQ(RecordOf(list, "cc.b"), "name=cc.b,type=null,enabled=0,level=WARNING,default=1");
    EXPECT_EQ(std::count(list.begin(), list.end(), ';') + 1, static_cast<long>(Logging::ChannelNames().size()));
    EXPECT_EQ(Cmd("default cc.none"), "Error: unable to set default channel: LOGGING_RC_CHANNEL_DOES_NOT_EXIST");
    EXPECT_EQ(Cmd("default re:cc.*"), "Error: unable to set default channel: LOGGING_RC_INVALID_PARAM");
    EXPECT_EQ(Cmd("default"), "name=cc.b");
    EXPECT_EQ(Cmd("delete cc.b"), "ok");  // the default falls back to "debugger"
    EXPECT_EQ(Cmd("default"), "name=debugger");
    EXPECT_EQ(Cmd("delete cc.b"), "Error: unable to delete channel: LOGGING_RC_CHANNEL_DOES_NOT_EXIST");
    EXPECT_EQ(Cmd("delete <default>"), "ok");  // predefined: it comes back when next named
}

TEST_F(ControlCommands, EnableDisableLevelAndFlagsRewriteTheConfiguration) {
    ASSERT_EQ(Cmd("tune cc.a console"), "ok");
    EXPECT_EQ(Cmd("flags cc.a"), std::string("flags=") + kConsoleFlags);
    EXPECT_EQ(Cmd("flags cc.a timestamp 0x20 SIGN"), "ok");
    EXPECT_EQ(Cmd("flags cc.a"), "flags=OF_TIMESTAMP | OF_TID | OF_SIGNATURE");
    EXPECT_EQ(Cmd("flags cc.a 3"), "ok");  // only configurable bits are taken
    EXPECT_EQ(Cmd("flags cc.a"), "flags=<none>");
    EXPECT_EQ(Cmd("flags cc.a tid loud"), "Error: invalid flag: loud");
    EXPECT_EQ(Cmd("flags cc.a"), "flags=<none>");
    EXPECT_EQ(Cmd("level cc.a ERROR"), "ok");
    EXPECT_EQ(Cmd("level cc.a loud"), "Error: invalid level identifier");
    EXPECT_EQ(Cmd("disable cc.a"), "ok");
    EXPECT_EQ(RecordOf(Cmd("list"), "cc.a"), "name=cc.a,type=console,enabled=0,level=ERROR_TRACE,default=0");
    EXPECT_EQ(Cmd("enable cc.a"), "ok");
    EXPECT_EQ(RecordOf(Cmd("list"), "cc.a"), "name=cc.a,type=console,enabled=1,level=ERROR_TRACE,default=0");
    for (const char* line :
         {"enable cc.none", "disable cc.none", "flags cc.none", "flags cc.none tid", "level cc.none info"}) {
        EXPECT_EQ(Cmd(line), "Error: unable to retrieve channel config: LOGGING_RC_CHANNEL_DOES_NOT_EXIST") << line;
    }
}

// Refuses every configuration at error level: the only way a channel that exists can refuse
// to be re-tuned with its own configuration.
class PickyBackend : public Logging::BaseBackend<Logging::GateConfig, 0> {
public:
    void Write(Logging::TraceRecord&) override {}
    int32_t Open(const char*) override {
        return GetConfig().Level == Logging::ERROR_TRACE ? Logging::kLoggingRcNotSupported : 0;
    }
};

TEST_F(ControlCommands, AReconfigurationTheBackendRefusesRepliesWithItsCode) {
    const Logging::BackendFactory gate = Logging::RegisterBackendFactory(
        Logging::BACKEND_GATE, [] { return std::shared_ptr<Logging::Backend>(std::make_shared<PickyBackend>()); });
    ASSERT_EQ(M().TuneChannel("cc.g", Logging::GateConfig()), 0);
    EXPECT_EQ(Cmd("level cc.g error"), "Error: unable to reconfigure channel: 12");
    M().RemoveChannel("cc.g");
    Logging::RegisterBackendFactory(Logging::BACKEND_GATE, gate);
}

TEST_F(ControlCommands, LinksAndRedirectionsAreSetAndRemovedLoopsRefused) {
    ASSERT_EQ(Cmd("tune cc.a console"), "ok");
    ASSERT_EQ(Cmd("tune cc.b null"), "ok");
    EXPECT_EQ(Cmd("link cc.a cc.b"), "ok");
    EXPECT_EQ(Cmd("link cc.a cc.b"), "Error: unable to link channels: LOGGING_RC_CHANNEL_DOES_NOT_EXIST");
    EXPECT_EQ(Cmd("link cc.b cc.a"), "Error: unable to link channels: LOGGING_RC_ENDLESS_LOOP");
    EXPECT_EQ(Cmd("link cc.a cc.none"), "Error: unable to link channels: LOGGING_RC_CHANNEL_DOES_NOT_EXIST");
    EXPECT_EQ(Cmd("config cc.b").find(",links=cc.a"), Cmd("config cc.b").rfind(",links=cc.a"));
    EXPECT_NE(Cmd("config cc.b").find("redirect=<not redirected>,links=cc.a"), std::string::npos);
    EXPECT_EQ(Cmd("unlink cc.a cc.b"), "ok");
    EXPECT_EQ(Cmd("unlink cc.a cc.b"), "Error: unable to unlink channels: LOGGING_RC_CHANNEL_DOES_NOT_EXIST");
    EXPECT_NE(Cmd("config cc.b").find("links=<no links>"), std::string::npos);

    EXPECT_EQ(Cmd("redirect cc.a cc.b"), "ok");
    EXPECT_EQ(Cmd("redirect cc.b cc.a"), "Error: unable to set redirection: LOGGING_RC_ENDLESS_LOOP");
    EXPECT_EQ(Cmd("redirect cc.none cc.a"), "Error: unable to set redirection: LOGGING_RC_CHANNEL_DOES_NOT_EXIST");
    EXPECT_NE(Cmd("config cc.a").find("redirect=cc.b,"), std::string::npos);
    EXPECT_EQ(Cmd("redirect cc.a <self>"), "ok");
    EXPECT_NE(Cmd("config cc.a").find("redirect=<not redirected>,"), std::string::npos);
}

TEST_F(ControlCommands, PropReadsSetsAndClearsWithTheCodeOfEachFailure) {
    ASSERT_EQ(Cmd("tune cc.a null"), "ok");
    EXPECT_EQ(Cmd("prop cc.a limit=0x10"), "ok");
    EXPECT_EQ(Cmd("prop cc.a limit"), "limit=0x10");
    EXPECT_EQ(Cmd("prop cc.a limit=abc"), "Error: unable to set property: LOGGING_RC_PROPERTY_TYPE_MISMATCH");
    EXPECT_EQ(Cmd("prop cc.a limit="), "ok");
    EXPECT_EQ(Cmd("prop cc.a limit"), "Error: unable to get property: LOGGING_RC_NO_SUCH_PROPERTY");
    EXPECT_EQ(Cmd("prop cc.a limit="), "Error: unable to set property: LOGGING_RC_NO_SUCH_PROPERTY");
    EXPECT_EQ(Cmd("prop cc.a =5"), "Error: unable to set property: LOGGING_RC_INVALID_PARAM");
    EXPECT_EQ(Cmd("prop cc.none x"), "Error: unable to get property: LOGGING_RC_CHANNEL_DOES_NOT_EXIST");
    EXPECT_EQ(Cmd("prop cc.none x=1"), "Error: unable to set property: LOGGING_RC_CHANNEL_DOES_NOT_EXIST");
}

TEST_F(ControlCommands, StatCountsDeliveriesPerNameAndWritesPerChannel) {
    ASSERT_EQ(Cmd("tune cc.a debugger"), "ok");
    ASSERT_EQ(Cmd("level cc.a warn"), "ok");
    LogTo("cc.a", Logging::INFORMATION);  // counted, filtered out
    LogTo("cc.a", Logging::WARNING);
    LogTo("cc.a", Logging::ERROR_TRACE);
    LogTo("cc.nobody", Logging::ERROR_TRACE);
    const std::string stat = Cmd("stat");
    EXPECT_EQ(RecordOf(stat, "cc.a"), "name=cc.a,count=3,exists=1,usageCount=2");
    EXPECT_EQ(RecordOf(stat, "cc.nobody"), "name=cc.nobody,count=1,exists=0,usageCount=0");
}

const Logging::TracePoint g_first("first", "Demo::First", "tests/control/a.cpp", 10);
const Logging::TracePoint g_second("second", "Demo::Second", "tests/control/b.cpp", 20, true);

TEST_F(ControlCommands, TraceListsOneOrAllTracePointsAndSwitchesThem) {
    ASSERT_EQ(g_first.Id(), 0u);
    ASSERT_EQ(g_second.Id(), 1u);
    g_second.Hit();
    EXPECT_EQ(Cmd("trace"),
              "name=first,count=0,enabled=0,function=Demo::First,file=tests/control/a.cpp,line=10;"
              "name=second,count=1,enabled=1,function=Demo::Second,file=tests/control/b.cpp,line=20");
    EXPECT_EQ(Cmd("trace 1"), "name=second,count=1,enabled=1,function=Demo::Second,file=tests/control/b.cpp,line=20");
    EXPECT_FALSE(g_first.Hit());
    EXPECT_EQ(Cmd("trace 0 7"), "ok");
    EXPECT_TRUE(g_first.Hit());
    EXPECT_EQ(Cmd("trace 0h x"), "ok");  // atoi reads no number: 0 switches it off
    EXPECT_FALSE(g_first.Enabled());
    EXPECT_EQ(Cmd("trace 0").substr(0, 27), "name=first,count=2,enabled=");
    for (const char* line : {"trace 2", "trace x", "trace -1", "trace 2 1"}) {
        EXPECT_EQ(Cmd(line), "Error: tracepoint with specified id is not registered") << line;
    }
}

// The configuration "tune" builds, as the fields that matter, or its error reply.
std::string Tuned(const std::string& line) {
    std::unique_ptr<Logging::ChannelConfig> built;
    const std::string error = Logging::BuildTuneConfiguration(Logging::SplitCommandWords(line), built);
    if (!error.empty()) {
        return error;
    }
    std::string text = Logging::BackendTypeName(built->GetType());
    char flags[16];
    std::snprintf(flags, sizeof flags, "%#x", built->Flags);
    text += " level=" + std::to_string(built->Level) + " flags=" + flags;
    if (auto* file = dynamic_cast<Logging::FileConfig*>(built.get())) {
        text += " " + file->File + " append=" + std::to_string(file->Append) + " max=" + std::to_string(file->MaxSize) +
                " oneday=" + std::to_string(file->OneDay);
    } else if (auto* shared = dynamic_cast<Logging::SharedFileConfig*>(built.get())) {
        text += " " + shared->File + " timeout=" + std::to_string(shared->Timeout) +
                " max=" + std::to_string(shared->MaxSize);
    } else if (auto* folder = dynamic_cast<Logging::FileFolderConfig*>(built.get())) {
        text += " " + folder->Folder + "|" + folder->File + "|" + folder->Prefix + "|" + folder->Extension +
                " files=" + std::to_string(folder->MaxFiles) + " age=" + std::to_string(folder->MaxAge) +
                " max=" + std::to_string(folder->MaxSize) + " scan=" + std::to_string(folder->ScanPeriod);
    } else if (auto* gate = dynamic_cast<Logging::GateConfig*>(built.get())) {
        text += " " + gate->Server + ":" + std::to_string(gate->Port) + " filter=" + std::to_string(gate->Filter);
    } else if (auto* scope = dynamic_cast<Logging::LogScopeConfig*>(built.get())) {
        text += " " + scope->Folder + "|" + scope->Prefix + "|" + scope->Extension +
                " max=" + std::to_string(scope->MaxSize) + " files=" + std::to_string(scope->MaxFiles) +
                " compress=" + std::to_string(scope->Compress);
    }
    return text;
}

TEST_F(ControlCommands, TuneBuildsEachTypeFromItsDefaultsAndTheGivenKeys) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"c null", "null level=2 flags=0x1000f4"},
        {"c Debugger", "debugger level=2 flags=0x1000f4"},
        {"c console", "console level=2 flags=0x1008f4"},
        {"c file file=a.log", "file level=2 flags=0x1000f4 a.log append=1 max=1048576 oneday=0"},
        {"c file maxsize=4096 append=false file=C:\\x\\b.log",
         "file level=2 flags=0x1000f4 C:\\x\\b.log append=0 "
         "max=4096 oneday=0"},
        {"c file file=a.log append=0x0", "file level=2 flags=0x1000f4 a.log append=0 max=1048576 oneday=0"},
        {"c sharedfile file=s.log timeout=10 maxSize=2000h",
         "sharedfile level=2 flags=0x1030f4 s.log timeout=10 max=8192"},
        {"c filefolder", "filefolder level=2 flags=0x1000f4 ||| files=4294967295 age=168 max=4294967295 scan=1800000"},
        {"c filefolder folder=F prefix=p extension=txt maxFiles=3 maxAge=2 maxSize=9",
         "filefolder level=2 flags=0x1000f4 F||p|txt files=3 age=2 max=9 scan=1800000"},
        {"c logscope", "logscope level=2 flags=0x1000f4 ||log max=1048576 files=10 compress=1"},
        {"c logscope prefix=p maxSize=1 maxFiles=2 compress=0",
         "logscope level=2 flags=0x1000f4 |p|log max=1 "
         "files=2 compress=0"},
        {"c file", "Error: invalid file name"},
        {"c file file=", "Error: invalid file name"},
        {"c sharedfile maxSize=1", "Error: invalid file name"},
        {"c file file=a.log maxSize=big", "Error: invalid parameters"},
        {"c file file=a.log append=maybe", "Error: invalid parameters"},
        {"c file file=a.log oneday=1", "Error: invalid parameters"},  // not a key of "tune"
        {"c file file=a.log stray", "Error: invalid parameters"},
        {"c logscope folder=x", "Error: invalid parameters"},
        {"c console maxSize=1", "Error: invalid parameters"},
        {"c custom", "Error: unable to tune channel: LOGGING_RC_UNSUPPORTED_BACKEND_TYPE"},
        {"c gate", "gate level=2 flags=0x1000f4 :0 filter=1"},
        {"c gate server=127.0.0.1 port=0x5e24", "gate level=2 flags=0x1000f4 127.0.0.1:24100 filter=1"},
        {"c gate port=24100 filter=0", "Error: invalid parameters"},
        {"c bogus", "Error: unable to tune channel: LOGGING_RC_UNSUPPORTED_BACKEND_TYPE"},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(Tuned(line), expected) << line;
    }
}

TEST_F(ControlCommands, TuneAppliesTheConfigurationOrRepliesWithTheManagersCode) {
    EXPECT_EQ(Cmd("tune cc.a console"), "ok");
    EXPECT_EQ(Cmd("level cc.a error"), "ok");
    EXPECT_EQ(Cmd("tune cc.a console"), "ok");  // from the defaults again
    EXPECT_EQ(RecordOf(Cmd("list"), "cc.a"), "name=cc.a,type=console,enabled=1,level=INFORMATION,default=0");
    EXPECT_EQ(Cmd("tune cc#a console"), "Error: unable to tune channel: LOGGING_RC_INVALID_PARAM");
    EXPECT_EQ(Cmd("tune panic null"), "Error: unable to tune channel: LOGGING_RC_INVALID_PARAM");
    // A gate without its receiver's address cannot open.
    EXPECT_EQ(Cmd("tune cc.g gate port=24100"), "Error: unable to tune channel: LOGGING_RC_INVALID_PARAM");
    EXPECT_EQ(Cmd("tune cc.g gate server=127.0.0.1 port=9"), "ok");
    EXPECT_EQ(Cmd("config cc.g"),
              "name=cc.g,type=gate,enabled=yes,level=INFORMATION,flags=OF_DUMPERROR | OF_NOLF,msgprefix=,"
              "redirect=<not redirected>,links=<no links>,server=127.0.0.1,port=9,serial=0,minPort=24100,"
              "maxPort=24300,filter=1");
}

TEST_F(ControlCommands, TuneMakesFileWritingChannelsWhosePropertiesShowInConfig) {
    const TestSupport::TempDir dir;
    const std::string folder = dir.narrowPath();
    const std::string home = Logging::Platform::ExecutableDirectory();
    EXPECT_EQ(Cmd("tune cc.s sharedfile file=" + folder + "s.log maxSize=4096 timeout=100"), "ok");
    EXPECT_EQ(Cmd("config cc.s"),
              "name=cc.s,type=sharedfile,enabled=yes,level=INFORMATION,flags=OF_TIMESTAMP | OF_TZD | "
              "OF_PNAME | OF_PID | OF_TID | OF_SIGNATURE | OF_DUMPERROR | OF_NATIVE_EOL,msgprefix=,"
              "redirect=<not redirected>,links=<no links>,maxSize=4096,timeout=100,file=" +
                  folder + "s.log,homeDir=" + home + ",oneday=0,number-of-logs=2");
    EXPECT_EQ(Cmd("prop cc.s maxSize=0x2000"), "ok");
    EXPECT_EQ(Cmd("prop cc.s maxSize"), "maxSize=8192");
    EXPECT_EQ(Cmd("tune cc.f filefolder folder=" + folder + " prefix=p extension=txt maxFiles=3 maxAge=2"), "ok");
    EXPECT_EQ(Cmd("prop cc.f maxFiles"), "maxFiles=3");
    EXPECT_EQ(Cmd("prop cc.f extension"), "extension=txt");
    EXPECT_EQ(Cmd("delete re:cc\\.[sf]"), "ok");
    const std::string routes = ",msgprefix=,redirect=<not redirected>,links=<no links>,";
    EXPECT_EQ(Cmd("tune cc.f file file=" + folder + "f.log maxSize=12 append=0"), "ok");
    EXPECT_EQ(Cmd("flags cc.f signature"), "ok");
    EXPECT_EQ(Cmd("config cc.f"), "name=cc.f,type=file,enabled=yes,level=INFORMATION,flags=OF_SIGNATURE" + routes +
                                      "append=0,active=1,oneday=0,maxSize=12,file=" + folder + "f.log,homeDir=" + home +
                                      ",number-of-logs=2");
    EXPECT_EQ(Cmd("prop cc.f file=other.log"), "Error: unable to set property: LOGGING_RC_READ_ONLY");

    // "tune" names no folder for a log-scope channel: its files go beside the program.
    const std::string prefix = "cc-tune-" + std::to_string(::GetCurrentProcessId());
    struct Cleanup {
        std::string base;
        ~Cleanup() {
            for (const char* end : {".0.log", ".0.log.gz"}) {
                std::remove((base + end).c_str());
            }
        }
    } const cleanup{home + "\\" + prefix};
    EXPECT_EQ(Cmd("tune cc.s logscope prefix=" + prefix + " maxSize=16 maxFiles=2 compress=0"), "ok");
    EXPECT_EQ(Cmd("flags cc.s signature"), "ok");
    EXPECT_EQ(Cmd("config cc.s"), "name=cc.s,type=logscope,enabled=yes,level=INFORMATION,flags=OF_SIGNATURE" + routes +
                                      "folder=,prefix=" + prefix +
                                      ",extension=log,maxSize=16,maxFiles=2,number-of-logs=2,compress=0,oneday=0,"
                                      "homeDir=" +
                                      home + "\\,currentFile=" + cleanup.base +
                                      ".0.log,maxBuffer=0,numRelocations=0,queued=0,readLog=0");
    // Tuned again as gzip from the defaults of the type, the channel starts a gzip file of its own.
    EXPECT_EQ(Cmd("tune cc.s logscope prefix=" + prefix), "ok");
    EXPECT_EQ(Cmd("prop cc.s currentFile"), "currentFile=" + cleanup.base + ".0.log.gz");
    EXPECT_EQ(Cmd("delete cc.s"), "ok");
}

TEST_F(ControlCommands, ACommandListRunsEachCommandInTurn) {
    Logging::RunControlCommands(M(), "tune cc.e console; ;default cc.e;;bogus;level cc.e warn");
    EXPECT_EQ(RecordOf(Cmd("list"), "cc.e"), "name=cc.e,type=console,enabled=1,level=WARNING,default=1");
}

}  // namespace
