#include "core/common/catalogue_image.h"

#include <cstring>

#include "core/common/message_catalogue.h"

namespace Common {

namespace {

constexpr size_t kOffsetsEnd = kCatalogueHeaderSize + 4 * kMessageCount;

uint32_t ReadU32(const unsigned char* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

}  // namespace

bool IsAcceptedCatalogueHeader(const void* image, size_t size) {
    if (image == nullptr || size < kCatalogueHeaderSize) {
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(image);
    return ReadU32(bytes) == size && ReadU32(bytes + 4) == kMessageCount;
}

bool AreCatalogueTextsInBounds(const void* image, size_t size) {
    if (!IsAcceptedCatalogueHeader(image, size) || size < kOffsetsEnd) {
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(image);
    for (uint32_t i = 0; i < kMessageCount; ++i) {
        const size_t slot = kCatalogueHeaderSize + 4 * i;
        const uint64_t start = uint64_t{slot} + ReadU32(bytes + slot);
        if (start < kOffsetsEnd || start % 2 != 0 || start >= size) {
            return false;
        }
        for (size_t at = static_cast<size_t>(start);; at += 2) {
            if (size - at < 2) {
                return false;
            }
            if (bytes[at] == 0 && bytes[at + 1] == 0) {
                break;
            }
        }
    }
    return true;
}

const wchar_t* CatalogueText(const void* image, uint32_t index) {
    const auto* bytes = static_cast<const unsigned char*>(image);
    const size_t slot = kCatalogueHeaderSize + 4 * size_t{index};
    return reinterpret_cast<const wchar_t*>(bytes + slot + ReadU32(bytes + slot));
}

}  // namespace Common
