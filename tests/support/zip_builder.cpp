#include "support/zip_builder.h"

#include <zlib.h>

#include <stdexcept>

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

void AppendU16(std::string& out, uint16_t value) {
    out.append(2, '\0');
    PutU16(out, out.size() - 2, value);
}

void AppendU32(std::string& out, uint32_t value) {
    out.append(4, '\0');
    PutU32(out, out.size() - 4, value);
}

}  // namespace

std::string Deflate(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (rc != Z_STREAM_END) {
        throw std::runtime_error("deflate");
    }
    return out;
}

ZipBuilder& ZipBuilder::Add(const std::string& name, const std::string& data, bool deflate) {
    entries_.push_back({name, data, deflate});
    return *this;
}

ZipBuilder& ZipBuilder::Prefix(const std::string& bytes) {
    prefix_ = bytes;
    return *this;
}

ZipBuilder& ZipBuilder::Comment(const std::string& comment) {
    comment_ = comment;
    return *this;
}

ZipLayout ZipBuilder::Build() const {
    ZipLayout layout;
    std::string& out = layout.bytes;
    out = prefix_;
    std::string directory;
    for (const auto& entry : entries_) {
        const std::string stored = entry.deflate ? Deflate(entry.data) : entry.data;
        const uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()), static_cast<uInt>(entry.data.size())));
        const uint16_t method = entry.deflate ? 8 : 0;
        const uint32_t localOffset = static_cast<uint32_t>(out.size() - prefix_.size());
        layout.localHeaders.push_back(out.size());
        AppendU32(out, 0x04034b50);
        AppendU16(out, 20);
        AppendU16(out, 0);
        AppendU16(out, method);
        AppendU32(out, 0);  // time and date
        AppendU32(out, crc);
        AppendU32(out, static_cast<uint32_t>(stored.size()));
        AppendU32(out, static_cast<uint32_t>(entry.data.size()));
        AppendU16(out, static_cast<uint16_t>(entry.name.size()));
        AppendU16(out, 0);
        out += entry.name;
        out += stored;

        AppendU32(directory, 0x02014b50);
        AppendU16(directory, 20);
        AppendU16(directory, 20);
        AppendU16(directory, 0);
        AppendU16(directory, method);
        AppendU32(directory, 0);
        AppendU32(directory, crc);
        AppendU32(directory, static_cast<uint32_t>(stored.size()));
        AppendU32(directory, static_cast<uint32_t>(entry.data.size()));
        AppendU16(directory, static_cast<uint16_t>(entry.name.size()));
        AppendU16(directory, 0);  // extra
        AppendU16(directory, 0);  // comment
        AppendU16(directory, 0);  // disk
        AppendU16(directory, 0);  // internal attributes
        AppendU32(directory, 0);  // external attributes
        AppendU32(directory, localOffset);
        directory += entry.name;
    }
    layout.directory = out.size();
    size_t at = out.size();
    for (const auto& entry : entries_) {
        layout.directoryHeaders.push_back(at);
        at += 46 + entry.name.size();
    }
    out += directory;
    layout.endRecord = out.size();
    AppendU32(out, 0x06054b50);
    AppendU16(out, 0);
    AppendU16(out, 0);
    AppendU16(out, static_cast<uint16_t>(entries_.size()));
    AppendU16(out, static_cast<uint16_t>(entries_.size()));
    AppendU32(out, static_cast<uint32_t>(directory.size()));
    AppendU32(out, static_cast<uint32_t>(layout.directory - prefix_.size()));
    AppendU16(out, static_cast<uint16_t>(comment_.size()));
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
            body.push_back(static_cast<char>(c & 0xFF));
            body.push_back(static_cast<char>((c >> 8) & 0xFF));
        }
        body.append(2, '\0');
    }
    image += body;
    PutU32(image, 0, static_cast<uint32_t>(image.size()));
    PutU32(image, 4, static_cast<uint32_t>(texts.size()));
    return image;
}

}  // namespace TestSupport
