// Catalogue images as loaded from the archive: an image that passes both checks has every
// text end inside it, so reading each up to its NUL stays in the (exactly sized) buffer.

#include <cstring>
#include <vector>

#include "core/common/catalogue_image.h"
#include "core/common/message_catalogue.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size);
    if (!Common::IsAcceptedCatalogueHeader(image.data(), image.size())) {
        FUZZ_CHECK(!Common::AreCatalogueTextsInBounds(image.data(), image.size()));
        return 0;
    }
    if (!Common::AreCatalogueTextsInBounds(image.data(), image.size())) {
        return 0;
    }
    for (uint32_t i = 0; i < Common::kMessageCount; ++i) {
        // wchar_t is wider here than on the target: the text is read as 16-bit units.
        const auto* text = reinterpret_cast<const uint8_t*>(Common::CatalogueText(image.data(), i));
        FUZZ_CHECK(text >= image.data() && (text - image.data()) % 2 == 0);
        size_t at = 0;
        uint16_t unit;
        do {
            std::memcpy(&unit, text + at, 2);
            at += 2;
        } while (unit != 0);
        FUZZ_CHECK(text + at <= image.data() + image.size());
    }
    return 0;
}
