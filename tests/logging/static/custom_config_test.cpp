// The custom configuration holds one reference on its tracer handle, whatever it is built
// from, copied to or replaced by.

#include <gtest/gtest.h>

#include <vector>

#include "logging/channel_config.h"

namespace {

using namespace Logging;

// A handle whose entries only count; `handle` comes first so that the entries find the
// counters from the pointer they are given.
struct CountingHandle {
    TracerIf handle{};
    int addRefs = 0;
    int releases = 0;

    CountingHandle() {
        handle.AddRef = [](TracerIf* me) {
            auto* self = reinterpret_cast<CountingHandle*>(me);
            ++self->addRefs;
            ++me->RefCount;
        };
        handle.Release = [](TracerIf* me) {
            auto* self = reinterpret_cast<CountingHandle*>(me);
            ++self->releases;
            --me->RefCount;
        };
        handle.Signature = TRACER_STUB_SIGNATURE;
        handle.RefCount = 1;  // the test's own reference
    }
    TracerIf* get() { return &handle; }
    // References held by others than the test.
    int Held() const { return handle.RefCount - 1; }
};

TEST(CustomConfig, AdoptedHandleIsReleasedOnceOnDestruction) {
    CountingHandle h;
    {
        CustomConfig config;
        h.get()->AddRef(h.get());  // the reference the config adopts
        config.TracerIf = TracerIfRef::Adopt(h.get());
        EXPECT_EQ(config.TracerIf.Get(), h.get());
        EXPECT_EQ(h.Held(), 1);
    }
    EXPECT_EQ(h.Held(), 0);
    EXPECT_EQ(h.releases, 1);
}

TEST(CustomConfig, CopiesAndAssignmentsKeepCountsBalanced) {
    CountingHandle first;
    CountingHandle second;
    {
        CustomConfig a;
        a.TracerIf = TracerIfRef::Share(first.get());
        EXPECT_EQ(first.Held(), 1);

        CustomConfig b(a);
        EXPECT_EQ(first.Held(), 2);

        CustomConfig c;
        c.TracerIf = TracerIfRef::Share(second.get());
        c.Assign(a);  // replaces second by first
        EXPECT_EQ(first.Held(), 3);
        EXPECT_EQ(second.Held(), 0);

        c.Assign(c);  // self-assignment neither leaks nor drops
        EXPECT_EQ(first.Held(), 3);
        EXPECT_EQ(c.TracerIf.Get(), first.get());

        c.Assign(b);  // same handle again
        EXPECT_EQ(first.Held(), 3);

        CustomConfig moved(std::move(b));
        EXPECT_EQ(first.Held(), 3);
        EXPECT_FALSE(b.TracerIf);  // moving hands the reference over

        CustomConfig empty;
        a.Assign(empty);  // assigning "no handle" gives ours back
        EXPECT_FALSE(a.TracerIf);
        EXPECT_EQ(first.Held(), 2);
    }
    EXPECT_EQ(first.Held(), 0);
    EXPECT_EQ(second.Held(), 0);
    EXPECT_EQ(first.addRefs, first.releases);
    EXPECT_EQ(second.addRefs, second.releases);
}

TEST(CustomConfig, FlatRecordBorrowsAndTheRebuiltConfigTakesItsOwnReference) {
    CountingHandle h;
    {
        CustomConfig config;
        config.TracerIf = TracerIfRef::Share(h.get());
        FlatConfigPtr flat(config.ToFlat());
        ASSERT_NE(flat, nullptr);
        EXPECT_EQ(reinterpret_cast<_log_custom_channel_config*>(flat.get())->tracerIf, h.get());
        EXPECT_EQ(h.Held(), 1);  // the record only borrows

        std::unique_ptr<ChannelConfig> rebuilt = CreateConfigFromFlat(flat.get());
        ASSERT_NE(rebuilt, nullptr);
        EXPECT_EQ(h.Held(), 2);
        flat.reset();
        // The original goes first: the rebuilt config still holds the handle.
        config.TracerIf.Reset();
        EXPECT_EQ(h.Held(), 1);
        EXPECT_EQ(static_cast<CustomConfig&>(*rebuilt).TracerIf.Get(), h.get());

        std::unique_ptr<ChannelConfig> clone = CloneConfig(*rebuilt);
        EXPECT_EQ(h.Held(), 2);
        std::unique_ptr<ChannelConfig> fresh = rebuilt->CreateDefault();
        EXPECT_FALSE(static_cast<CustomConfig&>(*fresh).TracerIf);
        EXPECT_EQ(h.Held(), 2);
    }
    EXPECT_EQ(h.Held(), 0);
    EXPECT_EQ(h.addRefs, h.releases);
}

TEST(CustomConfig, FlatRecordWithoutHandleIsValid) {
    _log_custom_channel_config flat{};
    flat.header.size = sizeof(flat);
    flat.header.type = BACKEND_CUSTOM;
    std::unique_ptr<ChannelConfig> config = CreateConfigFromFlat(&flat.header);
    ASSERT_NE(config, nullptr);
    EXPECT_FALSE(static_cast<CustomConfig&>(*config).TracerIf);
}

TEST(CustomConfig, SaveAndLoadLeaveTheHandleAlone) {
    CountingHandle h;
    {
        CustomConfig source;
        source.TracerIf = TracerIfRef::Share(h.get());
        source.Level = 4;
        std::vector<uint8_t> data;
        source.Save(data);

        CustomConfig target;
        target.TracerIf = TracerIfRef::Share(h.get());
        SerialReader in(data);
        target.Load(in);
        EXPECT_EQ(target.Level, 4u);
        EXPECT_EQ(target.TracerIf.Get(), h.get());
        EXPECT_EQ(h.Held(), 2);

        // A failed load keeps the handle as well.
        std::vector<uint8_t> cut(data.begin(), data.end() - 1);
        SerialReader short_in(cut.data(), cut.size());
        EXPECT_THROW(target.Load(short_in), SerialFormatError);
        EXPECT_EQ(h.Held(), 2);
    }
    EXPECT_EQ(h.Held(), 0);
    EXPECT_EQ(h.addRefs, h.releases);
}

}  // namespace
