// The flat tracer handle: the stub's ownership of its tracer, and the one reference each custom
// configuration holds on it, whatever it is built from, copied to or replaced by.

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "logging/channel_config.h"

namespace {

using namespace Logging;

// Counts its destruction.
struct DyingTracer : Tracer {
    explicit DyingTracer(int& destroyed) : destroyed(destroyed) {}
    ~DyingTracer() override { ++destroyed; }
    void Trace(const char*, int32_t, uint16_t, uint16_t, const wchar_t*) override {}
    void TraceData(const char*, int32_t, uint16_t, uint16_t, const wchar_t*, const void*, uint32_t) override {}
    void TraceError(const char*, int32_t, const Common::Error&) override {}
    int& destroyed;
};

TEST(TracerStub, AnOwningStubDeletesItsTracerAtTheLastReleaseOfAnyThread) {
    int destroyed = 0;
    TracerIf* stub = MakeTracerStub(new DyingTracer(destroyed), true);
    EXPECT_EQ(std::memcmp(&stub->Signature, "trsb", 4), 0);
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
    EXPECT_EQ(stub->RefCount, 1);
    EXPECT_EQ(destroyed, 0);
    stub->Release(stub);
    EXPECT_EQ(destroyed, 1);
}

TEST(CustomConfig, EveryCopyHoldsOneReferenceAndGivesItBackOnce) {
    int destroyed = 0;
    TracerIf* first = MakeTracerStub(new DyingTracer(destroyed), true);  // the test's own references
    TracerIf* second = MakeTracerStub(new DyingTracer(destroyed), true);
    {
        CustomConfig a;
        first->AddRef(first);
        a.TracerIf = TracerIfRef::Adopt(first);
        CustomConfig b(a);
        CustomConfig c;
        c.TracerIf = TracerIfRef::Share(second);
        c.Assign(a);
        EXPECT_EQ(second->RefCount, 1);
        c.Assign(c);
        c.Assign(b);
        CustomConfig moved(std::move(b));
        EXPECT_FALSE(b.TracerIf);
        EXPECT_EQ(first->RefCount, 4);  // the test, a, c and moved
        a.Assign(CustomConfig());
        EXPECT_EQ(first->RefCount, 3);

        FlatConfigPtr flat(c.ToFlat());  // borrows
        EXPECT_EQ(reinterpret_cast<_log_custom_channel_config*>(flat.get())->tracerIf, first);
        std::unique_ptr<ChannelConfig> rebuilt = CreateConfigFromFlat(flat.get());
        std::unique_ptr<ChannelConfig> clone = CloneConfig(*rebuilt);
        EXPECT_FALSE(static_cast<CustomConfig&>(*rebuilt->CreateDefault()).TracerIf);
        EXPECT_EQ(first->RefCount, 5);
        // The saved form has no handle; loading it, even failing, leaves the handle alone.
        std::vector<uint8_t> data;
        clone->Save(data);
        SerialReader in(data);
        rebuilt->Load(in);
        SerialReader cut(data.data(), data.size() - 1);
        EXPECT_THROW(rebuilt->Load(cut), SerialFormatError);
        EXPECT_EQ(static_cast<CustomConfig&>(*rebuilt).TracerIf.Get(), first);
        EXPECT_EQ(first->RefCount, 5);
    }
    EXPECT_EQ(first->RefCount, 1);
    EXPECT_EQ(second->RefCount, 1);
    first->Release(first);
    second->Release(second);
    EXPECT_EQ(destroyed, 2);
}

}  // namespace
