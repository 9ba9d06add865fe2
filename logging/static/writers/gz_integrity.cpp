#include "logging/static/writers/gz_integrity.h"

#include <zlib.h>

#include "logging/static/writers/log_writer.h"

namespace Logging {
namespace GzIntegrity {

bool IsChunkHeader(const unsigned char* bytes) {
    return bytes[0] == 0x1F && bytes[1] == 0x8B && bytes[2] == 0x08 && bytes[3] == 0x00 && bytes[8] == 0x00;
}

int64_t FindHeaderBackwards(const unsigned char* bytes, size_t size, int64_t from) {
    if (size < kHeaderSize) {
        return -1;
    }
    const int64_t last = static_cast<int64_t>(size - kHeaderSize);
    for (int64_t position = from < last ? from : last; position >= 0; --position) {
        if (IsChunkHeader(bytes + position)) {
            return position;
        }
    }
    return -1;
}

Trailer ReadTrailer(const unsigned char* bytes) {
    auto le32 = [](const unsigned char* p) {
        return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
               static_cast<uint32_t>(p[3]) << 24;
    };
    return Trailer{le32(bytes), le32(bytes + 4)};
}

ScanResult ScanChunks(ChunkFile& file, LogWriterOwner& diagnostics, uint32_t start, const unsigned char* tail, size_t n,
                      std::vector<ChunkRecord>& chunks) {
    constexpr ScanResult kFatal{false, true};
    bool valid = true;
    bool first = true;
    size_t previousHeader = n;
    for (;;) {
        // A trailer must lie inside the window; one that would begin before it belongs to a
        // chunk that cannot be wholly inside, so whatever header is found there is not real.
        if (n < kHeaderSize || previousHeader < kTrailerSize) {
            return kFatal;
        }
        const int64_t searchFrom =
            first ? static_cast<int64_t>(n - kHeaderSize) : static_cast<int64_t>(previousHeader) - 1;
        const int64_t header = FindHeaderBackwards(tail, n, searchFrom);
        if (header < 0) {
            return kFatal;
        }
        const uint32_t offset = start + static_cast<uint32_t>(header);
        diagnostics.QueueDebugLine("@@ analyzing chunk at %08X", offset);
        if (!file.Seek(offset)) {
            return kFatal;
        }
        std::string text;
        const uint32_t length = file.InflateLastChunk(text);
        diagnostics.QueueDebugLine("@@ InflateLastChunk returned %li", static_cast<long>(length));

        ChunkRecord record{static_cast<size_t>(header), previousHeader - kTrailerSize, 0, offset, std::string()};
        if (length < kInflateLimit) {
            record.length = length;
            record.text.assign(text, 0, length);
            const Trailer trailer = ReadTrailer(tail + record.trailer);
            if (length != trailer.isize) {
                diagnostics.QueueDebugLine("@@ length is not equal to specified in footer: %li",
                                           static_cast<long>(trailer.isize));
                valid = false;
            } else if (length != 0) {
                const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(record.text.data()),
                                        static_cast<uInt>(length));
                if (crc == trailer.crc) {
                    diagnostics.QueueDebugLine("@@ chunk is valid");
                    chunks.push_back(std::move(record));
                    return ScanResult{valid, false};
                }
                diagnostics.QueueDebugLine("@@ crc32 mismatch");
                valid = false;
            } else {
                diagnostics.QueueDebugLine("@@ drop empty chunk");
            }
            // The text cut off so far follows this chunk's in the file.
            if (!chunks.empty()) {
                record.length += chunks.front().length;
                record.text += chunks.front().text;
            }
        } else {
            valid = false;
        }
        chunks.clear();
        chunks.push_back(std::move(record));
        diagnostics.QueueDebugLine("@@ truncate file to size %08X", offset);
        if (!file.Truncate(offset)) {
            return kFatal;
        }
        first = false;
        previousHeader = static_cast<size_t>(header);
    }
}

PickResult PickChunk(ChunkFile& file, LogWriterOwner& diagnostics, uint32_t start, const unsigned char* tail,
                     size_t n) {
    diagnostics.QueueDebugLine("@@ verifying chunks in last %08X bytes", static_cast<unsigned>(n));
    std::vector<ChunkRecord> chunks;
    const ScanResult scan = ScanChunks(file, diagnostics, start, tail, n, chunks);
    if (scan.fatal) {
        return PickResult{false, true, 0, 0, std::string()};
    }
    ChunkRecord& picked = scan.valid ? chunks.back() : chunks.front();
    return PickResult{scan.valid, false, picked.offset, picked.length,
                      scan.valid ? std::string() : std::move(picked.text)};
}

}  // namespace GzIntegrity
}  // namespace Logging
