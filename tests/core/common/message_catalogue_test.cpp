#include "core/common/message_catalogue.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "core/common/catalogue_image.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

// The test program carries no archive, so the built-in table is current.
TEST(MessageCatalogue, LooksMessagesUpBySymbolicName) {
    EXPECT_STREQ(Common::GetMessageText(Common::MSG_ACCESS_DENIED), L"Access is denied.");
    EXPECT_STREQ(Common::GetMessageText(Common::MSG_LABEL_ERROR_HEAD), L"Error");
    EXPECT_STREQ(Common::GetMessageText(Common::MSG_LABEL_ERROR_CAUSE), L"error");
    EXPECT_STREQ(Common::GetMessageText(Common::MSG_LEVEL_ERROR), L"error");
    EXPECT_STREQ(Common::GetMessageText(Common::MSG_LEVEL_CRITICAL_ERROR), L"critical error");
    EXPECT_STREQ(Common::GetMessageText(Common::MSG_END_OF_FILE), L"The end of the file has been reached.");
    EXPECT_STREQ(Common::GetMessageText(Common::MSG_FILE_WRITE_FAILED), L"Error occurred while writing to the file.");
    // Two ids with the same English text are still two messages.
    EXPECT_NE(Common::GetMessageText(Common::MSG_LABEL_ERROR_CAUSE), Common::GetMessageText(Common::MSG_LEVEL_ERROR));
    EXPECT_STREQ(Common::GetMessageText(static_cast<Common::MessageId>(Common::kMessageCount)), L"");
}

TEST(MessageCatalogue, MembershipCoversExactlyTheImage) {
    const auto* first = static_cast<const char*>(Common::BuiltInCatalogueImage());
    const size_t size = Common::BuiltInCatalogueSize();
    EXPECT_TRUE(Common::IsInMessageTable(first));
    EXPECT_TRUE(Common::IsInMessageTable(first + size - 1));
    EXPECT_FALSE(Common::IsInMessageTable(first + size));
    EXPECT_FALSE(Common::IsInMessageTable(first - 1));
    EXPECT_FALSE(Common::IsInMessageTable(nullptr));
    for (uint32_t i = 0; i < Common::kMessageCount; ++i) {
        EXPECT_TRUE(Common::IsInMessageTable(Common::GetMessageText(static_cast<Common::MessageId>(i)))) << i;
    }
    const std::wstring copy = Common::GetMessageText(Common::MSG_SUCCESS);
    EXPECT_FALSE(Common::IsInMessageTable(copy.c_str()));
    EXPECT_FALSE(Common::IsInMessageTable(L"Success"));
}

TEST(MessageCatalogue, LookupsKeepTheLastError) {
    for (const DWORD code : {DWORD{0}, DWORD{ERROR_FILE_NOT_FOUND}, DWORD{0xDEADBEEF}}) {
        ::SetLastError(code);
        Common::GetMessageText(Common::MSG_DISK_FULL);
        EXPECT_EQ(::GetLastError(), code);
    }
}

TEST(MessageCatalogue, ArchiveEntriesAreMissingWithoutAnArchive) {
    std::vector<uint8_t> bytes(3, 1);
    EXPECT_FALSE(Common::ReadLocalisedArchiveEntry("hostprobe.msg", bytes));
    EXPECT_TRUE(bytes.empty());
}

std::string ShippedImage(const std::wstring& locale) {
    return TestSupport::ReadFileBytes(TestSupport::ModuleDirectory() + L"catalogues\\" + locale + L".msg");
}

TEST(ShippedCatalogues, EveryImagePassesTheLoaderAndHasEveryLabel) {
    for (const wchar_t* locale :
         {L"bg", L"bn", L"cs", L"da", L"de", L"es",    L"fi", L"fr", L"hi", L"hu", L"id", L"it", L"ja", L"ko",
          L"ms", L"nb", L"nl", L"pl", L"pt", L"pt_BR", L"ru", L"sr", L"sv", L"th", L"tr", L"vi", L"zh", L"zh_TW"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(locale)));
        const std::string image = ShippedImage(locale);
        ASSERT_TRUE(Common::IsAcceptedCatalogueHeader(image.data(), image.size()));
        ASSERT_TRUE(Common::AreCatalogueTextsInBounds(image.data(), image.size()));
        for (uint32_t i = 0; i < Common::kMessageCount; ++i) {
            EXPECT_NE(Common::CatalogueText(image.data(), i)[0], L'\0') << i;
        }
    }
}

TEST(ShippedCatalogues, GermanLabelsReadAsGerman) {
    const std::string image = ShippedImage(L"de");
    ASSERT_TRUE(Common::AreCatalogueTextsInBounds(image.data(), image.size()));
    const auto text = [&](Common::MessageId id) { return std::wstring(Common::CatalogueText(image.data(), id)); };
    EXPECT_EQ(text(Common::MSG_LABEL_FUNCTION), L"Funktion");
    EXPECT_EQ(text(Common::MSG_LABEL_ERROR_HEAD), L"Fehler");
    EXPECT_EQ(text(Common::MSG_LABEL_FILE), L"Datei");
    EXPECT_EQ(text(Common::MSG_LABEL_LINE), L"Zeile");
    EXPECT_EQ(text(Common::MSG_LABEL_CHANNEL), L"Kanal");
    EXPECT_EQ(text(Common::MSG_LEVEL_WARNING), L"Warnung");
    EXPECT_EQ(text(Common::MSG_END_OF_FILE), L"Das Ende der Datei wurde erreicht.");
    // UTF-8 sources become UTF-16: umlauts and sharp s survive.
    EXPECT_EQ(text(Common::MSG_NOT_ENOUGH_MEMORY), L"Nicht genügend Arbeitsspeicher.");
}

}  // namespace
