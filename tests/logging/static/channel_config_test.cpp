#include "logging/channel_config.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace Logging;

// A literal with its embedded NULs, without the terminating one.
template <size_t N>
std::string Raw(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// Per type: every field set away from its default, the defaults, and the own fields in their
// documented order (flat record and saved form), written out here rather than taken from the
// type's own field list.
template <typename Config>
struct Sample;

void FillBase(ChannelConfig& config) {
    config.Enabled = false;
    config.Level = 5;
    config.Flags = 0x303ffc;
    config.MsgPrefix = "{pid}-prefix";
}

void ExpectBaseEqual(const ChannelConfig& a, const ChannelConfig& b) {
    EXPECT_EQ(a.GetType(), b.GetType());
    EXPECT_EQ(a.Enabled, b.Enabled);
    EXPECT_EQ(a.Level, b.Level);
    EXPECT_EQ(a.Flags, b.Flags);
    EXPECT_EQ(a.MsgPrefix, b.MsgPrefix);
}

void ExpectBaseDefaults(const ChannelConfig& config, uint32_t flags) {
    EXPECT_TRUE(config.Enabled);
    EXPECT_EQ(config.Level, 2u);
    EXPECT_EQ(config.Flags, flags);
    EXPECT_EQ(config.MsgPrefix, "");
}

template <typename Config>
struct NoOwnFields {
    static void Fill(Config&) {}
    static void ExpectDefaults(const Config&) {}
    template <typename Flat>
    static void ExpectFlat(const Flat&, const Config&) {}
    static void SaveOwn(std::vector<uint8_t>&, const Config&) {}
};

template <>
struct Sample<NullConfig> : NoOwnFields<NullConfig> {
    static constexpr uint32_t kType = 0;
    static constexpr uint32_t kFlags = 0x1000f4;
};
template <>
struct Sample<DebuggerConfig> : NoOwnFields<DebuggerConfig> {
    static constexpr uint32_t kType = 1;
    static constexpr uint32_t kFlags = 0x1000f4;
};
template <>
struct Sample<ConsoleConfig> : NoOwnFields<ConsoleConfig> {
    static constexpr uint32_t kType = 2;
    static constexpr uint32_t kFlags = 0x1008f4;
};
template <>
struct Sample<CustomConfig> : NoOwnFields<CustomConfig> {
    static constexpr uint32_t kType = 6;
    static constexpr uint32_t kFlags = 0x1000f4;
    static void ExpectDefaults(const CustomConfig& c) { EXPECT_FALSE(c.TracerIf); }
    static void ExpectFlat(const _log_custom_channel_config& f, const CustomConfig& c) {
        EXPECT_EQ(f.tracerIf, c.TracerIf.Get());
    }
};

template <>
struct Sample<FileConfig> {
    static constexpr uint32_t kType = 4;
    static constexpr uint32_t kFlags = 0x1000f4;
    static void Fill(FileConfig& c) {
        c.Append = false;
        c.OneDay = true;
        c.MaxSize = 0x12345678;
        c.File = "C:\\logs\\{pname}.log";
    }
    // Written out in the documented order, independently of the type's own field list.
    static void ExpectFlat(const _log_file_channel_config& f, const FileConfig& c) {
        EXPECT_EQ(f.append, c.Append ? 1 : 0);
        EXPECT_EQ(f.oneday, c.OneDay ? 1 : 0);
        EXPECT_EQ(f.maxSize, c.MaxSize);
        EXPECT_EQ(f.file, c.File.c_str());
    }
    static void SaveOwn(std::vector<uint8_t>& out, const FileConfig& c) {
        SerialWriteBool(out, c.Append);
        SerialWriteBool(out, c.OneDay);
        SerialWriteDword(out, c.MaxSize);
        SerialWriteString(out, c.File);
    }
    static void ExpectDefaults(const FileConfig& c) {
        EXPECT_TRUE(c.Append);
        EXPECT_FALSE(c.OneDay);
        EXPECT_EQ(c.MaxSize, 1048576u);
        EXPECT_EQ(c.File, "");
    }
};

template <>
struct Sample<LogScopeConfig> {
    static constexpr uint32_t kType = 7;
    static constexpr uint32_t kFlags = 0x1000f4;
    static void Fill(LogScopeConfig& c) {
        c.Folder = "D:\\scope";
        c.Prefix = "run-";
        c.Extension = "gz";
        c.MaxSize = 1;
        c.MaxFiles = 2;
        c.Compress = 0;
        c.OneDay = true;
    }
    static void ExpectFlat(const _log_logscope_config& f, const LogScopeConfig& c) {
        EXPECT_EQ(f.folder, c.Folder.c_str());
        EXPECT_EQ(f.prefix, c.Prefix.c_str());
        EXPECT_EQ(f.extension, c.Extension.c_str());
        EXPECT_EQ(f.maxSize, c.MaxSize);
        EXPECT_EQ(f.maxFiles, c.MaxFiles);
        EXPECT_EQ(f.compress, c.Compress);
        EXPECT_EQ(f.oneday, c.OneDay ? 1 : 0);
    }
    static void SaveOwn(std::vector<uint8_t>& out, const LogScopeConfig& c) {
        SerialWriteString(out, c.Folder);
        SerialWriteString(out, c.Prefix);
        SerialWriteString(out, c.Extension);
        SerialWriteDword(out, c.MaxSize);
        SerialWriteDword(out, c.MaxFiles);
        SerialWriteDword(out, c.Compress);
        SerialWriteBool(out, c.OneDay);
    }
    static void ExpectDefaults(const LogScopeConfig& c) {
        EXPECT_EQ(c.Folder, "");
        EXPECT_EQ(c.Prefix, "");
        EXPECT_EQ(c.Extension, "log");
        EXPECT_EQ(c.MaxSize, 0x100000u);
        EXPECT_EQ(c.MaxFiles, 10u);
        EXPECT_EQ(c.Compress, 1u);
        EXPECT_FALSE(c.OneDay);
    }
};

template <>
struct Sample<GateConfig> {
    static constexpr uint32_t kType = 8;
    static constexpr uint32_t kFlags = 0x1000f4;
    static void Fill(GateConfig& c) {
        c.Server = "127.0.0.1";
        c.Port = 24100;
        c.Filter = false;
    }
    static void ExpectFlat(const _log_gate_channel_config& f, const GateConfig& c) {
        EXPECT_EQ(f.server, c.Server.c_str());
        EXPECT_EQ(f.port, c.Port);
        EXPECT_EQ(f.filter, c.Filter ? 1 : 0);
    }
    static void SaveOwn(std::vector<uint8_t>& out, const GateConfig& c) {
        SerialWriteString(out, c.Server);
        SerialWriteDword(out, c.Port);
        SerialWriteBool(out, c.Filter);
    }
    static void ExpectDefaults(const GateConfig& c) {
        EXPECT_EQ(c.Server, "");
        EXPECT_EQ(c.Port, 0u);
        EXPECT_TRUE(c.Filter);
    }
};

template <>
struct Sample<FileFolderConfig> {
    static constexpr uint32_t kType = 9;
    static constexpr uint32_t kFlags = 0x1000f4;
    static void Fill(FileFolderConfig& c) {
        c.MaxSize = 11;
        c.MaxFiles = 12;
        c.MaxAge = 13;
        c.ScanPeriod = 14;
        c.Folder = "folder";
        c.File = "file";
        c.Prefix = "prefix";
        c.Extension = "ext";
    }
    static void ExpectFlat(const _log_file_folder_channel_config& f, const FileFolderConfig& c) {
        EXPECT_EQ(f.maxSize, c.MaxSize);
        EXPECT_EQ(f.maxFiles, c.MaxFiles);
        EXPECT_EQ(f.maxAge, c.MaxAge);
        EXPECT_EQ(f.scanPeriod, c.ScanPeriod);
        EXPECT_EQ(f.folder, c.Folder.c_str());
        EXPECT_EQ(f.file, c.File.c_str());
        EXPECT_EQ(f.prefix, c.Prefix.c_str());
        EXPECT_EQ(f.extension, c.Extension.c_str());
    }
    static void SaveOwn(std::vector<uint8_t>& out, const FileFolderConfig& c) {
        SerialWriteDword(out, c.MaxSize);
        SerialWriteDword(out, c.MaxFiles);
        SerialWriteDword(out, c.MaxAge);
        SerialWriteDword(out, c.ScanPeriod);
        SerialWriteString(out, c.Folder);
        SerialWriteString(out, c.File);
        SerialWriteString(out, c.Prefix);
        SerialWriteString(out, c.Extension);
    }
    static void ExpectDefaults(const FileFolderConfig& c) {
        EXPECT_EQ(c.MaxSize, 0xFFFFFFFFu);
        EXPECT_EQ(c.MaxFiles, 0xFFFFFFFFu);
        EXPECT_EQ(c.MaxAge, 168u);
        EXPECT_EQ(c.ScanPeriod, 1800000u);
        EXPECT_EQ(c.Folder, "");
        EXPECT_EQ(c.File, "");
        EXPECT_EQ(c.Prefix, "");
        EXPECT_EQ(c.Extension, "");
    }
};

template <>
struct Sample<SharedFileConfig> {
    static constexpr uint32_t kType = 10;
    static constexpr uint32_t kFlags = 0x1030f4;
    static void Fill(SharedFileConfig& c) {
        c.MaxSize = 21;
        c.Timeout = 22;
        c.File = "shared.log";
        c.OneDay = true;
    }
    static void ExpectFlat(const _log_shared_file_channel_config& f, const SharedFileConfig& c) {
        EXPECT_EQ(f.maxSize, c.MaxSize);
        EXPECT_EQ(f.timeout, c.Timeout);
        EXPECT_EQ(f.file, c.File.c_str());
        EXPECT_EQ(f.oneday, c.OneDay ? 1 : 0);
    }
    static void SaveOwn(std::vector<uint8_t>& out, const SharedFileConfig& c) {
        SerialWriteDword(out, c.MaxSize);
        SerialWriteDword(out, c.Timeout);
        SerialWriteString(out, c.File);
        SerialWriteBool(out, c.OneDay);
    }
    static void ExpectDefaults(const SharedFileConfig& c) {
        EXPECT_EQ(c.MaxSize, 33554432u);
        EXPECT_EQ(c.Timeout, 3000u);
        EXPECT_EQ(c.File, "");
        EXPECT_FALSE(c.OneDay);
    }
};

template <typename Config>
Config Filled() {
    Config config;
    FillBase(config);
    Sample<Config>::Fill(config);
    return config;
}

template <typename Config>
void ExpectSame(const ChannelConfig& actual, const Config& expected) {
    ASSERT_EQ(actual.GetType(), expected.GetType());
    const Config& typed = static_cast<const Config&>(actual);
    ExpectBaseEqual(typed, expected);
    // The own fields compared through the test's own list of them.
    std::vector<uint8_t> actualOwn;
    std::vector<uint8_t> expectedOwn;
    Sample<Config>::SaveOwn(actualOwn, typed);
    Sample<Config>::SaveOwn(expectedOwn, expected);
    EXPECT_EQ(actualOwn, expectedOwn);
}

template <typename Config>
void ExpectDefaults(const ChannelConfig& actual) {
    ASSERT_EQ(actual.GetType(), Sample<Config>::kType);
    ExpectBaseDefaults(actual, Sample<Config>::kFlags);
    Sample<Config>::ExpectDefaults(static_cast<const Config&>(actual));
}

// The offsets of each "dwrd"/"bool"/"str " value in saved data, found by walking it.
std::vector<size_t> ValueOffsets(const std::vector<uint8_t>& data) {
    std::vector<size_t> offsets;
    size_t pos = 0;
    while (pos + 4 <= data.size()) {
        offsets.push_back(pos);
        std::string tag(data.begin() + pos, data.begin() + pos + 4);
        if (tag == "dwrd") {
            pos += 8;
        } else if (tag == "bool") {
            pos += 5;
        } else if (tag == "str ") {
            uint32_t length = data[pos + 4] | data[pos + 5] << 8 | data[pos + 6] << 16 | data[pos + 7] << 24;
            pos += 8 + length;
        } else {
            ADD_FAILURE() << "unknown tag at " << pos;
            break;
        }
    }
    EXPECT_EQ(pos, data.size());
    return offsets;
}

template <typename Config>
class ChannelConfigTypes : public ::testing::Test {};

using AllConfigs = ::testing::Types<NullConfig, DebuggerConfig, ConsoleConfig, FileConfig, CustomConfig, LogScopeConfig,
                                    GateConfig, FileFolderConfig, SharedFileConfig>;

class ConfigNames {
public:
    template <typename T>
    static std::string GetName(int) {
        return BackendTypeName(Sample<T>::kType);
    }
};

TYPED_TEST_SUITE(ChannelConfigTypes, AllConfigs, ConfigNames);

TYPED_TEST(ChannelConfigTypes, DefaultsFromConstructorCreateDefaultAndTypeNumber) {
    TypeParam constructed;
    ExpectDefaults<TypeParam>(constructed);
    EXPECT_EQ(TypeParam::kType, Sample<TypeParam>::kType);

    TypeParam filled = Filled<TypeParam>();
    std::unique_ptr<ChannelConfig> fresh = filled.CreateDefault();
    ExpectDefaults<TypeParam>(*fresh);

    std::unique_ptr<ChannelConfig> byNumber = CreateDefaultConfig(Sample<TypeParam>::kType);
    ASSERT_NE(byNumber, nullptr);
    ExpectDefaults<TypeParam>(*byNumber);
}

TYPED_TEST(ChannelConfigTypes, FlatRecordBorrowsStringsAndRebuildsAnEqualConfig) {
    auto original = std::make_unique<TypeParam>(Filled<TypeParam>());
    FlatConfigPtr flat(original->ToFlat());
    ASSERT_NE(flat, nullptr);
    EXPECT_EQ(flat->size, sizeof(typename TypeParam::FlatType));
    EXPECT_EQ(flat->size, FlatConfigSize(Sample<TypeParam>::kType));
    EXPECT_EQ(flat->type, Sample<TypeParam>::kType);
    EXPECT_EQ(flat->enabled, 0);
    EXPECT_EQ(flat->level, 5u);
    EXPECT_EQ(flat->flags, 0x303ffcu);
    EXPECT_EQ(flat->msgPrefix, original->MsgPrefix.c_str());
    Sample<TypeParam>::ExpectFlat(*reinterpret_cast<const typename TypeParam::FlatType*>(flat.get()), *original);

    std::unique_ptr<ChannelConfig> rebuilt = CreateConfigFromFlat(flat.get());
    ASSERT_NE(rebuilt, nullptr);
    // The copy must own its strings: the flat record and the object it points into go first.
    flat.reset();
    original.reset();
    ExpectSame(*rebuilt, Filled<TypeParam>());
}

TYPED_TEST(ChannelConfigTypes, ZeroedFlatRecordGivesEmptyStringsAndZeroNumbers) {
    typename TypeParam::FlatType flat{};
    flat.header.size = sizeof(flat);
    flat.header.type = Sample<TypeParam>::kType;
    std::unique_ptr<ChannelConfig> rebuilt = CreateConfigFromFlat(&flat.header);
    ASSERT_NE(rebuilt, nullptr);
    // Every string came from a null pointer, every number and switch from a zero.
    std::vector<uint8_t> data;
    rebuilt->Save(data);
    for (size_t offset : ValueOffsets(data)) {
        if (offset == 0) {
            continue;  // the type
        }
        SCOPED_TRACE(offset);
        std::string tag(data.begin() + offset, data.begin() + offset + 4);
        size_t valueSize = tag == "bool" ? 1 : 4;
        for (size_t i = 0; i < valueSize; ++i) {
            EXPECT_EQ(data[offset + 4 + i], 0);
        }
    }
}

TYPED_TEST(ChannelConfigTypes, SavedFormLoadsBackIntoAnEqualConfig) {
    TypeParam original = Filled<TypeParam>();
    std::vector<uint8_t> data;
    original.Save(data);

    SerialReader in(data);
    TypeParam loaded;
    loaded.Load(in);
    EXPECT_EQ(in.Remaining(), 0u);
    ExpectSame(loaded, original);

    SerialReader again(data);
    std::unique_ptr<ChannelConfig> any = LoadConfig(again);
    ASSERT_NE(any, nullptr);
    ExpectSame(*any, original);

    // LoadBase stops after the message prefix.
    SerialReader baseOnly(data);
    TypeParam base;
    base.LoadBase(baseOnly);
    ExpectBaseEqual(base, original);
    Sample<TypeParam>::ExpectDefaults(base);
}

TYPED_TEST(ChannelConfigTypes, SavedFormIsTheBaseThenOwnFieldsInFlatRecordOrder) {
    TypeParam config = Filled<TypeParam>();
    std::vector<uint8_t> expected;
    SerialWriteDword(expected, Sample<TypeParam>::kType);
    SerialWriteBool(expected, false);
    SerialWriteDword(expected, 5);
    SerialWriteDword(expected, 0x303ffc);
    SerialWriteString(expected, "{pid}-prefix");
    Sample<TypeParam>::SaveOwn(expected, config);
    std::vector<uint8_t> data = {0xAA};  // Save appends
    config.Save(data);
    ASSERT_EQ(data.front(), 0xAA);
    EXPECT_EQ(std::vector<uint8_t>(data.begin() + 1, data.end()), expected);
}

TYPED_TEST(ChannelConfigTypes, TruncationAtAnyByteThrowsAndLeavesTheConfigUnchanged) {
    std::vector<uint8_t> data;
    Filled<TypeParam>().Save(data);
    for (size_t length = 0; length < data.size(); ++length) {
        SCOPED_TRACE(length);
        // Exactly the bytes kept, so that reading past them is a fault the run can catch.
        std::vector<uint8_t> cut(data.begin(), data.begin() + length);
        SerialReader in(cut.data(), cut.size());
        TypeParam target;
        EXPECT_THROW(target.Load(in), SerialFormatError);
        ExpectDefaults<TypeParam>(target);
    }
}

TYPED_TEST(ChannelConfigTypes, WrongTagAtEveryValueThrowsWithItsOffset) {
    std::vector<uint8_t> data;
    Filled<TypeParam>().Save(data);
    std::vector<size_t> offsets = ValueOffsets(data);
    ASSERT_GE(offsets.size(), 5u);
    for (size_t offset : offsets) {
        for (size_t tagByte = 0; tagByte < 4; ++tagByte) {
            SCOPED_TRACE(testing::Message() << "value at " << offset << ", tag byte " << tagByte);
            std::vector<uint8_t> bad = data;
            bad[offset + tagByte] ^= 0x20;
            SerialReader in(bad);
            TypeParam target;
            try {
                target.Load(in);
                ADD_FAILURE() << "no exception";
            } catch (const SerialFormatError& error) {
                EXPECT_EQ(error.Offset(), offset);
            }
            ExpectDefaults<TypeParam>(target);
        }
    }
}

TYPED_TEST(ChannelConfigTypes, StringLengthPastTheEndThrows) {
    std::vector<uint8_t> data;
    Filled<TypeParam>().Save(data);
    for (size_t offset : ValueOffsets(data)) {
        if (std::string(data.begin() + offset, data.begin() + offset + 4) != "str ") {
            continue;
        }
        uint32_t actual = data[offset + 4] | data[offset + 5] << 8 | data[offset + 6] << 16 | data[offset + 7] << 24;
        uint32_t remaining = static_cast<uint32_t>(data.size() - offset - 8);
        for (uint32_t length : {remaining + 1, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
            SCOPED_TRACE(testing::Message() << "string at " << offset << " length " << length);
            ASSERT_LT(actual, length);
            std::vector<uint8_t> bad = data;
            for (int i = 0; i < 4; ++i) {
                bad[offset + 4 + i] = static_cast<uint8_t>(length >> (8 * i));
            }
            SerialReader in(bad);
            TypeParam target;
            EXPECT_THROW(target.Load(in), SerialFormatError);
        }
    }
}

TYPED_TEST(ChannelConfigTypes, AssignCopiesEveryFieldOfTheSameType) {
    TypeParam source = Filled<TypeParam>();
    TypeParam target;
    target.Assign(source);
    ExpectSame(target, source);
    // Independent afterwards.
    source.MsgPrefix = "changed";
    EXPECT_EQ(target.MsgPrefix, "{pid}-prefix");

    std::unique_ptr<ChannelConfig> clone = CloneConfig(target);
    ExpectSame(*clone, target);
}

TEST(ChannelConfig, LoadRejectsDataSavedFromAnotherType) {
    std::vector<uint8_t> data;
    Filled<FileConfig>().Save(data);
    SerialReader in(data);
    GateConfig gate;
    try {
        gate.Load(in);
        ADD_FAILURE() << "no exception";
    } catch (const SerialFormatError& error) {
        EXPECT_EQ(error.Offset(), 0u);
    }
    ExpectDefaults<GateConfig>(gate);
}

TEST(ChannelConfig, LoadConfigRejectsTypesWithoutConfiguration) {
    for (uint32_t type : {3u, 5u, 11u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(type);
        std::vector<uint8_t> data;
        SerialWriteDword(data, type);
        SerialWriteBool(data, true);
        SerialWriteDword(data, 2);
        SerialWriteDword(data, 0);
        SerialWriteString(data, "");
        SerialReader in(data);
        EXPECT_THROW(LoadConfig(in), SerialFormatError);
    }
}

TEST(ChannelConfig, SavedFileConfigHasTheDocumentedByteLayout) {
    FileConfig config;
    config.MsgPrefix = "p";
    config.File = "f.log";
    std::vector<uint8_t> data;
    config.Save(data);
    const std::string expected =
        Raw("dwrd\x04\x00\x00\x00"
            "bool\x01"
            "dwrd\x02\x00\x00\x00"
            "dwrd\xf4\x00\x10\x00"
            "str \x01\x00\x00\x00p"
            "bool\x01"
            "bool\x00"
            "dwrd\x00\x00\x10\x00"
            "str \x05\x00\x00\x00"
            "f.log");
    EXPECT_EQ(std::string(data.begin(), data.end()), expected);
}

TEST(ChannelConfig, AssignBetweenTypesIsAnAssertionAndCopiesNothing) {
    FileConfig target;
    GateConfig source = Filled<GateConfig>();
    testing::internal::CaptureStderr();
    target.Assign(source);
    std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("Assertion failed: GetType() == source.GetType(), file logging/include/channel_config, "
                          "line 147"),
              std::string::npos)
        << report;
    ExpectDefaults<FileConfig>(target);
}

TEST(ChannelConfig, FlatRecordLayoutIsFixed) {
    EXPECT_EQ(offsetof(_log_channel_config, size), 0u);
    EXPECT_EQ(offsetof(_log_channel_config, type), 4u);
    EXPECT_EQ(offsetof(_log_channel_config, enabled), 8u);
    EXPECT_EQ(offsetof(_log_channel_config, level), 12u);
    EXPECT_EQ(offsetof(_log_channel_config, flags), 16u);
    EXPECT_EQ(offsetof(_log_channel_config, msgPrefix), 24u);
    EXPECT_EQ(sizeof(_log_null_channel_config), 32u);
    EXPECT_EQ(sizeof(_log_debugger_channel_config), 32u);
    EXPECT_EQ(sizeof(_log_console_channel_config), 32u);

    EXPECT_EQ(offsetof(_log_file_channel_config, append), 32u);
    EXPECT_EQ(offsetof(_log_file_channel_config, oneday), 33u);
    EXPECT_EQ(offsetof(_log_file_channel_config, maxSize), 36u);
    EXPECT_EQ(offsetof(_log_file_channel_config, file), 40u);
    EXPECT_EQ(sizeof(_log_file_channel_config), 48u);

    EXPECT_EQ(offsetof(_log_custom_channel_config, tracerIf), 32u);
    EXPECT_EQ(sizeof(_log_custom_channel_config), 40u);

    EXPECT_EQ(offsetof(_log_logscope_config, folder), 32u);
    EXPECT_EQ(offsetof(_log_logscope_config, prefix), 40u);
    EXPECT_EQ(offsetof(_log_logscope_config, extension), 48u);
    EXPECT_EQ(offsetof(_log_logscope_config, maxSize), 56u);
    EXPECT_EQ(offsetof(_log_logscope_config, maxFiles), 60u);
    EXPECT_EQ(offsetof(_log_logscope_config, compress), 64u);
    EXPECT_EQ(offsetof(_log_logscope_config, oneday), 68u);
    EXPECT_EQ(sizeof(_log_logscope_config), 72u);

    EXPECT_EQ(offsetof(_log_gate_channel_config, server), 32u);
    EXPECT_EQ(offsetof(_log_gate_channel_config, port), 40u);
    EXPECT_EQ(offsetof(_log_gate_channel_config, filter), 44u);
    EXPECT_EQ(sizeof(_log_gate_channel_config), 48u);

    EXPECT_EQ(offsetof(_log_file_folder_channel_config, maxSize), 32u);
    EXPECT_EQ(offsetof(_log_file_folder_channel_config, maxFiles), 36u);
    EXPECT_EQ(offsetof(_log_file_folder_channel_config, maxAge), 40u);
    EXPECT_EQ(offsetof(_log_file_folder_channel_config, scanPeriod), 44u);
    EXPECT_EQ(offsetof(_log_file_folder_channel_config, folder), 48u);
    EXPECT_EQ(offsetof(_log_file_folder_channel_config, file), 56u);
    EXPECT_EQ(offsetof(_log_file_folder_channel_config, prefix), 64u);
    EXPECT_EQ(offsetof(_log_file_folder_channel_config, extension), 72u);
    EXPECT_EQ(sizeof(_log_file_folder_channel_config), 80u);

    EXPECT_EQ(offsetof(_log_shared_file_channel_config, maxSize), 32u);
    EXPECT_EQ(offsetof(_log_shared_file_channel_config, timeout), 36u);
    EXPECT_EQ(offsetof(_log_shared_file_channel_config, file), 40u);
    EXPECT_EQ(offsetof(_log_shared_file_channel_config, oneday), 48u);
    EXPECT_EQ(sizeof(_log_shared_file_channel_config), 56u);
}

TEST(ChannelConfig, FileConfigToFlatPointsIntoTheObject) {
    FileConfig config;
    config.File = "x.log";
    FlatConfigPtr flat(config.ToFlat());
    ASSERT_NE(flat, nullptr);
    const auto* file = reinterpret_cast<const _log_file_channel_config*>(flat.get());
    EXPECT_EQ(file->header.size, sizeof(_log_file_channel_config));
    EXPECT_EQ(file->header.type, 4u);
    EXPECT_EQ(file->file, config.File.c_str());
    EXPECT_EQ(file->append, 1);
    EXPECT_EQ(file->maxSize, 0x100000u);
}

struct MalformedFlat {
    const char* what;
    uint32_t size;
    uint32_t type;
};

TEST(ChannelConfig, MalformedFlatRecordsGiveNoConfig) {
    const uint32_t header = sizeof(_log_channel_config);
    const MalformedFlat cases[] = {
        {"empty", 0, 0},
        {"smaller than the header", header - 1, 0},
        {"file record one byte short", sizeof(_log_file_channel_config) - 1, 4},
        {"file record one byte long", sizeof(_log_file_channel_config) + 1, 4},
        {"file record with header size", header, 4},
        {"null record one byte long", header + 1, 0},
        {"custom record one byte short", sizeof(_log_custom_channel_config) - 1, 6},
        {"logscope record one byte long", sizeof(_log_logscope_config) + 1, 7},
        {"gate record one byte short", sizeof(_log_gate_channel_config) - 1, 8},
        {"filefolder record one byte long", sizeof(_log_file_folder_channel_config) + 1, 9},
        {"sharedfile record one byte short", sizeof(_log_shared_file_channel_config) - 1, 10},
        {"sharedfile record with file size", sizeof(_log_file_channel_config), 10},
        {"type 3", header, 3},
        {"type 5", header, 5},
        {"type 11", header, 11},
        {"type 11 with a large size", 256, 11},
        {"type all ones", header, 0xFFFFFFFF},
    };
    // Big enough for any size a case claims, so that a wrong accept reads nothing undefined.
    alignas(8) unsigned char storage[512] = {};
    for (const MalformedFlat& c : cases) {
        SCOPED_TRACE(c.what);
        auto* flat = reinterpret_cast<_log_channel_config*>(storage);
        flat->size = c.size;
        flat->type = c.type;
        EXPECT_EQ(CreateConfigFromFlat(flat), nullptr);
    }
    EXPECT_EQ(CreateConfigFromFlat(nullptr), nullptr);
}

TEST(ChannelConfig, TypeNamesBothWays) {
    const char* const names[] = {"null",   "debugger", "console", "",           "file",      "",
                                 "custom", "logscope", "gate",    "filefolder", "sharedfile"};
    for (uint32_t type = 0; type <= 10; ++type) {
        SCOPED_TRACE(type);
        EXPECT_STREQ(BackendTypeName(type), names[type]);
        if (names[type][0] != '\0') {
            EXPECT_EQ(BackendTypeFromName(names[type]), std::optional<uint32_t>(type));
            EXPECT_NE(CreateDefaultConfig(type), nullptr);
            EXPECT_NE(FlatConfigSize(type), 0u);
        } else {
            EXPECT_EQ(CreateDefaultConfig(type), nullptr);
            EXPECT_EQ(FlatConfigSize(type), 0u);
        }
    }
    EXPECT_STREQ(BackendTypeName(11), "");
    EXPECT_STREQ(BackendTypeName(0xFFFFFFFF), "");
    EXPECT_EQ(CreateDefaultConfig(11), nullptr);
    EXPECT_EQ(BackendTypeFromName("SharedFile"), std::optional<uint32_t>(10));
    for (const char* bad : {"", "files", "shared file", " null", "3"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(BackendTypeFromName(bad).has_value());
    }
}

}  // namespace
