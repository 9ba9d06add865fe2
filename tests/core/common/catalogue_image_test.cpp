#include "core/common/catalogue_image.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/common/message_catalogue.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace {

using TestSupport::GetU32;
using TestSupport::MakeCatalogueImage;
using TestSupport::PutU32;

std::string BuiltInBytes() {
    return std::string(static_cast<const char*>(Common::BuiltInCatalogueImage()), Common::BuiltInCatalogueSize());
}

std::vector<std::wstring> NumberedTexts(size_t count) {
    std::vector<std::wstring> texts;
    for (size_t i = 0; i < count; ++i) {
        texts.push_back(L"text " + std::to_wstring(i));
    }
    return texts;
}

TEST(BuiltInCatalogue, HasTheDocumentedLayout) {
    const std::string image = BuiltInBytes();
    ASSERT_EQ(image.size(), 4896u);
    EXPECT_EQ(GetU32(image, 0), 4896u);
    EXPECT_EQ(GetU32(image, 4), 79u);
    // The first text follows the 79 offsets; each next text follows the previous one's NUL.
    size_t expected = 324;
    for (uint32_t i = 0; i < 79; ++i) {
        const size_t slot = 8 + 4 * i;
        ASSERT_EQ(slot + GetU32(image, slot), expected) << i;
        const wchar_t* text = Common::CatalogueText(Common::BuiltInCatalogueImage(), i);
        expected += 2 * (wcslen(text) + 1);
    }
    EXPECT_EQ(expected, image.size());
    EXPECT_TRUE(Common::AreCatalogueTextsInBounds(image.data(), image.size()));
}

TEST(BuiltInCatalogue, EqualsTheEnglishSourceCompiledByTheBuild) {
    // The build compiles core/common/messages/en.txt with the same tool as the translations.
    const std::string compiled = TestSupport::ReadFileBytes(TestSupport::ModuleDirectory() + L"catalogues\\en.msg");
    ASSERT_EQ(compiled.size(), 4896u);
    EXPECT_TRUE(compiled == BuiltInBytes());
}

TEST(BuiltInCatalogue, SpotChecksAgainstTheMessageTable) {
    const void* image = Common::BuiltInCatalogueImage();
    EXPECT_STREQ(Common::CatalogueText(image, 0), L"Access is denied.");
    EXPECT_STREQ(Common::CatalogueText(image, 7), L"function");
    EXPECT_STREQ(Common::CatalogueText(image, 8), L"Error");
    EXPECT_STREQ(Common::CatalogueText(image, 21), L"trace level");
    EXPECT_STREQ(Common::CatalogueText(image, 44), L"The end of the file has been reached.");
    EXPECT_STREQ(Common::CatalogueText(image, 78), L"Error occurred while writing to the file.");
}

TEST(CatalogueImage, HeaderAcceptsOnlyMatchingSizeAndCount) {
    const std::string good = MakeCatalogueImage(NumberedTexts(79));
    EXPECT_TRUE(Common::IsAcceptedCatalogueHeader(good.data(), good.size()));

    struct Case {
        const char* name;
        std::string image;
        size_t size;
    };
    std::string countLow = good;
    PutU32(countLow, 4, 78);
    std::string countHigh = good;
    PutU32(countHigh, 4, 80);
    std::string sizeField = good;
    PutU32(sizeField, 0, static_cast<uint32_t>(good.size() + 2));
    const std::string older = MakeCatalogueImage(NumberedTexts(78));
    const std::vector<Case> rejected = {
        {"count 78", countLow, good.size()},
        {"count 80", countHigh, good.size()},
        {"older catalogue", older, older.size()},
        {"first u32 above the size", sizeField, good.size()},
        {"image shorter than its size field", good, good.size() - 1},
        {"image longer than its size field", good + "xx", good.size() + 2},
        {"7 bytes", good.substr(0, 7), 7},
        {"nothing", std::string(), 0},
    };
    for (const auto& c : rejected) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(Common::IsAcceptedCatalogueHeader(c.image.data(), c.size));
    }
    EXPECT_FALSE(Common::IsAcceptedCatalogueHeader(nullptr, 8));
}

TEST(CatalogueImage, OffsetsMustStayInsideTheImage) {
    const std::string good = MakeCatalogueImage(NumberedTexts(79));
    EXPECT_TRUE(Common::AreCatalogueTextsInBounds(good.data(), good.size()));

    const auto withOffset = [&](uint32_t index, uint32_t offset) {
        std::string image = good;
        PutU32(image, 8 + 4 * index, offset);
        return image;
    };
    std::string unterminated = good;
    unterminated.resize(unterminated.size() - 2);
    PutU32(unterminated, 0, static_cast<uint32_t>(unterminated.size()));
    std::string headerOnly(8, '\0');
    PutU32(headerOnly, 0, 8);
    PutU32(headerOnly, 4, 79);
    const std::vector<std::pair<const char*, std::string>> rejected = {
        {"offset past the end", withOffset(78, static_cast<uint32_t>(good.size()))},
        {"offset far past the end", withOffset(0, 0xFFFFFFF0u)},
        {"odd position", withOffset(3, GetU32(good, 8 + 12) + 1)},
        {"text inside the offset table", withOffset(78, 0)},
        {"last text without NUL", unterminated},
        {"offset table cut off", headerOnly},
    };
    for (const auto& [name, image] : rejected) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(Common::IsAcceptedCatalogueHeader(image.data(), image.size()));
        EXPECT_FALSE(Common::AreCatalogueTextsInBounds(image.data(), image.size()));
    }
    // Texts may be shared and need not come in index order.
    std::string shared = withOffset(78, GetU32(good, 8) - 4 * 78);
    EXPECT_TRUE(Common::AreCatalogueTextsInBounds(shared.data(), shared.size()));
    EXPECT_STREQ(Common::CatalogueText(shared.data(), 78), L"text 0");
}

}  // namespace
