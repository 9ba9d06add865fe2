#include "logging/static/backend.h"

#include <gtest/gtest.h>

#include "logging/static/custom_backend.h"
#include "logging/static/null_backend.h"
#include "logging/static/trace_environment.h"

namespace {

using Logging::PropertyEntry;

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
            {"active", 1, Logging::PROPERTY_BOOL, nullptr, &Active, 0},
            {"label", 0, Logging::PROPERTY_STRING, nullptr, &Label, 0},
            {"broken", 0, 7, nullptr, nullptr, 0},
        };
    }

    std::string label = "initial";

private:
    static int32_t Active(Logging::Backend&, const char*, std::string& value, bool get) {
        if (get) {
            value = "1";
        }
        return Logging::LOGGING_RC_NOERROR;
    }
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

TEST_F(BackendProperties, TableEntriesAreReadFromStorageAccessorOrConstant) {
    EXPECT_EQ(Get("append"), "1");
    EXPECT_EQ(Get("maxSize"), "1048576");
    EXPECT_EQ(Get("file"), "app.log");
    EXPECT_EQ(Get("number-of-logs"), "2");
    EXPECT_EQ(Get("active"), "1");
    EXPECT_EQ(Get("label"), "initial");
    EXPECT_EQ(Get("Append"), "unset");  // names are case-sensitive
    EXPECT_EQ(lastCode, Logging::LOGGING_RC_NO_SUCH_PROPERTY);
    std::string value;
    EXPECT_EQ(backend.GetProperty(nullptr, value), Logging::LOGGING_RC_INVALID_PARAM);
    uint32_t size = 0;
    EXPECT_EQ(backend.GetDWordProperty("maxSize", size), 0);
    EXPECT_EQ(size, 1048576u);
    EXPECT_EQ(backend.GetDWordProperty("file", size), Logging::LOGGING_RC_PROPERTY_TYPE_MISMATCH);
}

TEST_F(BackendProperties, WritesCheckAccessAndNumbers) {
    struct Case {
        const char* name;
        const char* value;
        int32_t code;
    };
    const Case cases[] = {
        {"append", "0x0", 0}, {"append", "yes", 9},  {"maxSize", "10h", 0},
        {"maxSize", "-1", 9}, {"file", "other", 11}, {"number-of-logs", "3", 11},
        {"active", "0", 11},  {"label", "new", 0},   {"label", "refused", Logging::LOGGING_RC_NO_ACCESS},
        {"", "1", 2},         {nullptr, "1", 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(backend.SetProperty(c.name, c.value), c.code) << (c.name ? c.name : "(null)") << "=" << c.value;
    }
    EXPECT_EQ(Get("append"), "0");
    EXPECT_EQ(Get("maxSize"), "16");
    EXPECT_EQ(Get("file"), "app.log");
    EXPECT_EQ(Get("label"), "new");
    EXPECT_EQ(backend.SetProperty("label", nullptr), 0);
    EXPECT_EQ(Get("label"), "");
}

TEST_F(BackendProperties, UnknownNamesAreExtraPropertiesHoldingNumbers) {
    EXPECT_EQ(backend.SetProperty("maxFiles", "x1"), Logging::LOGGING_RC_PROPERTY_TYPE_MISMATCH);
    EXPECT_EQ(backend.SetProperty("extra", "17"), 0);
    EXPECT_EQ(Get("extra"), "17");
    EXPECT_EQ(backend.SetProperty("another", "0x20"), 0);
    uint32_t value = 0;
    EXPECT_EQ(backend.GetDWordProperty("another", value), 0);
    EXPECT_EQ(value, 32u);
    EXPECT_EQ(backend.GetPropertyNames(false).size(), 7u);
    const std::vector<std::string> all = backend.GetPropertyNames(true);
    EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()), (std::vector<std::string>{"another", "extra"}));
    EXPECT_EQ(backend.SetProperty("extra", ""), 0);
    EXPECT_EQ(backend.SetProperty("extra", nullptr), Logging::LOGGING_RC_NO_SUCH_PROPERTY);
    EXPECT_EQ(Get("extra"), "unset");
}

TEST_F(BackendProperties, AnEntryOfUnknownTypeIsAnInternalError) {
    EXPECT_EQ(Get("broken"), "unset");
    EXPECT_EQ(lastCode, Logging::LOGGING_RC_INTERNAL);
}

TEST(BackendBase, EffectiveFlagsKeepConfigurableBitsAndAddFixedOnes) {
    PropertyBackend backend;
    Logging::FileConfig config;
    config.Flags = 0xFFFFFFFF;
    ASSERT_EQ(backend.SetConfig("f", config), 0);
    // Empty prefix: nothing to expand per line.
    EXPECT_EQ(backend.EffectiveFlags(), Logging::kConfigurableFlagsMask | Logging::kPrefixExpanded);
    config.MsgPrefix = "[{pid}:{pname}] ";
    ASSERT_EQ(backend.SetConfig("f", config), 0);
    EXPECT_NE(backend.EffectiveFlags() & Logging::kPrefixExpanded, 0u);
    const Logging::TraceEnvironment& system = Logging::SystemTraceEnvironment();
    EXPECT_EQ(backend.GetConfig().MsgPrefix,
              "[" + std::to_string(system.ProcessId()) + ":" + system.ProcessName() + "] ");
    config.MsgPrefix = "{date}-";
    ASSERT_EQ(backend.SetConfig("f", config), 0);
    EXPECT_EQ(backend.EffectiveFlags() & Logging::kPrefixExpanded, 0u);
    EXPECT_EQ(backend.GetConfig().MsgPrefix, "{date}-");
}

TEST(BackendBase, LinksAreAListWithoutDuplicates) {
    Logging::NullBackend backend;
    EXPECT_EQ(backend.AddLink("a"), 0);
    EXPECT_EQ(backend.AddLink("b"), 0);
    EXPECT_EQ(backend.AddLink("a"), Logging::LOGGING_RC_CHANNEL_DOES_NOT_EXIST);
    EXPECT_EQ(backend.RemoveLink("c"), Logging::LOGGING_RC_CHANNEL_DOES_NOT_EXIST);
    EXPECT_EQ(backend.RemoveLink("a"), 0);
    EXPECT_EQ(backend.GetLinks(), std::vector<std::string>{"b"});
}

TEST(BackendBase, FilteringFollowsEnabledAndLevel) {
    Logging::NullBackend backend;
    Logging::NullConfig config;
    config.Level = Logging::WARNING;
    ASSERT_EQ(backend.SetConfig("n", config), 0);
    Logging::TraceRecord record;
    record.SetText("n", Logging::INFORMATION, 0, 0, L"x");
    EXPECT_TRUE(backend.IsFiltered(record));
    record.SetText("n", Logging::WARNING, 0, 0, L"x");
    EXPECT_FALSE(backend.IsFiltered(record));
    backend.SetLevel(0xFFFFFFF);
    EXPECT_TRUE(backend.IsFiltered(record));
    config.Level = Logging::DEBUG_TRACE;
    config.Enabled = false;
    ASSERT_EQ(backend.SetConfig("n", config), 0);
    EXPECT_TRUE(backend.IsFiltered(record));
    // The null channel keeps no flags and no properties.
    EXPECT_EQ(backend.GetConfig().Flags, 0u);
    EXPECT_TRUE(backend.GetPropertyNames(true).empty());
}

TEST(CustomBackendOpen, ACustomChannelNeedsATracer) {
    Logging::CustomBackend backend;
    EXPECT_EQ(backend.SetConfig("c", Logging::CustomConfig()), Logging::LOGGING_RC_INVALID_PARAM);
    std::string text;
    EXPECT_EQ(backend.ReadLog(10, text, 0), 12);
}

}  // namespace
