#include "support/zip_builder.h"

#include <zlib.h>

#include <stdexcept>
#include <utility>

namespace TestSupport {

void PutU16(std::string& bytes, size_t at, uint16_t value) {
    bytes.at(at) = static_cast<char>(value & 0xFF);
    bytes.at(at + 1) = static_cast<char>(value >> 8);
}

void PutU32(std::string& bytes, size_t at, uint32_t value) {
    PutU16(bytes, at, static_cast<uint16_t>(value & 0xFFFF));
    PutU16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

uint32_t GetU32(const std::string& bytes, size_t at) {
    auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes.at(at + i))); };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

using Field = std::pair<size_t, int>;  // a little-endian value and its width in bytes

static void Append(std::string& out, const std::vector<Field>& fields) {
    for (const Field& field : fields) {
        for (int i = 0; i < field.second; ++i) {
            out.push_back(static_cast<char>((field.first >> (8 * i)) & 0xFF));
        }
    }
}

std::string Deflate(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
                  static_cast<uLong>(data.size()), Z_BEST_COMPRESSION) != Z_OK) {
        throw std::runtime_error("deflate");
    }
    return out.substr(2, size - 6);  // the raw stream, without the zlib header and check value
}

ZipLayout ZipBuilder::Build() const {
    ZipLayout layout;
    std::string& out = layout.bytes;
    out = prefix_;
    std::string directory;
    for (const auto& [name, data, deflate] : entries_) {
        const std::string stored = deflate ? Deflate(data) : data;
        const size_t crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size());
        // Method, time and date, CRC, both sizes, name and extra lengths: in both headers.
        const std::vector<Field> common = {{deflate ? 8u : 0u, 2}, {0, 4},           {crc, 4}, {stored.size(), 4},
                                           {data.size(), 4},       {name.size(), 2}, {0, 2}};
        layout.localHeaders.push_back(out.size());
        Append(out, {{0x04034b50, 4}, {20, 2}, {0, 2}});
        Append(out, common);
        out += name + stored;
        layout.directoryHeaders.push_back(directory.size());  // made absolute below
        Append(directory, {{0x02014b50, 4}, {20, 2}, {20, 2}, {0, 2}});
        Append(directory, common);
        // Comment length, disk, internal and external attributes, the local header's offset.
        Append(directory, {{0, 2}, {0, 2}, {0, 2}, {0, 4}, {layout.localHeaders.back() - prefix_.size(), 4}});
        directory += name;
    }
    layout.directory = out.size();
    for (size_t& at : layout.directoryHeaders) {
        at += layout.directory;
    }
    out += directory;
    layout.endRecord = out.size();
    Append(out, {{0x06054b50, 4}, {0, 2}, {0, 2}, {entries_.size(), 2}, {entries_.size(), 2}});
    Append(out, {{directory.size(), 4}, {layout.directory - prefix_.size(), 4}, {comment_.size(), 2}});
    out += comment_;
    return layout;
}

std::string MakeCatalogueImage(const std::vector<std::wstring>& texts) {
    std::string image(8 + 4 * texts.size(), '\0');
    std::string body;
    for (size_t i = 0; i < texts.size(); ++i) {
        const size_t slot = 8 + 4 * i;
        PutU32(image, slot, static_cast<uint32_t>(image.size() + body.size() - slot));
        // UTF-16 units with their NUL, little-endian as in memory.
        body.append(reinterpret_cast<const char*>(texts[i].c_str()), (texts[i].size() + 1) * sizeof(wchar_t));
    }
    image += body;
    PutU32(image, 0, static_cast<uint32_t>(image.size()));
    PutU32(image, 4, static_cast<uint32_t>(texts.size()));
    return image;
}

}  // namespace TestSupport
