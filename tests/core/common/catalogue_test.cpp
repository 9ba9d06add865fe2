#include "core/common/message_catalogue.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "core/common/catalogue_image.h"
#include "core/common/catalogue_lookup.h"
#include "core/common/utf.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace {

using Strings = std::vector<std::string>;
using TestSupport::Get;

// This program carries no archive, so the built-in table is current.
TEST(MessageCatalogue, BuiltInImageLookupsAndMembership) {
    const auto* image = static_cast<const char*>(Common::BuiltInCatalogueImage());
    const std::string bytes(image, Common::BuiltInCatalogueSize());
    ASSERT_EQ(bytes.size(), 4896u);
    EXPECT_EQ(Get(bytes, 0) | Get(bytes, 4) << 32, 4896u | 79ull << 32);
    // The first text follows the 79 offsets; each next text follows the previous one's NUL.
    size_t expected = 324;
    for (uint32_t i = 0; i < Common::kMessageCount; ++i) {
        const wchar_t* text = Common::GetMessageText(static_cast<Common::MessageId>(i));
        ASSERT_EQ(8 + 4 * i + Get(bytes, 8 + 4 * i), expected) << i;
        ASSERT_EQ(reinterpret_cast<const char*>(text), image + expected) << i;
        expected += 2 * (wcslen(text) + 1);
    }
    EXPECT_EQ(expected, bytes.size());
    // The build compiles the English source with the same tool as the translations.
    EXPECT_TRUE(TestSupport::ReadFileBytes(TestSupport::ModuleDirectory() + L"catalogues\\en.msg") == bytes);
    EXPECT_STREQ(Common::GetMessageText(static_cast<Common::MessageId>(Common::kMessageCount)), L"");
    for (const char* inside : {image, image + bytes.size() - 1}) {
        EXPECT_TRUE(Common::IsInMessageTable(inside));
    }
    for (const void* outside : {image + bytes.size(), image - 1, static_cast<const char*>(nullptr) + 1}) {
        EXPECT_FALSE(Common::IsInMessageTable(outside));
    }
    std::vector<uint8_t> entry(3, 1);
    EXPECT_FALSE(Common::ReadLocalisedArchiveEntry("hostprobe.msg", entry));
    EXPECT_TRUE(entry.empty());
}

TEST(CatalogueImage, LoaderChecksHeaderOffsetsAndTerminators) {
    const std::string good = TestSupport::MakeCatalogueImage("text");
    const auto with = [&good](size_t at, uint32_t value, size_t size = std::string::npos) {
        std::string image = good.substr(0, size);
        TestSupport::Put(image, at, value, 4);
        return image;
    };
    const uint32_t last = 8 + 4 * 78, size = static_cast<uint32_t>(good.size());
    const struct {
        const char* name;
        std::string image;
        bool header, texts;
    } cases[] = {{"good", good, true, true},
                 {"a text shared, out of order", with(last, Get(good, 8) - 4 * 78), true, true},
                 {"count 80", with(4, 80), false, false},
                 {"older catalogue", TestSupport::MakeCatalogueImage("text", 78), false, false},
                 {"size field too large", with(0, size + 2), false, false},
                 {"size field too small", good + "xx", false, false},
                 {"7 bytes", good.substr(0, 7), false, false},
                 {"offset table cut off", with(0, 8, 8), true, false},
                 {"offset past the end", with(last, size), true, false},
                 {"offset far past the end", with(8, 0xFFFFFFF0u), true, false},
                 {"odd position", with(20, Get(good, 20) + 1), true, false},
                 {"text inside the offset table", with(last, 0), true, false},
                 {"last text without NUL", with(0, size - 2, size - 2), true, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(Common::IsAcceptedCatalogueHeader(c.image.data(), c.image.size()), c.header) << c.name;
        EXPECT_EQ(c.header && Common::AreCatalogueTextsInBounds(c.image.data(), c.image.size()), c.texts) << c.name;
    }
    EXPECT_STREQ(Common::CatalogueText(cases[1].image.data(), 78), L"text 0");
}

TEST(CatalogueLookup, LocaleListsEntryNamesAndSideFile) {
    const std::vector<std::pair<Strings, Strings>> cases = {
        {{"pt_BR"}, {"pt_BR", "pt"}},
        {{"pt_PT"}, {"pt"}},
        {{"zh_HK"}, {"zh_TW", "zh"}},
        {{"zh_Hant_TW"}, {"zh_TW", "zh"}},
        {{"es_ES"}, {"es", "es_ES"}},
        {{"de_CH"}, {"de"}},
        {{"de_DE", "fr_FR"}, {"de", "fr"}},
        {{"en_US"}, {"en"}},
        {{"en_UK"}, {"en_GB"}},
        {{"en_GB"}, {"en_GB"}},
        {{"es_MX"}, {"es_MX"}},
        {{"zh_MO"}, {"zh_TW", "zh"}},
        {{"pt_BR", "pt_PT", "es_AR", "es_ES"}, {"pt_BR", "pt", "es", "es_ES"}},
        {{"d", "", "it_IT"}, {"it"}},
        {{}, {"en"}}};
    for (const auto& [names, expected] : cases) {
        EXPECT_EQ(Common::BuildLocaleList(names), expected) << testing::PrintToString(names);
    }
    std::wstring ids = L"0407|zz|10000|040c||0416|";  // stops at the empty string
    std::replace(ids.begin(), ids.end(), L'|', L'\0');
    EXPECT_EQ(Common::ParseLanguageIdList(ids.data(), ids.size()), (std::vector<uint16_t>{0x0407, 0x040C}));
    EXPECT_EQ(Common::ParseLanguageIdList(L"0416", 2), (std::vector<uint16_t>{0x04}));
    // English is the root entry, tried in its place in the list.
    EXPECT_EQ(Common::LocalisedEntryNames({"de", "en", "fr"}, "x"), (Strings{"de/x", "x", "fr/x"}));
    // The extension follows the last "." after the last "/"; a backslash separates nothing.
    const std::pair<std::wstring, std::wstring> sideFiles[] = {
        {L"C:\\tools\\hostprobe.exe", L"C:\\tools\\hostprobe.dat"},
        {L"C:/tools.v2/host.probe.exe", L"C:/tools.v2/host.probe.dat"},
        {L"C:/tools.v2/hostprobe", L"C:/tools.v2/hostprobe.dat"},
        {L"C:\\tools.v2\\hostprobe", L"C:\\tools.dat"},
        {L"C:/tools.v2\\hostprobe", L"C:/tools.dat"},
        {L"hostprobe", L"hostprobe.dat"},
        {L"hostprobe.", L"hostprobe.dat"},
        {L".config", L".dat"},
        {L"", L".dat"}};
    for (const auto& [path, side] : sideFiles) {
        EXPECT_EQ(Common::SideArchivePath(path), side) << Common::Utf16ToUtf8(path);
    }
}

// The end-to-end tests run runtime_child.exe, which carries the shipped archive. Under Wine a
// process's interface language comes from the Unix locale it starts with, so ctest runs them once
// per language and names in HOSTPROBE_EXPECT_LOCALE_LIST the locale list it must give. The texts
// asked for are messages 8, 11 and 44, one a line.
const char kEnglish[] = "Error\nerror\nThe end of the file has been reached.\n";

// The labels and level names of an error's full text: messages 7 to 11 and 20 to 26.
using Labels = std::vector<std::string>;

// The child's two-record error at levels 1 to 5, in the words of one catalogue.
std::string FullTexts(const Labels& w) {
    const std::string levels[] = {w[8], w[10], w[11], w[9], w[7]};
    std::string out;
    for (const std::string& level : levels) {
        out += w[1] + " 0x20: outer\n| " + w[6] + ": " + level + "\n| " + w[5] + ": main\n| " + w[3] + ": 0x2a\n| " +
               w[2] + ": src/unit:5\n| " + w[0] + ": Child::Fail\n| $module: hostprobe_vsa64_42608\n|\n| " + w[4] +
               " 0x21: inner\n| " + w[3] + ": 0x2b\n| " + w[2] + ": src/cause:6\n| " + w[0] +
               ": Child::Cause\n| $module: hostprobe_vsa64_42608\n\n";
    }
    return out;
}

const Labels kEnglishLabels = {"function",    "Error",          "file",  "line",  "error",       "channel",
                               "trace level", "critical error", "debug", "error", "information", "warning"};

class CatalogueEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        const std::map<std::string, std::pair<std::string, Labels>> languages = {
            {"en", {kEnglish, kEnglishLabels}},
            {"de",
             {"Fehler\nFehler\nDas Ende der Datei wurde erreicht.\n",
              {"Funktion", "Fehler", "Datei", "Zeile", "Fehler", "Kanal", "Protokollierungsstufe", "kritischer Fehler",
               "Debug", "Fehler", "Information", "Warnung"}}},
            {"pt_BR,pt",
             {"Erro\nerro\nO fim do arquivo foi atingido.\n",
              {"função", "Erro", "arquivo", "linha", "erro", "canal", "nível de rastreamento", "erro crítico",
               "depuração", "erro", "informação", "aviso"}}},
            {"zh_TW,zh",
             {"錯誤\n錯誤\n已到達檔案結尾。\n",
              {"函式", "錯誤", "檔案", "行", "錯誤", "通道", "追蹤層級", "嚴重錯誤", "偵錯", "錯誤", "資訊", "警告"}}}};
        ASSERT_EQ(languages.count(list_), 1u) << list_;
        expected_ = languages.at(list_).first;
        labels_ = languages.at(list_).second;
        ASSERT_TRUE(::CopyFileW((TestSupport::ModuleDirectory() + L"runtime_child.exe").c_str(), probe_.c_str(), 0));
    }

    std::string Run(const std::wstring& command) {
        const auto r = TestSupport::RunProcess(probe_, {command, L"8", L"11", L"44"});
        EXPECT_EQ(r.exitCode, 0u) << r.err;
        return r.out;
    }

    // A side file whose first locale's catalogue has `count` texts "<tag> <index>", the other
    // candidates valid catalogues with texts "next <index>".
    void WriteSideArchive(const std::string& tag, uint32_t count = Common::kMessageCount, bool damaged = false) {
        const std::string first = list_.substr(0, list_.find(',')), name = "hostprobe.msg";
        std::vector<TestSupport::ZipItem> items = {
            {first == "en" ? name : first + "/" + name, TestSupport::MakeCatalogueImage(tag, count), true}};
        for (const std::string next : {"", "pt/", "zh/"}) {
            if (next + name != items[0].name) {
                items.push_back({next + name, TestSupport::MakeCatalogueImage("next"), true});
            }
        }
        TestSupport::ZipLayout zip = TestSupport::BuildZip(items);
        zip.bytes[zip.central[0] + 16] ^= damaged ? 1 : 0;  // the first locale's entry fails its CRC
        TestSupport::WriteFileBytes(dir_.path() + L"runtime_child.dat", zip.bytes);
    }

    TestSupport::TempDir dir_;
    std::wstring probe_ = dir_.path() + L"runtime_child.exe";
    const char* declared_ = std::getenv("HOSTPROBE_EXPECT_LOCALE_LIST");
    std::string list_ = declared_ != nullptr ? declared_ : "en", expected_;
    Labels labels_;
};

TEST_F(CatalogueEndToEnd, AppendedArchiveSideFileAndFallbacksToEnglish) {
    EXPECT_EQ(Run(L"locales"), list_ + ",");
    // English reads the root entry, which is empty in the shipped archive: the built-in table.
    EXPECT_EQ(Run(L"texts"), expected_);
    // The labels and level names of an error's full text come from the catalogue as well.
    EXPECT_EQ(Run(L"fulltext"), FullTexts(labels_));
    WriteSideArchive("side");
    EXPECT_EQ(Run(L"texts"), "side 8\nside 11\nside 44\n");
    // An invalid or unreadable catalogue of the first locale is not followed by the next locale's.
    WriteSideArchive("older", Common::kMessageCount - 1);
    EXPECT_EQ(Run(L"texts"), kEnglish);
    WriteSideArchive("damaged", Common::kMessageCount, true);
    EXPECT_EQ(Run(L"texts"), kEnglish);
    WriteSideArchive("raced");
    for (int round = 0; round < 3; ++round) {
        // One text pointer for all, every thread's last error kept, the pointer in the table.
        EXPECT_EQ(Run(L"race"), "111 raced 8");
    }
    // A side archive without a candidate entry is used all the same: English, not the appended archive.
    const std::string image = TestSupport::MakeCatalogueImage("other");
    TestSupport::WriteFileBytes(dir_.path() + L"runtime_child.dat",
                                TestSupport::BuildZip({{"readme.txt", "x"}, {"xx/hostprobe.msg", image}}).bytes);
    EXPECT_EQ(Run(L"texts"), kEnglish);
    EXPECT_EQ(Run(L"fulltext"), FullTexts(kEnglishLabels));
    TestSupport::WriteFileBytes(dir_.path() + L"runtime_child.dat", "not an archive");
    EXPECT_EQ(Run(L"texts"), expected_);
    const std::string intact = TestSupport::ReadFileBytes(probe_);
    TestSupport::WriteFileBytes(probe_, intact.substr(0, intact.size() - 22));  // no end record
    EXPECT_EQ(Run(L"texts"), kEnglish);
}

}  // namespace
