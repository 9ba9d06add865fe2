#include "core/common/catalogue_lookup.h"

#include <gtest/gtest.h>

namespace {

using Strings = std::vector<std::string>;

TEST(LocaleList, FollowsTheNormalisationAndFallbackRules) {
    const std::vector<std::pair<Strings, Strings>> cases = {
        {{"pt_BR"}, {"pt_BR", "pt"}},
        {{"pt_PT"}, {"pt"}},
        {{"zh_HK"}, {"zh_TW", "zh"}},
        {{"zh_MO"}, {"zh_TW", "zh"}},
        {{"zh_TW"}, {"zh_TW", "zh"}},
        {{"zh_Hant_TW"}, {"zh_TW", "zh"}},
        {{"zh_CN"}, {"zh"}},
        {{"es_ES"}, {"es", "es_ES"}},
        {{"es_MX"}, {"es_MX"}},
        {{"de_CH"}, {"de"}},
        {{"de_DE", "fr_FR"}, {"de", "fr"}},
        {{"en_US"}, {"en"}},
        {{"en_GB"}, {"en_GB"}},
        {{"en_UK"}, {"en_GB"}},
        {{"ja"}, {"ja"}},
        {{"sr_"}, {"sr"}},
        // Repeats keep their first place, fallbacks included.
        {{"pt_BR", "pt_PT", "es_AR", "es_ES"}, {"pt_BR", "pt", "es", "es_ES"}},
        {{"zh_CN", "zh_HK"}, {"zh", "zh_TW"}},
        // Names too short to name a language are dropped; nothing left means English.
        {{"d", "", "it_IT"}, {"it"}},
        {{"x"}, {"en"}},
        {{}, {"en"}},
    };
    for (const auto& [names, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(names));
        EXPECT_EQ(Common::BuildLocaleList(names), expected);
    }
}

TEST(LocaleList, PrefixRulesApplyInTableOrder) {
    EXPECT_EQ(Common::NormaliseLocaleName("zh_TWX"), "zh_TW");
    EXPECT_EQ(Common::NormaliseLocaleName("pt_BRA"), "pt_BR");
    EXPECT_EQ(Common::NormaliseLocaleName("zh_Hans_CN"), "zh");
    EXPECT_EQ(Common::NormaliseLocaleName("zh"), "zh");
    EXPECT_EQ(Common::NormaliseLocaleName("zh_H"), "zh");
    EXPECT_EQ(Common::NormaliseLocaleName("e"), "");
}

TEST(LanguageIdList, ParsesHexadecimalMultiStrings) {
    const wchar_t two[] =
        L"0407\0"
        L"040c\0";
    EXPECT_EQ(Common::ParseLanguageIdList(two, sizeof two / sizeof two[0]), (std::vector<uint16_t>{0x0407, 0x040C}));
    const wchar_t mixed[] =
        L"0C04\0zz\0"
        L"10000\0"
        L"\0"
        L"0416\0";  // stops at the empty string
    EXPECT_EQ(Common::ParseLanguageIdList(mixed, sizeof mixed / sizeof mixed[0]), (std::vector<uint16_t>{0x0C04}));
    const wchar_t unterminated[] = {L'0', L'4', L'1', L'6'};
    EXPECT_EQ(Common::ParseLanguageIdList(unterminated, 4), (std::vector<uint16_t>{0x0416}));
    EXPECT_EQ(Common::ParseLanguageIdList(unterminated, 2), (std::vector<uint16_t>{0x04}));
    EXPECT_TRUE(Common::ParseLanguageIdList(nullptr, 10).empty());
    EXPECT_TRUE(Common::ParseLanguageIdList(L"", 1).empty());
}

TEST(LocalisedEntryNames, TryEachLocaleThenThePlainName) {
    EXPECT_EQ(Common::LocalisedEntryNames({"pt_BR", "pt"}, "hostprobe.msg"),
              (Strings{"pt_BR/hostprobe.msg", "pt/hostprobe.msg", "hostprobe.msg"}));
    // English is the root entry and is tried in its place in the list.
    EXPECT_EQ(Common::LocalisedEntryNames({"de", "en", "fr"}, "hostprobe.msg"),
              (Strings{"de/hostprobe.msg", "hostprobe.msg", "fr/hostprobe.msg"}));
    EXPECT_EQ(Common::LocalisedEntryNames({"en"}, "x"), (Strings{"x"}));
}

TEST(SideArchivePath, ReplacesOrAddsTheExtension) {
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"C:\\Program Files\\hp\\hostprobe.exe", L"C:\\Program Files\\hp\\hostprobe.dat"},
        {L"C:\\tools\\hostprobe", L"C:\\tools\\hostprobe.dat"},
        {L"C:\\tools.v2\\hostprobe", L"C:\\tools.v2\\hostprobe.dat"},
        {L"/opt/tools.v2/hostprobe", L"/opt/tools.v2/hostprobe.dat"},
        {L"C:\\x\\a.b.exe", L"C:\\x\\a.b.dat"},
        {L"hostprobe.", L"hostprobe.dat"},
        {L"", L".dat"},
    };
    for (const auto& [exe, side] : cases) {
        EXPECT_EQ(Common::SideArchivePath(exe), side);
    }
}

}  // namespace
