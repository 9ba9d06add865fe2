#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/common/error.h"
#include "logging/tracer.h"

namespace {

// Records what reaches each slot, and its own destruction.
class RecordingTracer : public Logging::Tracer {
public:
    explicit RecordingTracer(bool* destroyed = nullptr) : destroyed_(destroyed) {}
    ~RecordingTracer() override {
        if (destroyed_ != nullptr) {
            *destroyed_ = true;
        }
    }
    void Trace(const char* channel, int32_t level, uint16_t high, uint16_t low, const wchar_t* text) override {
        calls.push_back("Trace " + std::string(channel) + " " + std::to_string(level) + " " + std::to_string(high) +
                        " " + std::to_string(low) + " " + std::string(text, text + wcslen(text)));
    }
    void TraceData(const char* channel, int32_t level, uint16_t, uint16_t, const wchar_t*, const void* data,
                   uint32_t size) override {
        calls.push_back("TraceData " + std::string(channel) + " " + std::to_string(level) + " " +
                        std::string(static_cast<const char*>(data), size));
    }
    void TraceError(const char* channel, int32_t level, const Common::Error& error) override {
        calls.push_back("TraceError " + std::string(channel) + " " + std::to_string(level) + " " +
                        std::to_string(error.Code()));
    }
    std::vector<std::string> calls;

private:
    bool* destroyed_;
};

TEST(TracerStub, HasTheFlatLayoutAndForwardsEverySlot) {
    RecordingTracer tracer;
    Logging::TracerIf* stub = Logging::MakeTracerStub(&tracer, false);
    EXPECT_EQ(std::memcmp(&stub->Signature, "trsb", 4), 0);
    EXPECT_EQ(stub->RefCount, 1);
    EXPECT_EQ(stub->TracerObject, &tracer);
    EXPECT_EQ(stub->OwnsTracer, 0);

    stub->Trace(stub, "a", 2, 3, 4, L"text");
    stub->TraceData(stub, "b", 3, 0, 0, L"t", "data", 4);
    const Common::Error error = Common::Error::FromCode({0, "f", "fn", 1}, 77);
    stub->TraceError(stub, "c", 4, &error);
    stub->TraceError(stub, "d", 5, nullptr);
    EXPECT_EQ(tracer.calls, (std::vector<std::string>{"Trace a 2 3 4 text", "TraceData b 3 data", "TraceError c 4 77",
                                                      "TraceError d 5 0"}));
    stub->Release(stub);
}

TEST(TracerStub, OnlyAnOwningStubDeletesItsTracerAndOnlyAtTheLastRelease) {
    bool destroyed = false;
    auto* borrowed = new RecordingTracer(&destroyed);
    Logging::TracerIf* stub = Logging::MakeTracerStub(borrowed, false);
    stub->Release(stub);
    EXPECT_FALSE(destroyed);
    delete borrowed;
    EXPECT_TRUE(destroyed);

    destroyed = false;
    stub = Logging::MakeTracerStub(new RecordingTracer(&destroyed), true);
    stub->AddRef(stub);
    EXPECT_EQ(stub->RefCount, 2);
    stub->Release(stub);
    EXPECT_FALSE(destroyed);
    stub->Release(stub);
    EXPECT_TRUE(destroyed);
}

TEST(TracerStub, CountsAreAtomicAcrossThreads) {
    bool destroyed = false;
    Logging::TracerIf* stub = Logging::MakeTracerStub(new RecordingTracer(&destroyed), true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([stub] {
            for (int i = 0; i < 20000; ++i) {
                stub->AddRef(stub);
                stub->Release(stub);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(stub->RefCount, 1);
    stub->Release(stub);
    EXPECT_TRUE(destroyed);
}

TEST(TracerStub, AWrongSignatureIsReportedButTheCallStillGoesThrough) {
    RecordingTracer tracer;
    Logging::TracerIf* stub = Logging::MakeTracerStub(&tracer, false);
    stub->Signature = 0;
    stub->Trace(stub, "x", 2, 0, 0, L"still");
    EXPECT_EQ(tracer.calls, std::vector<std::string>{"Trace x 2 0 0 still"});
    stub->Signature = Logging::TRACER_STUB_SIGNATURE;
    stub->Release(stub);
}

}  // namespace
