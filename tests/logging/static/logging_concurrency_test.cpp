// Several threads log while another one changes the channels they log to: nothing may be
// torn, lost on a channel that exists throughout, or delivered twice.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/common/utf.h"
#include "logging/channel_config.h"
#include "logging/logging_manager.h"

namespace {

using Logging::LoggingManager;

constexpr int kLoggers = 2;
constexpr int kRecordsPerLogger = 2500;

std::string Payload(int thread, int index) {
    std::string payload;
    for (int i = 0; i < 48; ++i) {
        payload.push_back(static_cast<char>('a' + (thread * 7 + index + i) % 26));
    }
    return payload;
}

// Counts, per channel the record was logged to, how often each (thread, index) arrived.
class CountingTracer : public Logging::Tracer {
public:
    void Trace(const char* channel, int32_t, uint16_t, uint16_t, const wchar_t* text) override {
        const std::string line = Common::Utf16ToUtf8(text);
        int thread = -1;
        int index = -1;
        char payload[64] = {};
        const bool parsed = std::sscanf(line.c_str(), "I00000000: w%d n%d %63s", &thread, &index, payload) == 3;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!parsed || thread < 0 || thread >= kLoggers || index < 0 || index >= kRecordsPerLogger ||
            Payload(thread, index) != payload ||
            line != "I00000000: w" + std::to_string(thread) + " n" + std::to_string(index) + " " + payload) {
            torn.push_back(line);
            return;
        }
        std::vector<int>& counts = seen[channel];
        counts.resize(kLoggers * kRecordsPerLogger);
        ++counts[thread * kRecordsPerLogger + index];
    }
    void TraceData(const char* channel, int32_t level, uint16_t high, uint16_t low, const wchar_t* text, const void*,
                   uint32_t) override {
        Trace(channel, level, high, low, text);
    }
    void TraceError(const char*, int32_t, const Common::Error&) override {}

    // How many records of `origin` arrived exactly once; -1 when any arrived twice.
    int OnceCount(const std::string& origin) {
        std::lock_guard<std::mutex> lock(mutex_);
        int once = 0;
        for (int count : seen[origin]) {
            if (count > 1) {
                return -1;
            }
            once += count;
        }
        return once;
    }

    std::vector<std::string> torn;

private:
    std::mutex mutex_;
    std::map<std::string, std::vector<int>> seen;
};

Logging::CustomConfig CustomFor(CountingTracer& tracer) {
    Logging::CustomConfig config;
    config.Level = Logging::INFORMATION;
    config.TracerIf = Logging::TracerIfRef::Adopt(Logging::MakeTracerStub(&tracer, false));
    return config;
}

TEST(LoggingConcurrency, DeliveriesStayWholeAndExactlyOnceWhileChannelsChange) {
    LoggingManager& manager = LoggingManager::Instance();
    CountingTracer stable;
    CountingTracer linked;
    CountingTracer tuned;
    CountingTracer coming;
    ASSERT_EQ(manager.TuneChannel("cc.a", CustomFor(stable)), 0);
    ASSERT_EQ(manager.TuneChannel("cc.b", CustomFor(linked)), 0);
    ASSERT_EQ(manager.TuneChannel("cc.tuned", CustomFor(tuned)), 0);

    std::atomic<int> running{kLoggers};
    std::vector<std::thread> loggers;
    for (int t = 0; t < kLoggers; ++t) {
        loggers.emplace_back([t, &running] {
            for (int i = 0; i < kRecordsPerLogger; ++i) {
                const std::string payload = Payload(t, i);
                for (const char* channel : {"cc.a", "cc.b", "cc.tuned", "cc.gone"}) {
                    Logging::Log(Logging::TraceLocation{"tests/concurrency", "Logger", __LINE__}, Logging::INFORMATION,
                                 channel, "w%d n%d %s", t, i, payload.c_str());
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
    EXPECT_EQ(stable.OnceCount("cc.a"), all);
    EXPECT_EQ(linked.OnceCount("cc.b"), all);
    EXPECT_GE(linked.OnceCount("cc.a"), 0);
    EXPECT_EQ(tuned.OnceCount("cc.tuned"), all);
    EXPECT_GE(coming.OnceCount("cc.gone"), 0);
    for (CountingTracer* tracer : {&stable, &linked, &tuned, &coming}) {
        EXPECT_TRUE(tracer->torn.empty()) << tracer->torn.front();
    }
    EXPECT_GT(changes, 0);
    for (const char* name : {"cc.a", "cc.b", "cc.tuned"}) {
        manager.RemoveChannel(name);
    }
}

}  // namespace
