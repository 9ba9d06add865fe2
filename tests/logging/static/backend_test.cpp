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

// The value read, followed by the code when it is not 0.
std::string Get(Logging::Backend& backend, const char* name) {
    std::string value = "unset";
    const int32_t code = backend.GetProperty(name, value);
    return code == 0 ? value : value + " rc=" + std::to_string(code);
}

TEST(BackendProperties, ReadsAndWritesCheckNamesAccessAndNumbers) {
    PropertyBackend backend;
    Logging::FileConfig config;
    config.File = "app.log";
    ASSERT_EQ(backend.SetConfig("files", config), 0);
    // clang-format off
    const std::pair<const char*, const char*> reads[] = {{"append", "1"}, {"maxSize", "1048576"}, {"file", "app.log"},
        {"number-of-logs", "2"}, {"label", "initial"}, {"Append", "unset rc=8"}, {"broken", "unset rc=1"},
        {nullptr, "unset rc=2"}};
    const std::tuple<const char*, const char*, int32_t> writes[] = {
        {"append", "0x0", 0}, {"append", "yes", 9}, {"maxSize", "10h", 0}, {"maxSize", "-1", 9}, {"file", "other", 11},
        {"number-of-logs", "3", 11}, {"label", "new", 0}, {"label", "refused", 10}, {"", "1", 2}, {nullptr, "1", 2},
        {"maxFiles", "x1", 9}, {"extra", "17", 0}, {"another", "0x20", 0}};
    // clang-format on
    for (const auto& [name, value] : reads) {
        EXPECT_EQ(Get(backend, name), value) << (name ? name : "(null)");
    }
    uint32_t size = 0;
    EXPECT_EQ(backend.GetDWordProperty("file", size), 9);
    for (const auto& [name, value, code] : writes) {
        EXPECT_EQ(backend.SetProperty(name, value), code) << (name ? name : "(null)") << "=" << value;
    }
    // Unknown names become extra properties holding numbers, listed after the table's.
    const std::pair<const char*, const char*> after[] = {{"append", "0"},  {"maxSize", "16"}, {"file", "app.log"},
                                                         {"label", "new"}, {"extra", "17"},   {"another", "0x20"}};
    for (const auto& [name, value] : after) {
        EXPECT_EQ(Get(backend, name), value) << name;
    }
    EXPECT_EQ(backend.GetDWordProperty("another", size), 0);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(backend.GetPropertyNames(false).size(), 6u);
    const std::vector<std::string> all = backend.GetPropertyNames(true);
    EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()), (std::vector<std::string>{"another", "extra"}));
    EXPECT_EQ(backend.SetProperty("label", nullptr), 0);
    EXPECT_EQ(Get(backend, "label"), "");
    EXPECT_EQ(backend.SetProperty("extra", ""), 0);
    EXPECT_EQ(backend.SetProperty("extra", nullptr), 8);
    EXPECT_EQ(Get(backend, "extra"), "unset rc=8");
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
