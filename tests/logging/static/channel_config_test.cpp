#include "logging/channel_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace Logging;
using Bytes = std::vector<uint8_t>;

// Every configuration type, its name and the kinds of the values its saved form has after the
// base's (type, enabled, level, flags, prefix): its own fields in flat-record order.
const std::tuple<uint32_t, const char*, const char*> kTypes[] = {
    {0, "null", ""},           {1, "debugger", ""},        {2, "console", ""}, {4, "file", "bbds"},
    {6, "custom", ""},         {7, "logscope", "sssdddb"}, {8, "gate", "sdb"}, {9, "filefolder", "ddddssss"},
    {10, "sharedfile", "ddsb"}};

// The offset and kind ('d', 'b', 's') of each value of saved data.
std::vector<std::pair<size_t, char>> Values(const Bytes& data) {
    std::vector<std::pair<size_t, char>> values;
    for (size_t pos = 0; pos + 4 < data.size();) {
        const std::string tag(data.begin() + pos, data.begin() + pos + 4);
        values.emplace_back(pos, tag == "dwrd" ? 'd' : tag == "bool" ? 'b' : 's');
        uint32_t length = 0;
        std::memcpy(&length, &data[pos + 4], tag == "str " ? 4 : 0);
        pos += tag == "bool" ? 5 : 8 + length;
    }
    return values;
}

Bytes Saved(const ChannelConfig& config) {
    Bytes data;
    config.Save(data);
    return data;
}

// Saved data with every value but the type moved off the one in `data`.
Bytes Varied(const Bytes& data) {
    Bytes out;
    SerialReader in(data);
    for (const auto& value : Values(data)) {
        if (value.second == 'd') {
            const uint32_t dword = in.ReadDword();
            SerialWriteDword(out, value.first == 0 ? dword : dword + 0x10101 * static_cast<uint32_t>(value.first));
        } else if (value.second == 'b') {
            SerialWriteBool(out, !in.ReadBool());
        } else {
            SerialWriteString(out, in.ReadString() + "v" + std::to_string(value.first));
        }
    }
    return out;
}

TEST(ChannelConfig, TypesNamesAndSavedForms) {
    for (const auto& [type, name, kinds] : kTypes) {
        std::unique_ptr<ChannelConfig> config = CreateDefaultConfig(type);
        ASSERT_NE(config, nullptr) << name;
        EXPECT_EQ(config->GetType(), type);
        std::string saved;
        for (const auto& value : Values(Saved(*config))) {
            saved += value.second;
        }
        EXPECT_EQ(saved, std::string("dbdds") + kinds) << name;
        EXPECT_STREQ(BackendTypeName(type), name);
        EXPECT_EQ(BackendTypeFromName(name), std::optional<uint32_t>(type));
    }
    for (uint32_t type : {3u, 5u, 11u, 0xFFFFFFFFu}) {
        EXPECT_STREQ(BackendTypeName(type), "");
        EXPECT_EQ(CreateDefaultConfig(type), nullptr);
        EXPECT_EQ(FlatConfigSize(type), 0u);
        Bytes data;
        SerialWriteDword(data, type);
        SerialReader in(data);
        EXPECT_THROW(LoadConfig(in), SerialFormatError) << type;
    }
    EXPECT_EQ(BackendTypeFromName("SharedFile"), std::optional<uint32_t>(10));
    for (const char* bad : {"", "files", "shared file", " null", "3"}) {
        EXPECT_FALSE(BackendTypeFromName(bad).has_value()) << bad;
    }
    FileConfig config;
    config.MsgPrefix = "p";
    config.File = "f.log";
    const Bytes data = Saved(config);
    // clang-format off
    const char expected[] = "dwrd\x04\x00\x00\x00" "bool\x01" "dwrd\x02\x00\x00\x00" "dwrd\xf4\x00\x10\x00"
        "str \x01\x00\x00\x00p" "bool\x01" "bool\x00" "dwrd\x00\x00\x10\x00" "str \x05\x00\x00\x00" "f.log";
    // clang-format on
    EXPECT_EQ(std::string(data.begin(), data.end()), std::string(expected, sizeof expected - 1));
}

TEST(ChannelConfig, EveryTypeRoundTripsThroughSavedFormFlatRecordAndCopy) {
    for (const auto& [type, name, kinds] : kTypes) {
        SCOPED_TRACE(name);
        const Bytes data = Varied(Saved(*CreateDefaultConfig(type)));
        auto original = CreateDefaultConfig(type);
        SerialReader in(data);
        original->Load(in);
        EXPECT_EQ(in.Remaining(), 0u);
        ASSERT_EQ(Saved(*original), data);
        SerialReader again(data);
        EXPECT_EQ(Saved(*LoadConfig(again)), data);
        EXPECT_EQ(Saved(*CloneConfig(*original)), data);

        FlatConfigPtr flat(original->ToFlat());
        ASSERT_NE(flat, nullptr);
        EXPECT_EQ(flat->size, FlatConfigSize(type));
        EXPECT_EQ(flat->msgPrefix, original->MsgPrefix.c_str()) << "the record borrows the strings";
        std::unique_ptr<ChannelConfig> rebuilt = CreateConfigFromFlat(flat.get());
        ASSERT_NE(rebuilt, nullptr);
        flat.reset();
        original.reset();  // the rebuilt copy owns its strings
        EXPECT_EQ(Saved(*rebuilt), data);
    }
}

TEST(ChannelConfig, DamagedSavedFormThrowsAndLeavesTheConfigUnchanged) {
    for (const auto& [type, name, kinds] : kTypes) {
        SCOPED_TRACE(name);
        const Bytes defaults = Saved(*CreateDefaultConfig(type));
        const Bytes data = Varied(defaults);
        // Exactly the bytes given, so that reading past them is a fault the run can catch.
        const auto expectRejected = [&](const Bytes& bad, size_t offset) {
            SCOPED_TRACE(bad.size());
            auto target = CreateDefaultConfig(type);
            SerialReader in(bad.data(), bad.size());
            try {
                target->Load(in);
                ADD_FAILURE() << "no exception";
            } catch (const SerialFormatError& error) {
                EXPECT_EQ(error.Offset(), offset);
            }
            EXPECT_EQ(Saved(*target), defaults);
        };
        // Cut after every byte: the error names the value the cut falls into.
        const auto values = Values(data);
        for (size_t length = 0, at = 0; length < data.size(); ++length) {
            for (const auto& value : values) {
                at = value.first <= length ? value.first : at;
            }
            expectRejected(Bytes(data.begin(), data.begin() + length), at);
        }
        for (const auto& [offset, kind] : values) {
            SCOPED_TRACE(offset);
            Bytes bad = data;
            bad[offset + 3] ^= 0x20;  // the last letter of the tag
            expectRejected(bad, offset);
            if (kind == 's') {
                for (uint32_t length : {static_cast<uint32_t>(data.size() - offset - 7), 0xFFFFFFFFu}) {
                    bad = data;
                    std::memcpy(&bad[offset + 4], &length, 4);
                    expectRejected(bad, offset);
                }
            }
        }
        // Data of another type is rejected at its type.
        expectRejected(Saved(*CreateDefaultConfig(type == 4 ? 8 : 4)), 0);
    }
}

TEST(ChannelConfig, FlatRecordsAreCheckedBeforeUse) {
    const uint32_t header = sizeof(_log_channel_config);
    std::vector<std::pair<uint32_t, uint32_t>> cases = {
        {0, 0},      {header - 1, 0}, {header, 4}, {FlatConfigSize(4), 10},
        {header, 3}, {header, 5},     {256, 11},   {header, ~0u}};
    // Big enough for any size a case claims, so that a wrong accept reads nothing undefined.
    alignas(8) unsigned char storage[512] = {};
    auto* flat = reinterpret_cast<_log_channel_config*>(storage);
    for (const auto& [type, name, kinds] : kTypes) {
        cases.emplace_back(FlatConfigSize(type) - 1, type);
        cases.emplace_back(FlatConfigSize(type) + 1, type);
        flat->size = FlatConfigSize(type);  // all zeros: null strings are empty ones
        flat->type = type;
        EXPECT_NE(CreateConfigFromFlat(flat), nullptr) << name;
    }
    for (const auto& [size, type] : cases) {
        flat->size = size;
        flat->type = type;
        EXPECT_EQ(CreateConfigFromFlat(flat), nullptr) << size << " " << type;
    }
    EXPECT_EQ(CreateConfigFromFlat(nullptr), nullptr);
}

// Counts its destruction.
struct DyingTracer : Tracer {
    explicit DyingTracer(int& destroyed) : destroyed(destroyed) {}
    ~DyingTracer() override { ++destroyed; }
    void Trace(const char*, int32_t, uint16_t, uint16_t, const wchar_t*) override {}
    void TraceData(const char*, int32_t, uint16_t, uint16_t, const wchar_t*, const void*, uint32_t) override {}
    void TraceError(const char*, int32_t, const Common::Error&) override {}
    int& destroyed;
};

// An owning tracer stub deletes its tracer at the last release, from any thread, and each custom
// configuration holds one reference on it whatever it is built from, copied to or replaced by.
TEST(CustomConfig, EveryCopyHoldsOneReferenceOnTheTracerStubAndGivesItBackOnce) {
    int destroyed = 0;
    TracerIf* first = MakeTracerStub(new DyingTracer(destroyed), true);  // the test's own references
    TracerIf* second = MakeTracerStub(new DyingTracer(destroyed), true);
    EXPECT_EQ(std::memcmp(&first->Signature, "trsb", 4), 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([first] {
            for (int i = 0; i < 20000; ++i) {
                first->AddRef(first);
                first->Release(first);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
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
        const Bytes data = Saved(*clone);
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
    EXPECT_EQ(destroyed, 1);
    second->Release(second);
    EXPECT_EQ(destroyed, 2);
}

}  // namespace
