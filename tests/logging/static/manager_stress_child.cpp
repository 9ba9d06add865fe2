// logging_stress_child <home folder> <records>: eight threads log <records> records in all
// over channels of every type (manager_stress.h) while a ninth re-types, re-tunes, links,
// redirects and removes the churned ones (and "panic"), and a tenth fires commands at the
// control pipe. The console lines go to standard output, the files below the home folder;
// what the custom tracers and the gate receiver got, the usage counts and the other figures
// go to standard error, one "<what> <name> <numbers>" line each, for the test to check.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/common/assert.h"
#include "core/common/handles.h"
#include "logging/channel_config.h"
#include "logging/common/win_pipe.h"
#include "logging/logging_manager.h"
#include "logging/static/control_pipe.h"
#include "logging/static/gate_datagrams.h"
#include "logging/static/manager_internal.h"
#include "logging/static/manager_stress.h"

namespace {

using Stress::Kind;

Logging::LoggingManager& M() {
    return Logging::LoggingManager::Instance();
}

std::atomic<int> g_assertions{0};

void CountAssertion(int32_t, uint16_t, uint16_t, const char* text) {
    if (g_assertions++ < 3) {
        std::fprintf(stderr, "assertion: %s\n", text);
    }
}

// A custom channel's tracer: checks and counts the lines of the channel it serves.
class CountingTracer : public Logging::Tracer {
public:
    CountingTracer(const std::string& owner, int perThread) : check_(owner, perThread) {}

    void Trace(const char*, int32_t, uint16_t, uint16_t, const wchar_t* text) override {
        std::string line;
        for (const wchar_t* p = text; *p != L'\0'; ++p) {
            line.push_back(static_cast<char>(*p));  // the back-end widened each byte
        }
        Stress::Line parsed;
        if (Stress::ParseLine(line, parsed)) {
            check_.Add(parsed);
        } else {
            check_.Torn();
        }
    }
    void TraceData(const char*, int32_t, uint16_t, uint16_t, const wchar_t*, const void*, uint32_t) override {
        check_.Torn();
    }
    void TraceError(const char*, int32_t, const Common::Error&) override { check_.Torn(); }

    const Stress::OutputCheck& Check() const { return check_; }

private:
    Stress::OutputCheck check_;
};

// The library's own channel: its errors (a back-end that failed to write, rename or open) are
// faults of the run, and the first few are shown.
class SelfTraceTracer : public Logging::Tracer {
public:
    void Trace(const char*, int32_t level, uint16_t, uint16_t, const wchar_t* text) override {
        if (level < Logging::ERROR_TRACE) {
            return;
        }
        std::string narrow;
        for (const wchar_t* p = text; *p != L'\0'; ++p) {
            narrow.push_back(static_cast<char>(*p));
        }
        if (Stress::IsPanicLine(narrow)) {
            return;  // the churn's own
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (errors_++ < 5) {
            texts_.push_back(narrow);
        }
    }
    void TraceData(const char*, int32_t, uint16_t, uint16_t, const wchar_t*, const void*, uint32_t) override {}
    void TraceError(const char*, int32_t, const Common::Error&) override {}

    int Errors() const { return errors_; }
    const std::vector<std::string>& Texts() const { return texts_; }

private:
    std::mutex mutex_;
    int errors_ = 0;
    std::vector<std::string> texts_;
};

// The far end of the gate channels: one socket for all, each datagram's text tells the channel.
class GateReceiver {
public:
    explicit GateReceiver(int perThread) : perThread_(perThread) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        int buffer = 64 << 20;
        DWORD timeoutMs = 100;
        if (!socket_ ||
            ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer) ||
            ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
                         sizeof timeoutMs) ||
            ::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::fprintf(stderr, "no gate receiver: %d\n", ::WSAGetLastError());
            return;
        }
        port_ = ::ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~GateReceiver() { Finish(); }

    uint16_t Port() const { return port_; }
    // Takes what is still on its way, until the socket has been quiet for half a second.
    void Finish() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    const std::map<std::string, std::unique_ptr<Stress::OutputCheck>>& Outputs() const { return outputs_; }
    int Malformed() const { return malformed_; }

private:
    void Run() {
        std::vector<char> datagram(0x10000);
        auto quietSince = std::chrono::steady_clock::now();
        for (;;) {
            const int n = ::recv(socket_.get(), datagram.data(), static_cast<int>(datagram.size()), 0);
            const auto now = std::chrono::steady_clock::now();
            if (n > 0) {
                quietSince = now;
                Take(datagram.data(), static_cast<uint32_t>(n));
            } else if (stop_ && now - quietSince > std::chrono::milliseconds(500)) {
                return;
            }
        }
    }
    void Take(const char* bytes, uint32_t size) {
        Logging::Gate::RecordFields fields;
        size_t length = 0;
        if (!Logging::Gate::DecodeRecord(reinterpret_cast<const uint8_t*>(bytes), size, fields, length)) {
            ++malformed_;
            return;
        }
        Stress::Line line;
        const bool whole = Stress::ParseMessage(fields.text, line);
        const std::string owner = whole ? std::string(line.tag) : "<torn>";
        auto& check = outputs_[owner];
        if (!check) {
            check = std::make_unique<Stress::OutputCheck>(owner, perThread_);
        }
        if (!whole) {
            check->Torn();
            return;
        }
        line.level = fields.level == Logging::DEBUG_TRACE ? 'D' : fields.level == Logging::INFORMATION ? 'I' : '?';
        check->Add(line);
    }

    int perThread_;
    Common::WinsockScope winsock_{MAKEWORD(2, 2)};
    Common::UniqueSocket socket_{::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)};
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::map<std::string, std::unique_ptr<Stress::OutputCheck>> outputs_;
    int malformed_ = 0;
};

struct Setup {
    std::string home;
    int perThread = 0;
    uint16_t gatePort = 0;
    std::map<std::string, std::unique_ptr<CountingTracer>> tracers;
    std::map<std::string, Logging::TracerIfRef> handles;
};
Setup g_setup;

Logging::TracerIfRef TracerFor(const std::string& channel) {
    Logging::TracerIfRef& handle = g_setup.handles[channel];
    if (!handle) {
        auto& tracer = g_setup.tracers[channel];
        tracer = std::make_unique<CountingTracer>(channel, g_setup.perThread);
        handle = Logging::TracerIfRef::Adopt(Logging::MakeTracerStub(tracer.get(), false));
    }
    return handle;
}

// A stable file that is rotated once, about halfway: its lines and those of its ".bak" must
// together hold every record.
uint32_t RotatedOnceSize(const std::string& channel, int index) {
    const std::string line = "I00000000: [" + channel + "] " + channel + " t0 n000000\r\n";
    const uint64_t total = Stress::SentTo(index, g_setup.perThread).information * line.size();
    return static_cast<uint32_t>(total * 6 / 10);
}

std::unique_ptr<Logging::ChannelConfig> MakeConfig(const std::string& channel, Kind kind,
                                                   uint32_t level = Logging::INFORMATION, bool enabled = true) {
    const bool stable = Stress::IsStable(channel);
    int index = 0;
    while (index < Stress::kChannelCount && channel != Stress::kChannels[index].name) {
        ++index;
    }
    const std::string folder = g_setup.home + channel + "\\";
    std::unique_ptr<Logging::ChannelConfig> config;
    switch (kind) {
        case Kind::Console: config = std::make_unique<Logging::ConsoleConfig>(); break;
        case Kind::Null: config = std::make_unique<Logging::NullConfig>(); break;
        case Kind::Debugger: config = std::make_unique<Logging::DebuggerConfig>(); break;
        case Kind::Custom: {
            auto custom = std::make_unique<Logging::CustomConfig>();
            custom->TracerIf = TracerFor(channel);
            config = std::move(custom);
            break;
        }
        case Kind::File: {
            auto file = std::make_unique<Logging::FileConfig>();
            file->File = channel + ".log";
            file->MaxSize = stable ? RotatedOnceSize(channel, index) : 128 * 1024;
            config = std::move(file);
            break;
        }
        case Kind::Shared: {
            auto shared = std::make_unique<Logging::SharedFileConfig>();
            shared->File = channel + ".log";
            shared->MaxSize = stable ? RotatedOnceSize(channel, index) : 128 * 1024;
            config = std::move(shared);
            break;
        }
        case Kind::Text:
        case Kind::Gzip:
        case Kind::Packed: {
            auto scope = std::make_unique<Logging::LogScopeConfig>();
            scope->Folder = folder;
            scope->Prefix = channel;
            scope->Compress = kind == Kind::Gzip ? 1 : kind == Kind::Packed ? 2 : 0;
            scope->MaxSize = kind == Kind::Gzip ? 32 * 1024 : 256 * 1024;
            // Enough files that a stable channel's ring never drops one; a churned one's does.
            scope->MaxFiles = stable ? 1000 : 4;
            config = std::move(scope);
            break;
        }
        case Kind::Folder: {
            auto files = std::make_unique<Logging::FileFolderConfig>();
            files->Folder = folder;
            files->Extension = "log";
            config = std::move(files);
            break;
        }
        case Kind::Gate: {
            auto gate = std::make_unique<Logging::GateConfig>();
            gate->Server = "127.0.0.1";
            gate->Port = g_setup.gatePort;
            gate->Filter = false;
            config = std::move(gate);
            break;
        }
    }
    // Level letter and code, no timestamp: every line of a channel has the same length.
    config->Flags = Logging::OF_SIGNATURE | Logging::OF_NATIVE_EOL | Logging::OF_NOSTDERR;
    config->MsgPrefix = "[" + channel + "] ";
    config->Level = level;
    config->Enabled = enabled;
    return config;
}

int32_t Tune(const std::string& channel, Kind kind, uint32_t level = Logging::INFORMATION, bool enabled = true) {
    return M().TuneChannel(channel.c_str(), *MakeConfig(channel, kind, level, enabled));
}

constexpr Kind kKinds[] = {Kind::Console, Kind::Null,   Kind::Custom, Kind::File, Kind::Text,    Kind::Gzip,
                           Kind::Packed,  Kind::Shared, Kind::Folder, Kind::Gate, Kind::Debugger};
constexpr int kKindCount = sizeof kKinds / sizeof kKinds[0];

void LogRecords(int thread, std::atomic<int>& running) {
    std::vector<std::string> names;
    for (int c = 0; c < Stress::kChannelCount; ++c) {
        names.push_back(Stress::LoggedName(thread, c));
    }
    for (int n = 0; n < g_setup.perThread; ++n) {
        const int c = Stress::ChannelOf(thread, n);
        const Logging::TraceLocation here{"tests/stress", "logger", __LINE__};
        Logging::Log(here, Stress::IsDebug(n) ? Logging::DEBUG_TRACE : Logging::INFORMATION, names[c].c_str(),
                     "%s t%d n%06d", Stress::kChannels[c].name, thread, n);
        if (n % 4099 == 0) {
            Logging::PanicTrace("panic t%d n%d", thread, n);
        }
    }
    --running;
}

// Changes the churned channels (and the links of stable ones to them) round after round; a
// stable channel's own output never changes.
int Churn(const std::atomic<int>& running) {
    constexpr int kFirstChurned = Stress::kStableCount;
    constexpr int kChurned = Stress::kChannelCount - kFirstChurned;
    int round = 0;
    for (; running.load() > 0; ++round) {
        const int ai = kFirstChurned + round % kChurned;
        const std::string a = Stress::kChannels[ai].name;
        const Kind home = Stress::kChannels[ai].kind;
        const std::string b = Stress::kChannels[kFirstChurned + (round * 3 + 1) % kChurned].name;
        const std::string stable = Stress::kChannels[round % Stress::kStableCount].name;
        switch (round % 8) {
            case 0: Tune(a, kKinds[(round / 8) % kKindCount]); break;  // another type: created anew
            case 1: Tune(a, home, round % 3 == 0 ? Logging::DEBUG_TRACE : Logging::INFORMATION, round % 5 != 0); break;
            case 2:
                M().LinkChannel(b.c_str(), a.c_str());
                M().LinkChannel(a.c_str(), stable.c_str());
                break;
            case 3: M().RedirectChannel(a.c_str(), b.c_str()); break;
            case 4:
                M().RedirectChannel(a.c_str(), Logging::NoChannel());
                M().UnlinkChannel(b.c_str(), a.c_str());
                M().UnlinkChannel(a.c_str(), stable.c_str());
                break;
            case 5:
                M().RemoveChannel(a.c_str());
                Tune(a, home);
                break;
            case 6: {
                M().SetLevel("re:ch\\..*", round % 3 == 0 ? Logging::DEBUG_TRACE : Logging::INFORMATION);
                M().SetProperty(a.c_str(), "maxSize", "150000");
                switch (round / 8 % 4) {
                    case 0: M().TuneChannel("panic", *MakeConfig("panic", Kind::Console)); break;
                    case 1: M().TuneChannel("panic", *MakeConfig("panic", Kind::File)); break;
                    case 2: M().TuneChannel("panic", Logging::DebuggerConfig()); break;
                    default: M().RemoveChannel("panic"); break;
                }
                break;
            }
            default: {
                Tune(a, home);
                std::string value;
                M().GetProperty(stable.c_str(), "maxSize", value);
                std::unique_ptr<Logging::ChannelConfig> config;
                Logging::GetChannelConfig(stable.c_str(), config);
                break;
            }
        }
        // Each change holds every logger up: leave them time to log between changes.
        ::Sleep(2);
    }
    return round;
}

struct PipeFigures {
    int fired = 0;
    int unanswered = 0;
    int wrong = 0;  // a stable channel's query that failed
};

// Requests one command at a time over the control pipe, as a separate client would.
PipeFigures FireCommands(const std::atomic<int>& running) {
    static const char* const kCommands[] = {
        "list",
        "config st.file",
        "level ch.console debug",
        "stat",
        "disable ch.custom",
        "prop ch.file maxSize=200000",
        "config ch.gzip",
        "link ch.null ch.file",
        "flags ch.file timestamp tid signature eol",
        "redirect ch.gate ch.console",
        "prop st.text maxFiles",
        "enable ch.custom",
        "unlink ch.null ch.file",
        "redirect ch.gate <self>",
        "flags ch.file signature eol",
        "config st.custom",
        "delete ch.shared",
        "tune ch.null null",
        "default ch.console",
        "LIST",
        "level ch.text info",
        "default debugger",
        "disable re:ch\\.(text|packed)",
        "config ch.custom",
        "enable re:ch\\.(text|packed)",
        "flags st.gate",
        "trace",
        "bogus",
    };
    constexpr size_t kCount = sizeof kCommands / sizeof kCommands[0];
    PipeFigures figures;
    for (size_t i = 0; running.load() > 0; ++i) {
        const std::string command = kCommands[i % kCount];
        ++figures.fired;
        DWORD error = 0;
        const std::unique_ptr<Logging::WinPipeClient> client =
            Logging::WinPipeClient::Connect(Logging::ControlPipeName(), 10000, error);
        const std::string request = Logging::FrameControlMessage(command, false);
        char head[12];
        if (!client || client->Write(request.data(), static_cast<uint32_t>(request.size()), 5000) != request.size() ||
            client->Read(head, sizeof head, 10000) != sizeof head) {
            ++figures.unanswered;
            continue;
        }
        uint32_t length;
        std::memcpy(&length, head + 8, sizeof length);
        std::string reply(length, '\0');
        if (length == 0 || length > 0x100000 || client->Read(&reply[0], length, 10000) != length) {
            ++figures.unanswered;
            continue;
        }
        if (command.find(" st.") != std::string::npos && reply.compare(0, 6, "Error:") == 0) {
            if (figures.wrong++ < 3) {
                std::fprintf(stderr, "reply to %s: %s\n", command.c_str(), reply.c_str());
            }
        }
    }
    return figures;
}

void Print(const char* what, const Stress::OutputCheck& check) {
    const Stress::Tally& t = check.Counts();
    std::fprintf(stderr, "%s %s %llu %llu %llu %llu\n", what, check.Owner().c_str(),
                 static_cast<unsigned long long>(t.delivered.load()),
                 static_cast<unsigned long long>(t.duplicates.load()), static_cast<unsigned long long>(t.torn.load()),
                 static_cast<unsigned long long>(t.foreign.load()));
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        return 2;
    }
    _putenv("TOVALIN_SAFE_ASSERT=event");
    Common::SetAssertionTraceHook(&CountAssertion);
    g_setup.home = argv[1];
    g_setup.perThread = std::atoi(argv[2]) / Stress::kLoggers;
    const auto start = std::chrono::steady_clock::now();

    // No configuration files: the channels are this program's alone.
    Logging::SetConfigurationMode(0);
    Logging::InitParameters parameters{};
    parameters.homeDirectory = g_setup.home.c_str();
    parameters.controlPipe = 1;
    parameters.listener = Logging::kListenerSelfTrace;
    const uint32_t cookie = M().Initialize(&parameters, nullptr);
    GateReceiver receiver(g_setup.perThread);
    g_setup.gatePort = receiver.Port();
    if (cookie == 0 || g_setup.gatePort == 0) {
        return 3;
    }
    SelfTraceTracer selfTrace;
    Logging::CustomConfig selfTraceConfig;
    selfTraceConfig.TracerIf = Logging::TracerIfRef::Adopt(Logging::MakeTracerStub(&selfTrace, false));
    selfTraceConfig.Level = Logging::DEBUG_TRACE;
    M().TuneChannel(Logging::kSelfTraceChannel, selfTraceConfig);
    for (const Stress::Channel& channel : Stress::kChannels) {
        // Any channel may become one that writes a folder of files.
        ::CreateDirectoryA((g_setup.home + channel.name).c_str(), nullptr);
        if (Tune(channel.name, channel.kind) != 0) {
            std::fprintf(stderr, "cannot create %s\n", channel.name);
            return 4;
        }
    }

    std::atomic<int> running{Stress::kLoggers};
    std::vector<std::thread> loggers;
    for (int t = 0; t < Stress::kLoggers; ++t) {
        loggers.emplace_back([t, &running] { LogRecords(t, running); });
    }
    int rounds = 0;
    PipeFigures commands;
    std::thread churn([&] { rounds = Churn(running); });
    std::thread pipe([&] { commands = FireCommands(running); });
    for (std::thread& thread : loggers) {
        thread.join();
    }
    churn.join();
    pipe.join();

    std::string serial;
    M().GetProperty("st.gate", "serial", serial);
    for (int c = 0; c < Stress::kStableCount; ++c) {
        uint64_t count = 0;
        M().GetUsageCount(Stress::kChannels[c].name, count);
        std::fprintf(stderr, "usage %s %llu\n", Stress::kChannels[c].name, static_cast<unsigned long long>(count));
    }
    // Every queue reaches its files, and the rotated files their compressed form.
    M().RemoveChannel("re:(st|ch)\\..*");
    M().RemoveChannel("panic");
    M().RemoveChannel(Logging::kSelfTraceChannel);
    M().Release(cookie);
    receiver.Finish();
    const auto elapsed = std::chrono::steady_clock::now() - start;

    for (const auto& [name, tracer] : g_setup.tracers) {
        Print("custom", tracer->Check());
    }
    for (const auto& [name, check] : receiver.Outputs()) {
        Print("gate", *check);
    }
    std::fprintf(stderr, "gate-serial st.gate %s\n", serial.c_str());
    std::fprintf(stderr, "gate-malformed all %d\n", receiver.Malformed());
    std::fprintf(stderr, "commands all %d %d %d\n", commands.fired, commands.unanswered, commands.wrong);
    std::fprintf(stderr, "churn all %d\n", rounds);
    std::fprintf(stderr, "assertions all %d\n", g_assertions.load());
    std::fprintf(stderr, "errors all %d\n", selfTrace.Errors());
    for (const std::string& text : selfTrace.Texts()) {
        std::fprintf(stderr, "error: %s\n", text.c_str());
    }
    std::fprintf(stderr, "elapsed all %lld\n",
                 static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
    return 0;
}
