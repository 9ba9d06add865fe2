#pragma once

// Reading gzip log files independently of the writer: member by member with zlib's own gzip
// decoder (which checks every trailer), whole with gzread, and leaving copies with their
// expected text for the native check that runs outside Wine.

#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

namespace TestSupport {

struct GzMember {
    size_t offset;
    size_t size;
    std::string text;
};

struct GzSplit {
    std::vector<GzMember> members;  // the complete ones, in order
    size_t rest = 0;                // bytes after the last complete member
    std::string restText;           // what could be inflated from them
};

inline uint32_t Le32(const std::string& bytes, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])); };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

inline uint32_t Crc32(const std::string& text) {
    return crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));
}

// Inflates one gzip member from `from`; true when it ended with an intact trailer. `consumed`
// is the member's size then. `status` receives zlib's last result.
inline bool InflateMember(const std::string& bytes, size_t from, std::string& text, size_t& consumed,
                          int* status = nullptr) {
    z_stream stream{};
    inflateInit2(&stream, 16 + MAX_WBITS);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + from));
    stream.avail_in = static_cast<uInt>(bytes.size() - from);
    int result = Z_OK;
    char out[16384];
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(out);
        stream.avail_out = sizeof out;
        result = inflate(&stream, Z_NO_FLUSH);
        text.append(out, sizeof out - stream.avail_out);
        if (result == Z_BUF_ERROR && stream.avail_in != 0) {
            result = Z_OK;  // only the output was full
        }
    }
    consumed = bytes.size() - from - stream.avail_in;
    inflateEnd(&stream);
    if (status != nullptr) {
        *status = result;
    }
    return result == Z_STREAM_END;
}

// One gzip member of `text` as zlib writes it at level 5.
inline std::string GzipMember(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, 5, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

inline GzSplit SplitMembers(const std::string& bytes) {
    GzSplit split;
    size_t at = 0;
    while (at < bytes.size()) {
        std::string text;
        size_t consumed = 0;
        if (!InflateMember(bytes, at, text, consumed)) {
            split.rest = bytes.size() - at;
            split.restText = text;
            break;
        }
        split.members.push_back(GzMember{at, consumed, text});
        at += consumed;
    }
    return split;
}

inline std::string JoinTexts(const GzSplit& split) {
    std::string text;
    for (const GzMember& member : split.members) {
        text += member.text;
    }
    return text;
}

// The whole text through gzread; `complete` tells whether it ended without an error.
inline std::string GzReadAll(const std::wstring& path, bool* complete) {
    gzFile file = gzopen_w(path.c_str(), "rb");
    *complete = false;
    if (file == nullptr) {
        return std::string();
    }
    std::string text;
    char piece[65536];
    int got = 0;
    while ((got = gzread(file, piece, sizeof piece)) > 0) {
        text.append(piece, static_cast<size_t>(got));
    }
    int error = Z_OK;
    gzerror(file, &error);
    *complete = got == 0 && error == Z_OK;
    gzclose(file);
    return text;
}

// The folder of sample files of this test program, beside it, emptied once per run; a native
// test inflates each "<name>.gz" with the system's gzip and compares it with "<name>.txt".
inline std::wstring SampleFolder() {
    static const std::wstring folder = [] {
        wchar_t module[MAX_PATH];
        const std::wstring program =
            std::filesystem::path(std::wstring(module, ::GetModuleFileNameW(nullptr, module, MAX_PATH))).stem();
        const std::wstring path = ModuleDirectory() + L"gz_writer_samples\\" + program + L"\\";
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
        std::filesystem::create_directories(path, ec);
        return path;
    }();
    return folder;
}

inline void KeepSample(const std::wstring& file, const std::string& name, const std::string& expectedText) {
    const std::wstring base = SampleFolder() + Widen(name);
    ::CopyFileW(file.c_str(), (base + L".gz").c_str(), FALSE);
    WriteFileBytes(base + L".txt", expectedText);
}

}  // namespace TestSupport
