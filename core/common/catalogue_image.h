#pragma once

// The layout of a message catalogue image, shared by the built-in English table and the
// catalogues read from the archive. Little-endian:
//   u32 total size, u32 count, count × u32 self-relative text offsets, UTF-16 texts.
// Pure logic: no platform calls, so that it can be tested and fuzzed on its own.

#include <cstddef>
#include <cstdint>

namespace Common {

constexpr size_t kCatalogueHeaderSize = 8;

// The built-in English image: its first byte and its size in bytes.
const void* BuiltInCatalogueImage();
size_t BuiltInCatalogueSize();

// The acceptance test of a loaded image: at least a header, the first u32 equal to `size`,
// and exactly the built-in number of messages.
bool IsAcceptedCatalogueHeader(const void* image, size_t size);

// True when every offset of an accepted image lands on an even position inside the texts
// and every text ends with a NUL unit before the end of the image, so that lookups can
// never read outside it.
bool AreCatalogueTextsInBounds(const void* image, size_t size);

// Text `index` of an image that passed both checks above (or the built-in image).
const wchar_t* CatalogueText(const void* image, uint32_t index);

}  // namespace Common
