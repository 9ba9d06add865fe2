// Runs catalogue_probe.exe, which carries the shipped archive, and checks which catalogue the
// child picks. Under Wine a process's interface language comes from the Unix locale it starts
// with (LANG, LC_ALL) and children inherit it, so ctest runs this program once per language
// and says in HOSTPROBE_EXPECT_LOCALE_LIST which locale list that language must give.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "core/common/message_catalogue.h"
#include "core/file/zip_file.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace {

using TestSupport::RunProcess;

struct Expected {
    std::string error;       // message 8
    std::string errorLabel;  // message 11
    std::string endOfFile;   // message 44
};

const Expected kEnglish = {"Error", "error", "The end of the file has been reached."};

const std::map<std::string, Expected> kByLocaleList = {
    {"en", kEnglish},
    {"de", {"Fehler", "Fehler", "Das Ende der Datei wurde erreicht."}},
    {"pt_BR,pt", {"Erro", "erro", "O fim do arquivo foi atingido."}},
    {"zh_TW,zh", {"錯誤", "錯誤", "已到達檔案結尾。"}},
};

std::string Joined(const std::vector<std::string>& items) {
    std::string joined;
    for (const auto& item : items) {
        joined += (joined.empty() ? "" : ",") + item;
    }
    return joined;
}

class CatalogueEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        const char* declared = std::getenv("HOSTPROBE_EXPECT_LOCALE_LIST");
        localeList_ = declared != nullptr ? declared : Joined(Common::GetLocaleList());
        locales_.clear();
        for (size_t start = 0; start <= localeList_.size();) {
            const size_t comma = std::min(localeList_.find(',', start), localeList_.size());
            locales_.push_back(localeList_.substr(start, comma - start));
            start = comma + 1;
        }
        const auto found = kByLocaleList.find(localeList_);
        if (found == kByLocaleList.end()) {
            GTEST_SKIP() << "no expectations for the locale list " << localeList_;
        }
        expected_ = found->second;
    }

    // A copy of the probe in a folder of its own, where a side file may be put beside it.
    std::wstring CopyProbe() {
        const std::wstring copy = dir_.path() + L"catalogue_probe.exe";
        EXPECT_TRUE(::CopyFileW((TestSupport::ModuleDirectory() + L"catalogue_probe.exe").c_str(), copy.c_str(), TRUE));
        return copy;
    }

    std::string Texts(const std::wstring& probe) {
        const auto r = RunProcess(probe, {L"texts", L"8", L"11", L"44"});
        EXPECT_EQ(r.exitCode, 0u) << r.err;
        return r.out;
    }

    static std::string Lines(const Expected& e) { return e.error + "\n" + e.errorLabel + "\n" + e.endOfFile + "\n"; }

    // A catalogue whose texts say where they came from: "<tag> <index>".
    static std::string TaggedImage(const std::string& tag, size_t count = Common::kMessageCount) {
        std::vector<std::wstring> texts;
        for (size_t i = 0; i < count; ++i) {
            texts.push_back(TestSupport::Widen(tag) + L" " + std::to_wstring(i));
        }
        return TestSupport::MakeCatalogueImage(texts);
    }

    static std::string TaggedLines(const std::string& tag) { return tag + " 8\n" + tag + " 11\n" + tag + " 44\n"; }

    // The entry the first locale of the list reads.
    std::string FirstEntry() const { return locales_[0] == "en" ? "hostprobe.msg" : locales_[0] + "/hostprobe.msg"; }

    TestSupport::TempDir dir_;
    std::string localeList_;
    std::vector<std::string> locales_;
    Expected expected_;
};

TEST_F(CatalogueEndToEnd, UiLanguageFollowsTheProcessLocale) {
    const auto r = RunProcess(TestSupport::ModuleDirectory() + L"catalogue_probe.exe", {L"locales"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, localeList_ + "\n");
    EXPECT_EQ(Joined(Common::GetLocaleList()), localeList_);
}

TEST_F(CatalogueEndToEnd, PicksTheUiLanguageFromTheAppendedArchive) {
    // English reads the root entry, which is empty in the shipped archive: the built-in table.
    EXPECT_EQ(Texts(TestSupport::ModuleDirectory() + L"catalogue_probe.exe"), Lines(expected_));
}

TEST_F(CatalogueEndToEnd, DamagedArchiveFallsBackToEnglish) {
    const std::wstring probe = CopyProbe();
    const std::string intact = TestSupport::ReadFileBytes(probe);
    std::unique_ptr<File::ZipArchive> archive;
    ASSERT_EQ(File::OpenZipFile(probe, archive), File::ZipStatus::Ok);
    const size_t archiveStart = static_cast<size_t>(archive->ArchiveOffset());

    // One byte of every catalogue's data changed: each fails its CRC.
    std::string corrupted = intact;
    for (const auto& entry : archive->Entries()) {
        if (entry.uncompressedSize > 0) {
            const size_t header = archiveStart + entry.localHeaderOffset;
            const size_t data = header + 30 + entry.name.size() + TestSupport::GetU32(intact, header + 28) % 0x10000;
            corrupted[data + entry.compressedSize / 2] ^= 0x55;
        }
    }
    archive.reset();
    const size_t endRecord = intact.rfind("PK\x05\x06");
    ASSERT_NE(endRecord, std::string::npos);
    std::string noEndRecord = intact;
    noEndRecord[endRecord + 3] = 0x07;

    for (const auto& [name, bytes] : std::vector<std::pair<const char*, std::string>>{
             {"entries fail their CRC", corrupted},
             {"no end record", noEndRecord},
             {"archive cut in half", intact.substr(0, archiveStart + (endRecord - archiveStart) / 2)},
             {"archive removed", intact.substr(0, archiveStart)}}) {
        SCOPED_TRACE(name);
        TestSupport::WriteFileBytes(probe, bytes);
        EXPECT_EQ(Texts(probe), Lines(kEnglish));
    }
}

TEST_F(CatalogueEndToEnd, SideFileWinsOverTheAppendedArchive) {
    const std::wstring probe = CopyProbe();
    TestSupport::ZipBuilder side;
    side.Add("hostprobe.msg", TaggedImage("root"), true);
    for (const auto& locale : locales_) {
        if (locale != "en") {
            side.Add(locale + "/hostprobe.msg", TaggedImage("side-" + locale), true);
        }
    }
    TestSupport::WriteFileBytes(dir_.path() + L"catalogue_probe.dat", side.Build().bytes);
    EXPECT_EQ(Texts(probe), TaggedLines(locales_[0] == "en" ? "root" : "side-" + locales_[0]));
}

TEST_F(CatalogueEndToEnd, SideFileWithoutArchiveLeavesTheAppendedOne) {
    const std::wstring probe = CopyProbe();
    TestSupport::WriteFileBytes(dir_.path() + L"catalogue_probe.dat", "not an archive");
    EXPECT_EQ(Texts(probe), Lines(expected_));
}

TEST_F(CatalogueEndToEnd, InvalidCatalogueIsNotFollowedByTheNextLocale) {
    const std::wstring probe = CopyProbe();
    // The first locale's catalogue is one message short; every other candidate is valid.
    TestSupport::ZipBuilder side;
    side.Add(FirstEntry(), TaggedImage("older", Common::kMessageCount - 1));
    for (const auto& locale : locales_) {
        if (locale != locales_[0]) {
            side.Add(locale + "/hostprobe.msg", TaggedImage("next"));
        }
    }
    if (FirstEntry() != "hostprobe.msg") {
        side.Add("hostprobe.msg", TaggedImage("root"));
    }
    TestSupport::WriteFileBytes(dir_.path() + L"catalogue_probe.dat", side.Build().bytes);
    EXPECT_EQ(Texts(probe), Lines(kEnglish));
}

TEST_F(CatalogueEndToEnd, ConcurrentFirstLookupsLoadOnceAndKeepTheLastError) {
    const std::wstring probe = CopyProbe();
    TestSupport::WriteFileBytes(dir_.path() + L"catalogue_probe.dat",
                                TestSupport::ZipBuilder().Add(FirstEntry(), TaggedImage("raced")).Build().bytes);
    for (int round = 0; round < 3; ++round) {
        const auto r = RunProcess(probe, {L"race", L"16"});
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.out, "same-pointer=yes last-error-kept=yes in-table=yes\nraced 8\n");
    }
}

}  // namespace
