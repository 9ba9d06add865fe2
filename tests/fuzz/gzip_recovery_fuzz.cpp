// The check of a gzip log file's tail, over a file held in memory: whatever the bytes, the
// file is only ever cut shorter, never behind the window, and the chunk kept lies inside it.

#include <zlib.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "logging/static/writers/gz_integrity.h"
#include "logging/static/writers/log_writer.h"

using namespace Logging;
using namespace Logging::GzIntegrity;

namespace {

// Inflates as gzread does: member after member, keeping what a damaged member still gave.
class MemoryFile final : public ChunkFile {
public:
    explicit MemoryFile(std::string content) : bytes(std::move(content)) {}
    bool Seek(uint32_t offset) override {
        position = offset;
        return offset <= bytes.size();
    }
    uint32_t InflateLastChunk(std::string& text) override {
        text.clear();
        z_stream stream{};
        if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
            return 0;
        }
        stream.next_in = reinterpret_cast<Bytef*>(&bytes[position]);
        stream.avail_in = static_cast<uInt>(bytes.size() - position);
        // One buffer for every run: a fresh 128 KiB block an input makes the sanitizer slow.
        static std::vector<char> out(kInflateLimit);
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = kInflateLimit;
        int status = Z_OK;
        while (stream.avail_out > 0 && stream.avail_in > 0) {
            status = inflate(&stream, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                inflateReset(&stream);
            } else if (status != Z_OK) {
                break;
            }
        }
        const uint32_t inflated = static_cast<uint32_t>(kInflateLimit - stream.avail_out);
        inflateEnd(&stream);
        if (status == Z_DATA_ERROR && inflated == 0) {
            return 0;
        }
        text.assign(out.data(), inflated);
        return inflated;
    }
    bool Truncate(uint32_t size) override {
        FUZZ_CHECK(size <= bytes.size());
        bytes.resize(size);
        return true;
    }

    std::string bytes;
    uint32_t position = 0;
};

// Formats every diagnostic line, as the real owner does under OF_DEBUG.
class Owner final : public LogWriterOwner {
public:
    void NotifyRotation() override {}
    void QueueText(const std::string&) override {}
    void QueueDebugLine(const char* format, ...) override {
        char line[256];
        va_list args;
        va_start(args, format);
        std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kSmallestCheckedFile) {
        return 0;
    }
    MemoryFile file(std::string(reinterpret_cast<const char*>(data), size));
    const uint32_t start = size > kVerifyWindow ? static_cast<uint32_t>(size - kVerifyWindow) : 0;
    // An exact copy of the window, so that reading beyond it is a heap overflow.
    const std::vector<unsigned char> tail(data + start, data + size);
    Owner owner;
    const PickResult result = PickChunk(file, owner, start, tail.data(), tail.size());
    FUZZ_CHECK(file.bytes.size() >= start || result.fatal);
    FUZZ_CHECK(file.bytes == std::string(reinterpret_cast<const char*>(data), file.bytes.size()));
    if (result.valid) {
        FUZZ_CHECK(!result.fatal && result.offset >= start && result.offset < size);
        FUZZ_CHECK(result.offset < file.bytes.size());
    } else if (!result.fatal) {
        FUZZ_CHECK(result.offset >= start && result.offset <= size);
    }
    return 0;
}
