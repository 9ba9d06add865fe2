#include "logging/config_serial.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace Logging;

// A literal with its embedded NULs, without the terminating one.
template <size_t N>
std::string Raw(const char (&text)[N]) {
    return std::string(text, N - 1);
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(ConfigSerial, WritesTaggedLittleEndianValues) {
    std::vector<uint8_t> out;
    SerialWriteDword(out, 0x11223344);
    SerialWriteBool(out, true);
    SerialWriteBool(out, false);
    SerialWriteString(out, "ab");
    SerialWriteString(out, "");
    EXPECT_EQ(out, Bytes(Raw("dwrd\x44\x33\x22\x11"
                             "bool\x01"
                             "bool\x00"
                             "str \x02\x00\x00\x00"
                             "ab"
                             "str \x00\x00\x00\x00")));
}

TEST(ConfigSerial, ReadsBackWhatWasWrittenAndTracksThePosition) {
    std::vector<uint8_t> data;
    SerialWriteDword(data, 0xFFFFFFFF);
    SerialWriteBool(data, true);
    SerialWriteString(data, Raw("a\0b"));
    SerialWriteDword(data, 7);
    SerialReader in(data);
    EXPECT_EQ(in.PeekDword(), 0xFFFFFFFFu);
    EXPECT_EQ(in.Position(), 0u);
    EXPECT_EQ(in.ReadDword(), 0xFFFFFFFFu);
    EXPECT_EQ(in.Position(), 8u);
    EXPECT_TRUE(in.ReadBool());
    EXPECT_EQ(in.ReadString(), Raw("a\0b"));
    EXPECT_EQ(in.ReadDword(), 7u);
    EXPECT_EQ(in.Remaining(), 0u);
}

TEST(ConfigSerial, AnyNonzeroBoolByteIsTrue) {
    std::vector<uint8_t> data = Bytes(Raw("bool\x02"));
    SerialReader in(data);
    EXPECT_TRUE(in.ReadBool());
}

struct BadData {
    const char* what;
    std::string bytes;
    int read;  // 0 dword, 1 bool, 2 string
};

TEST(ConfigSerial, ThrowsOnWrongTagsAndShortDataWithoutMoving) {
    const BadData cases[] = {
        {"empty dword", "", 0},
        {"empty bool", "", 1},
        {"empty string", "", 2},
        {"short tag", "dwr", 0},
        {"dword without number", "dwrd", 0},
        {"dword cut", Raw("dwrd\x01\x02\x03"), 0},
        {"bool without byte", "bool", 1},
        {"string without length", "str ", 2},
        {"string length cut", Raw("str \x01\x00"), 2},
        {"string text cut",
         Raw("str \x03\x00\x00\x00"
             "ab"),
         2},
        {"string length far past the end",
         Raw("str \xff\xff\xff\xff"
             "ab"),
         2},
        {"bool read as dword", Raw("bool\x01\x00\x00\x00"), 0},
        {"dword read as bool", Raw("dwrd\x01\x00\x00\x00"), 1},
        {"dword read as string", Raw("dwrd\x01\x00\x00\x00"), 2},
        {"tag in upper case", Raw("DWRD\x01\x00\x00\x00"), 0},
        {"string tag without blank", Raw("str\x00\x00\x00\x00\x00"), 2},
    };
    for (const BadData& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> data = Bytes(c.bytes);
        SerialReader in(data);
        try {
            switch (c.read) {
                case 0: in.ReadDword(); break;
                case 1: in.ReadBool(); break;
                default: in.ReadString(); break;
            }
            ADD_FAILURE() << "no exception";
        } catch (const SerialFormatError& error) {
            EXPECT_EQ(error.Offset(), 0u);
            EXPECT_NE(std::string(error.what()), "");
        }
        EXPECT_EQ(in.Position(), 0u);
    }
}

TEST(ConfigSerial, ErrorsCarryTheOffsetOfTheBadValue) {
    std::vector<uint8_t> data;
    SerialWriteDword(data, 1);
    SerialWriteDword(data, 2);
    data[8] = 'x';
    SerialReader in(data);
    EXPECT_EQ(in.ReadDword(), 1u);
    try {
        in.ReadDword();
        ADD_FAILURE() << "no exception";
    } catch (const SerialFormatError& error) {
        EXPECT_EQ(error.Offset(), 8u);
    }
}

TEST(ConfigSerial, NullBufferIsEmpty) {
    SerialReader in(nullptr, 100);
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_THROW(in.ReadBool(), SerialFormatError);
}

}  // namespace
