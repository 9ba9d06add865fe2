#pragma once

// The check of a gzip log file's last chunks when the file is opened again. The raw tail of
// the file (the verify window) is searched backwards for chunk headers; each chunk found is
// inflated and compared with its trailer, and a damaged one is cut off the file, until an
// intact chunk is reached. The file itself is reached through ChunkFile, so that the logic
// can run on a plain byte buffer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Logging {

class LogWriterOwner;

namespace GzIntegrity {

// How much of the end of a file is examined.
constexpr uint32_t kVerifyWindow = 0x20000;
// The most text inflated from one chunk; a chunk holding this much or more counts as damaged.
constexpr uint32_t kInflateLimit = 0x20000;
// Files of fewer bytes are emptied without being examined.
constexpr uint32_t kSmallestCheckedFile = 19;
constexpr size_t kHeaderSize = 10;
constexpr size_t kTrailerSize = 8;

// A chunk header as zlib writes it at level 5: ID1 ID2 CM=deflate FLG=0 at the start and
// XFL=0 at the ninth byte (the time and the OS are not compared). `bytes` holds at least
// kHeaderSize bytes.
bool IsChunkHeader(const unsigned char* bytes);
// The position of the last header starting at or before `from` in `bytes`, or -1. A header
// must lie wholly inside the `size` bytes.
int64_t FindHeaderBackwards(const unsigned char* bytes, size_t size, int64_t from);

struct Trailer {
    uint32_t crc;    // CRC-32 of the chunk's text
    uint32_t isize;  // length of the text (modulo 2^32)
};
// The little-endian trailer at `bytes` (kTrailerSize bytes).
Trailer ReadTrailer(const unsigned char* bytes);

// The file whose tail is examined.
class ChunkFile {
public:
    // Places the file position at the start of the chunk at `offset`.
    virtual bool Seek(uint32_t offset) = 0;
    // Inflates from the file position, which is the start of the file's last chunk, into `text`
    // (at most kInflateLimit bytes); the bytes inflated, 0 when the data is not inflatable.
    virtual uint32_t InflateLastChunk(std::string& text) = 0;
    // Cuts the file to `size` bytes.
    virtual bool Truncate(uint32_t size) = 0;

protected:
    ~ChunkFile() = default;
};

struct ChunkRecord {
    size_t header;    // position in the window
    size_t trailer;   // position in the window
    uint32_t length;  // text inflated
    uint32_t offset;  // position in the file
    std::string text;
};

struct ScanResult {
    bool valid;  // no damaged chunk was found
    bool fatal;  // no intact chunk could be reached: the file must be emptied
};

// Walks the chunks of the window `tail` (`n` bytes read from file offset `start`) backwards,
// truncating the file behind every chunk that is not intact. Afterwards `chunks` holds the
// intact chunk last, and before it the damaged text cut off, in file order. Progress goes to
// `diagnostics` as "@@" lines.
ScanResult ScanChunks(ChunkFile& file, LogWriterOwner& diagnostics, uint32_t start, const unsigned char* tail, size_t n,
                      std::vector<ChunkRecord>& chunks);

struct PickResult {
    bool valid;
    bool fatal;
    uint32_t offset;   // valid: the intact last chunk; else where the damaged part was cut off
    uint32_t length;   // text of that chunk, or of the damaged part
    std::string text;  // not valid: the damaged text that could still be inflated
};

// ScanChunks, and what it means for the writer that goes on with the file.
PickResult PickChunk(ChunkFile& file, LogWriterOwner& diagnostics, uint32_t start, const unsigned char* tail, size_t n);

}  // namespace GzIntegrity
}  // namespace Logging
