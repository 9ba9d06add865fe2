// logging_stress_child <records per thread>: four threads log through serialised console
// channels (one stable, four that come and go) while a fifth re-tunes, links, redirects,
// removes and re-creates them, "panic" included, and raises panic traces. The lines go to
// standard output; at the end the usage count of every name goes to standard error.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "logging/channel_config.h"
#include "logging/logging_manager.h"
#include "logging/static/manager_internal.h"

namespace {

constexpr int kLoggers = 4;
constexpr int kChurned = 4;

Logging::LoggingManager& M() {
    return Logging::LoggingManager::Instance();
}

// Signature and line end only: each line is one write, so lines of different channels can
// only interleave whole.
Logging::ConsoleConfig Console(uint32_t level) {
    Logging::ConsoleConfig config;
    config.Flags = Logging::OF_SIGNATURE | Logging::OF_NATIVE_EOL | Logging::OF_NOSTDERR;
    config.Level = level;
    return config;
}

std::string Churned(int index) {
    return "s." + std::to_string(index % kChurned);
}

}  // namespace

int main(int argc, char* argv[]) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (M().TuneChannel("s.stable", Console(Logging::INFORMATION)) != 0) {
        return 2;
    }
    for (int i = 0; i < kChurned; ++i) {
        M().TuneChannel(Churned(i).c_str(), Console(Logging::INFORMATION));
    }
    std::atomic<int> running{kLoggers};
    std::vector<std::thread> loggers;
    for (int t = 0; t < kLoggers; ++t) {
        loggers.emplace_back([t, records, &running] {
            for (int n = 0; n < records; ++n) {
                const std::string channel = Churned(n);
                const Logging::TraceLocation here{"tests/stress", "logger", __LINE__};
                Logging::Log(here, Logging::INFORMATION, channel.c_str(), "%s t%d n%d", channel.c_str(), t, n);
                Logging::Log(here, Logging::INFORMATION, "s.stable", "s.stable t%d n%d", t, n);
                if (n % 101 == 0) {
                    Logging::PanicTrace("panic t%d n%d", t, n);
                }
            }
            --running;
        });
    }
    std::thread control([&running] {
        for (int round = 0; running.load() > 0; ++round) {
            const std::string a = Churned(round);
            const std::string b = Churned(round + 1);
            M().TuneChannel(a.c_str(), Console(round % 2 == 0 ? Logging::DEBUG_TRACE : Logging::INFORMATION));
            M().LinkChannel(b.c_str(), a.c_str());
            M().RedirectChannel(Churned(round + 2).c_str(), b.c_str());
            switch (round % 3) {
                case 0: M().TuneChannel("panic", Console(Logging::INFORMATION)); break;
                case 1: M().TuneChannel("panic", Logging::DebuggerConfig()); break;
                default: M().RemoveChannel("panic"); break;
            }
            M().UnlinkChannel(b.c_str(), a.c_str());
            M().RemoveChannel(b.c_str());
            M().TuneChannel(b.c_str(), Console(Logging::INFORMATION));
            M().TuneChannel(a.c_str(), Logging::NullConfig());  // another type: created anew
            M().TuneChannel(a.c_str(), Console(Logging::INFORMATION));
        }
    });
    for (std::thread& thread : loggers) {
        thread.join();
    }
    control.join();
    std::fflush(stdout);
    for (const std::string name : {"s.stable", "s.0", "s.1", "s.2", "s.3"}) {
        uint64_t count = 0;
        M().GetUsageCount(name.c_str(), count);
        std::fprintf(stderr, "%s %llu\n", name.c_str(), static_cast<unsigned long long>(count));
    }
    return 0;
}
