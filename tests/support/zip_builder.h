#pragma once

// Builds ZIP archives and catalogue images in memory for tests, and remembers where each ZIP
// record lies so that a test can damage exactly the field it means to.

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace TestSupport {

// Little-endian fields of `width` bytes.
inline void Put(std::string& bytes, size_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        bytes.at(at + i) = static_cast<char>(value >> (8 * i));
    }
}

inline uint64_t Get(const std::string& bytes, size_t at, int width = 4) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    }
    return value;
}

inline void Append(std::string& bytes, std::initializer_list<std::pair<uint32_t, int>> fields) {
    for (const auto& [value, width] : fields) {
        bytes.append(width, '\0');
        Put(bytes, bytes.size() - width, value, width);
    }
}

// Raw deflate: a zlib stream without its 2-byte header and 4-byte check value.
inline std::string Deflate(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), Z_BEST_COMPRESSION);
    return out.substr(2, size - 6);
}

struct ZipItem {
    std::string name, data;
    bool deflate = false;
};

struct ZipLayout {
    std::string bytes;
    std::vector<size_t> local, central;  // where each entry's headers lie in `bytes`
    size_t endRecord = 0;
};

// An archive of `items` after `prefix` (its offsets count from the archive's start).
inline ZipLayout BuildZip(const std::vector<ZipItem>& items, const std::string& prefix = "",
                          const std::string& comment = "") {
    ZipLayout z;
    z.bytes = prefix;
    std::string directory;
    for (const auto& item : items) {
        const std::string stored = item.deflate ? Deflate(item.data) : item.data;
        const auto crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(item.data.data()), static_cast<uInt>(item.data.size())));
        std::string fields;  // from the flags to the extra-field length, alike in both headers
        Append(fields, {{0, 2}, {item.deflate ? 8 : 0, 2}, {0, 4}, {crc, 4}, {uint32_t(stored.size()), 4}});
        Append(fields, {{uint32_t(item.data.size()), 4}, {uint32_t(item.name.size()), 2}, {0, 2}});
        const auto offset = static_cast<uint32_t>(z.bytes.size() - prefix.size());
        z.local.push_back(z.bytes.size());
        Append(z.bytes, {{0x04034b50, 4}, {20, 2}});
        z.bytes += fields + item.name + stored;
        z.central.push_back(directory.size());
        Append(directory, {{0x02014b50, 4}, {20, 2}, {20, 2}});
        directory += fields;
        Append(directory, {{0, 2}, {0, 2}, {0, 2}, {0, 4}, {offset, 4}});
        directory += item.name;
    }
    const size_t directoryAt = z.bytes.size();
    for (size_t& at : z.central) {
        at += directoryAt;
    }
    z.bytes += directory;
    z.endRecord = z.bytes.size();
    const auto count = static_cast<uint32_t>(items.size());
    Append(z.bytes, {{0x06054b50, 4}, {0, 2}, {0, 2}, {count, 2}, {count, 2}, {uint32_t(directory.size()), 4}});
    Append(z.bytes, {{uint32_t(directoryAt - prefix.size()), 4}, {uint32_t(comment.size()), 2}});
    z.bytes += comment;
    return z;
}

// A catalogue image of `count` texts "<tag> <index>": u32 size and count, offsets, UTF-16 texts.
inline std::string MakeCatalogueImage(const std::string& tag, uint32_t count = 79) {
    std::string image(8 + 4 * count, '\0'), body;
    for (uint32_t i = 0; i < count; ++i) {
        Put(image, 8 + 4 * i, image.size() + body.size() - 8 - 4 * i, 4);
        for (const char c : tag + " " + std::to_string(i) + '\0') {
            Append(body, {{static_cast<unsigned char>(c), 2}});
        }
    }
    image += body;
    Put(image, 0, image.size() + (uint64_t{count} << 32), 8);
    return image;
}

}  // namespace TestSupport
