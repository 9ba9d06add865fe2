// Several threads log while another one changes the channels they log to: nothing may be
// torn, lost on a channel that exists throughout, or delivered twice.

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "logging/channel_config.h"
#include "logging/logging_manager.h"
#include "support/log_capture.h"

namespace {

using Logging::LoggingManager;
using TestSupport::LogCapture;

constexpr int kLoggers = 2;
constexpr int kRecordsPerLogger = 2500;

std::string Line(int thread, int index) {
    std::string line = "I00000000: w" + std::to_string(thread) + " n" + std::to_string(index) + " ";
    for (int i = 0; i < 48; ++i) {
        line.push_back(static_cast<char>('a' + (thread * 7 + index + i) % 26));
    }
    return line;
}

// How many records logged to `origin` reached `capture`; -1 when any arrived twice or torn.
int OnceCount(const LogCapture& capture, const std::string& origin) {
    std::set<std::string> logged;
    for (int t = 0; t < kLoggers; ++t) {
        for (int i = 0; i < kRecordsPerLogger; ++i) {
            logged.insert(Line(t, i));
        }
    }
    std::map<std::string, int> seen;
    for (const LogCapture::Entry& entry : capture.Entries()) {
        seen[entry.text] += entry.channel == origin ? 1 : 0;
    }
    int once = 0;
    for (const auto& [line, count] : seen) {
        once = count > 1 || logged.count(line) == 0 || once < 0 ? -1 : once + count;
    }
    return once;
}

Logging::CustomConfig CustomFor(LogCapture& capture) {
    Logging::CustomConfig config;
    config.TracerIf = Logging::TracerIfRef::Adopt(Logging::MakeTracerStub(&capture, false));
    return config;
}

TEST(LoggingConcurrency, DeliveriesStayWholeAndExactlyOnceWhileChannelsChange) {
    LoggingManager& manager = LoggingManager::Instance();
    LogCapture stable("cc.a");
    LogCapture linked("cc.b");
    LogCapture tuned("cc.tuned");
    LogCapture coming("cc.gone");

    std::atomic<int> running{kLoggers};
    std::vector<std::thread> loggers;
    for (int t = 0; t < kLoggers; ++t) {
        loggers.emplace_back([t, &running] {
            for (int i = 0; i < kRecordsPerLogger; ++i) {
                const std::string text = Line(t, i).substr(11);
                for (const char* channel : {"cc.a", "cc.b", "cc.tuned", "cc.gone"}) {
                    Logging::Log(Logging::TraceLocation{"tests/concurrency", "Logger", __LINE__}, Logging::INFORMATION,
                                 channel, "%s", text.c_str());
                }
            }
            --running;
        });
    }
    int changes = 0;
    std::thread control([&] {
        while (running.load() > 0) {
            manager.LinkChannel("cc.b", "cc.a");
            manager.TuneChannel("cc.gone", CustomFor(coming));
            manager.TuneChannel("cc.tuned", CustomFor(tuned));
            manager.SetLevel("re:cc\\.[ab]", Logging::INFORMATION);
            std::this_thread::yield();
            manager.UnlinkChannel("cc.b", "cc.a");
            manager.RemoveChannel("cc.gone");
            manager.TuneChannel("cc.extra", Logging::NullConfig());
            manager.RedirectChannel("cc.extra", "cc.tuned");
            manager.RemoveChannel("cc.extra");
            ++changes;
        }
    });
    for (auto& thread : loggers) {
        thread.join();
    }
    control.join();

    const int all = kLoggers * kRecordsPerLogger;
    EXPECT_EQ(OnceCount(stable, "cc.a"), all);
    EXPECT_EQ(OnceCount(linked, "cc.b"), all);
    EXPECT_GE(OnceCount(linked, "cc.a"), 0);
    EXPECT_EQ(OnceCount(tuned, "cc.tuned"), all);
    EXPECT_GE(OnceCount(coming, "cc.gone"), 0);
    EXPECT_GT(changes, 0);
}

}  // namespace
