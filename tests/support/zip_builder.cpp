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
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    }
    return value;
}

namespace {

using Field = std::pair<size_t, int>;  // a little-endian value and its width in bytes

void Append(std::string& out, const std::vector<Field>& fields) {
    for (const Field& field : fields) {
        for (int i = 0; i < field.second; ++i) {
            out.push_back(static_cast<char>((field.first >> (8 * i)) & 0xFF));
        }
    }
}

}  // namespace

std::string Deflate(const std::string& data) {
    z_stream stream{};
    std::string out(data.size() + data.size() / 8 + 64, '\0');  // above zlib's worst case
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    const bool done =
        deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK &&
        deflate(&stream, Z_FINISH) == Z_STREAM_END;
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (!done) {
        throw std::runtime_error("deflate");
    }
    return out;
}

ZipLayout ZipBuilder::Build() const {
    ZipLayout layout;
    std::string& out = layout.bytes;
    out = prefix_;
    std::string directory;
    for (const auto& entry : entries_) {
        const std::string stored = entry.deflate ? Deflate(entry.data) : entry.data;
        const size_t crc = crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()), entry.data.size());
        // Method, time and date, CRC, both sizes, name and extra lengths: in both headers.
        const std::vector<Field> common = {
            {entry.deflate ? 8u : 0u, 2}, {0, 4}, {crc, 4}, {stored.size(), 4}, {entry.data.size(), 4},
            {entry.name.size(), 2},       {0, 2}};
        layout.localHeaders.push_back(out.size());
        Append(out, {{0x04034b50, 4}, {20, 2}, {0, 2}});
        Append(out, common);
        out += entry.name + stored;
        layout.directoryHeaders.push_back(directory.size());  // made absolute below
        Append(directory, {{0x02014b50, 4}, {20, 2}, {20, 2}, {0, 2}});
        Append(directory, common);
        // Comment length, disk, internal and external attributes, the local header's offset.
        Append(directory, {{0, 2}, {0, 2}, {0, 2}, {0, 4}, {layout.localHeaders.back() - prefix_.size(), 4}});
        directory += entry.name;
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
        for (wchar_t c : texts[i]) {
            Append(body, {{static_cast<size_t>(c) & 0xFFFF, 2}});
        }
        body.append(2, '\0');
    }
    image += body;
    PutU32(image, 0, static_cast<uint32_t>(image.size()));
    PutU32(image, 4, static_cast<uint32_t>(texts.size()));
    return image;
}

}  // namespace TestSupport
