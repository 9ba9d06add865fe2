#include "logging/static/backend.h"

#include <gtest/gtest.h>

#include <tuple>

#include "logging/static/trace_environment.h"

namespace {

// A back-end with a property table of every kind, as the file-like back-ends build them.
class PropertyBackend final : public Logging::BaseBackend<Logging::FileConfig, 0> {
public:
    void Write(Logging::TraceRecord&) override {}
    void RegisterProperties(const char*, const Logging::ChannelConfig&) override {
        properties_ = {
            {"append", 0, Logging::PROPERTY_BOOL, &config_.Append, nullptr, 0},
            {"maxSize", 0, Logging::PROPERTY_DWORD, &config_.MaxSize, nullptr, 0},
            {"file", 1, Logging::PROPERTY_STRING, &config_.File, nullptr, 0},
            {"number-of-logs", 1, Logging::PROPERTY_DWORD, nullptr, nullptr, 2},
            {"label", 0, Logging::PROPERTY_STRING, nullptr, &Label, 0},
            {"broken", 0, 7, nullptr, nullptr, 0},
        };
    }

    std::string label = "initial";

private:
    static int32_t Label(Logging::Backend& backend, const char*, std::string& value, bool get) {
        auto& self = static_cast<PropertyBackend&>(backend);
        if (get) {
            value = self.label;
        } else if (value == "refused") {
            return Logging::LOGGING_RC_NO_ACCESS;
        } else {
            self.label = value;
        }
        return Logging::LOGGING_RC_NOERROR;
    }
};

class BackendProperties : public ::testing::Test {
protected:
    void SetUp() override {
        Logging::FileConfig config;
        config.File = "app.log";
        ASSERT_EQ(backend.SetConfig("files", config), 0);
    }
    std::string Get(const char* name) {
        std::string value = "unset";
        lastCode = backend.GetProperty(name, value);
        return value;
    }
    PropertyBackend backend;
    int32_t lastCode = -1;
};

TEST_F(BackendProperties, ReadsAndWritesCheckNamesAccessAndNumbers) {
    // clang-format off
    const std::tuple<const char*, const char*, int32_t> reads[] = {
        {"append", "1", 0}, {"maxSize", "1048576", 0}, {"file", "app.log", 0}, {"number-of-logs", "2", 0},
        {"label", "initial", 0}, {"Append", "unset", 8}, {"broken", "unset", 1}, {nullptr, "unset", 2}};
    // clang-format on
    for (const auto& [name, value, code] : reads) {
        EXPECT_EQ(Get(name), value) << (name ? name : "(null)");
        EXPECT_EQ(lastCode, code) << (name ? name : "(null)");
    }
    uint32_t size = 0;
    EXPECT_EQ(backend.GetDWordProperty("maxSize", size), 0);
    EXPECT_EQ(size, 1048576u);
    EXPECT_EQ(backend.GetDWordProperty("file", size), 9);

    // clang-format off
    const std::tuple<const char*, const char*, int32_t> writes[] = {
        {"append", "0x0", 0}, {"append", "yes", 9}, {"maxSize", "10h", 0}, {"maxSize", "-1", 9}, {"file", "other", 11},
        {"number-of-logs", "3", 11}, {"label", "new", 0}, {"label", "refused", 10}, {"", "1", 2}, {nullptr, "1", 2},
        {"maxFiles", "x1", 9}};
    // clang-format on
    for (const auto& [name, value, code] : writes) {
        EXPECT_EQ(backend.SetProperty(name, value), code) << (name ? name : "(null)") << "=" << value;
    }
    EXPECT_EQ(Get("append"), "0");
    EXPECT_EQ(Get("maxSize"), "16");
    EXPECT_EQ(Get("file"), "app.log");
    EXPECT_EQ(Get("label"), "new");
    EXPECT_EQ(backend.SetProperty("label", nullptr), 0);
    EXPECT_EQ(Get("label"), "");
}

TEST_F(BackendProperties, UnknownNamesAreExtraPropertiesHoldingNumbers) {
    EXPECT_EQ(backend.SetProperty("extra", "17"), 0);
    EXPECT_EQ(Get("extra"), "17");
    EXPECT_EQ(backend.SetProperty("another", "0x20"), 0);
    uint32_t value = 0;
    EXPECT_EQ(backend.GetDWordProperty("another", value), 0);
    EXPECT_EQ(value, 32u);
    EXPECT_EQ(backend.GetPropertyNames(false).size(), 6u);
    const std::vector<std::string> all = backend.GetPropertyNames(true);
    EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()), (std::vector<std::string>{"another", "extra"}));
    EXPECT_EQ(backend.SetProperty("extra", ""), 0);
    EXPECT_EQ(backend.SetProperty("extra", nullptr), 8);
    EXPECT_EQ(Get("extra"), "unset");
}

TEST(BackendBase, EffectiveFlagsKeepConfigurableBitsAndPrefixesExpandOnce) {
    PropertyBackend backend;
    Logging::FileConfig config;
    config.Flags = 0xFFFFFFFF;
    ASSERT_EQ(backend.SetConfig("f", config), 0);
    EXPECT_EQ(backend.EffectiveFlags(), 0x303ffcu | Logging::kPrefixExpanded);
    config.MsgPrefix = "[{pid}:{pname}] ";
    ASSERT_EQ(backend.SetConfig("f", config), 0);
    EXPECT_NE(backend.EffectiveFlags() & Logging::kPrefixExpanded, 0u);
    const Logging::TraceEnvironment& system = Logging::SystemTraceEnvironment();
    EXPECT_EQ(backend.GetConfig().MsgPrefix,
              "[" + std::to_string(system.ProcessId()) + ":" + system.ProcessName() + "] ");
    config.MsgPrefix = "{date}-";  // changes per line
    ASSERT_EQ(backend.SetConfig("f", config), 0);
    EXPECT_EQ(backend.EffectiveFlags() & Logging::kPrefixExpanded, 0u);
    EXPECT_EQ(backend.GetConfig().MsgPrefix, "{date}-");
}

}  // namespace
