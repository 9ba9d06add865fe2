#include "core/file/zip_archive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace File {

namespace {

constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint32_t kDirectoryHeaderSignature = 0x02014b50;
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kDirectoryHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;

// The end record is searched this far before the end of the file at the latest, and at most
// kSearchReach bytes further back.
constexpr uint64_t kSearchEndMargin = 18;
constexpr uint64_t kSearchReach = 65517;
constexpr size_t kSearchBlock = 1024;
constexpr size_t kSignatureSize = 4;

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;

constexpr size_t kInputChunk = 64 * 1024;
constexpr size_t kInitialOutput = 64 * 1024;

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Owns a raw inflate stream.
class Inflater {
public:
    Inflater() = default;
    ~Inflater() {
        if (initialised_) {
            inflateEnd(&stream_);
        }
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    int Init() {
        const int rc = inflateInit2(&stream_, -MAX_WBITS);
        initialised_ = rc == Z_OK;
        return rc;
    }
    z_stream& stream() { return stream_; }

private:
    z_stream stream_{};
    bool initialised_ = false;
};

}  // namespace

Common::MessageId MessageOf(ZipStatus status) {
    switch (status) {
        case ZipStatus::Ok: return Common::MSG_SUCCESS;
        case ZipStatus::NotFound: return Common::MSG_FILE_NOT_FOUND;
        case ZipStatus::NoArchive: return Common::MSG_UNSUPPORTED_FILE_TYPE;
        case ZipStatus::EndOfFile: return Common::MSG_END_OF_FILE;
        case ZipStatus::ReadError: return Common::MSG_FILE_READ_FAILED;
        case ZipStatus::Corrupt: return Common::MSG_FILE_CORRUPTED;
        case ZipStatus::Unsupported: return Common::MSG_NOT_SUPPORTED;
        case ZipStatus::OutOfMemory: return Common::MSG_NOT_ENOUGH_MEMORY;
    }
    return Common::MSG_FILE_CORRUPTED;
}

ZipStatus MemorySource::ReadAt(uint64_t offset, void* buffer, size_t size) const {
    if (offset > bytes_.size()) {
        return ZipStatus::EndOfFile;
    }
    const size_t available = bytes_.size() - static_cast<size_t>(offset);
    // An empty read may come with no buffer at all (an empty directory's vector has none).
    if (const size_t copied = std::min(size, available); copied > 0) {
        std::memcpy(buffer, bytes_.data() + offset, copied);
    }
    return size <= available ? ZipStatus::Ok : ZipStatus::EndOfFile;
}

ZipStatus FindEndOfCentralDirectory(const ByteSource& source, uint64_t& position) {
    const uint64_t size = source.Size();
    if (size <= kSearchEndMargin) {
        return ZipStatus::NoArchive;
    }
    const uint64_t searchEnd = size - kSearchEndMargin;
    const uint64_t reach = std::min(searchEnd - 1, kSearchReach);
    if (reach < kSignatureSize) {
        return ZipStatus::NoArchive;
    }
    uint8_t block[kSearchBlock];
    for (uint64_t distance = kSignatureSize;;) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(distance, kSearchBlock));
        const ZipStatus read = source.ReadAt(searchEnd - distance, block, length);
        if (read != ZipStatus::Ok) {
            return read;
        }
        for (size_t at = length - kSignatureSize + 1; at-- > 0;) {
            if (U32(block + at) == kEndRecordSignature) {
                position = searchEnd - distance + at;
                return ZipStatus::Ok;
            }
        }
        if (distance >= reach) {
            return ZipStatus::NoArchive;
        }
        distance = std::min(distance + (kSearchBlock - kSignatureSize), reach);
    }
}

ZipStatus ZipArchive::Open(std::unique_ptr<ByteSource> source, std::unique_ptr<ZipArchive>& archive) {
    archive.reset();
    if (source == nullptr) {
        return ZipStatus::NotFound;
    }
    std::unique_ptr<ZipArchive> opened(new (std::nothrow) ZipArchive);
    if (opened == nullptr) {
        return ZipStatus::OutOfMemory;
    }
    opened->source_ = std::move(source);
    uint64_t endRecord = 0;
    ZipStatus status = FindEndOfCentralDirectory(*opened->source_, endRecord);
    if (status == ZipStatus::Ok) {
        try {
            status = opened->ReadDirectory(endRecord);
        } catch (const std::bad_alloc&) {
            status = ZipStatus::OutOfMemory;
        }
    }
    if (status == ZipStatus::Ok) {
        archive = std::move(opened);
    }
    return status;
}

ZipStatus ZipArchive::ReadDirectory(uint64_t endRecordPosition) {
    uint8_t record[kEndRecordSize];
    ZipStatus status = source_->ReadAt(endRecordPosition, record, sizeof record);
    if (status != ZipStatus::Ok) {
        return status;
    }
    const uint16_t thisDisk = U16(record + 4);
    const uint16_t directoryDisk = U16(record + 6);
    const uint16_t entriesOnDisk = U16(record + 8);
    const uint16_t entryCount = U16(record + 10);
    const uint32_t directorySize = U32(record + 12);
    const uint32_t directoryOffset = U32(record + 16);
    // The sum is taken in 32 bits as the archive format's own readers take it; when it wraps,
    // the archive's start lies before the source, and entries are sought from there.
    const uint32_t directoryEnd = directorySize + directoryOffset;
    if (thisDisk != 0 || directoryDisk != 0 || entriesOnDisk != entryCount || entryCount == 0 ||
        endRecordPosition < directoryEnd) {
        return ZipStatus::Corrupt;
    }
    // Wrapped or not, the directory itself must lie in the source.
    if (directorySize > endRecordPosition) {
        return ZipStatus::Corrupt;
    }
    directoryOffset_ = endRecordPosition - directorySize;
    archiveOffset_ = static_cast<int64_t>(directoryOffset_) - directoryOffset;
    directoryArchiveOffset_ = directoryOffset;

    std::vector<uint8_t> directory(directorySize);
    status = source_->ReadAt(directoryOffset_, directory.data(), directory.size());
    if (status != ZipStatus::Ok) {
        return status;
    }
    size_t at = 0;
    entries_.reserve(entryCount);
    for (uint16_t i = 0; i < entryCount; ++i) {
        if (directory.size() - at < kDirectoryHeaderSize) {
            return ZipStatus::Corrupt;
        }
        const uint8_t* header = directory.data() + at;
        if (U32(header) != kDirectoryHeaderSignature) {
            return ZipStatus::Corrupt;
        }
        const size_t variable = size_t{U16(header + 28)} + U16(header + 30) + U16(header + 32);
        if (directory.size() - at - kDirectoryHeaderSize < variable || U16(header + 34) != 0) {
            return ZipStatus::Corrupt;
        }
        ZipEntry entry;
        entry.flags = U16(header + 8);
        entry.method = U16(header + 10);
        entry.crc = U32(header + 16);
        entry.compressedSize = U32(header + 20);
        entry.uncompressedSize = U32(header + 24);
        entry.localHeaderOffset = U32(header + 42);
        entry.name.assign(reinterpret_cast<const char*>(header + kDirectoryHeaderSize), U16(header + 28));
        index_.emplace(entry.name, entries_.size());
        entries_.push_back(std::move(entry));
        at += kDirectoryHeaderSize + variable;
    }
    // A directory longer than its entries means the counts disagree.
    return at == directory.size() ? ZipStatus::Ok : ZipStatus::Corrupt;
}

const ZipEntry* ZipArchive::FindEntry(std::string_view name) const {
    const auto found = index_.find(name);
    return found == index_.end() ? nullptr : &entries_[found->second];
}

ZipStatus ZipArchive::ReadEntry(std::string_view name, std::vector<uint8_t>& bytes) const {
    bytes.clear();
    const ZipEntry* entry = FindEntry(name);
    return entry == nullptr ? ZipStatus::NotFound : ReadEntry(*entry, bytes);
}

ZipStatus ZipArchive::LocateData(const ZipEntry& entry, uint64_t& dataOffset) const {
    // Entry data lies between the start of the archive and its central directory.
    const uint64_t limit = directoryArchiveOffset_;
    if (uint64_t{entry.localHeaderOffset} + kLocalHeaderSize > limit) {
        return ZipStatus::Corrupt;
    }
    // An archive that starts before its source has no entry there.
    if (archiveOffset_ + entry.localHeaderOffset < 0) {
        return ZipStatus::Corrupt;
    }
    const auto headerOffset = static_cast<uint64_t>(archiveOffset_ + entry.localHeaderOffset);
    uint8_t header[kLocalHeaderSize];
    ZipStatus status = source_->ReadAt(headerOffset, header, sizeof header);
    if (status != ZipStatus::Ok) {
        return status;
    }
    const uint16_t nameLength = U16(header + 26);
    const uint64_t start = uint64_t{entry.localHeaderOffset} + kLocalHeaderSize + nameLength + U16(header + 28);
    if (U32(header) != kLocalHeaderSignature || nameLength != entry.name.size() ||
        start + entry.compressedSize > limit) {
        return ZipStatus::Corrupt;
    }
    std::string localName(nameLength, '\0');
    status = source_->ReadAt(headerOffset + kLocalHeaderSize, &localName[0], nameLength);
    if (status != ZipStatus::Ok) {
        return status;
    }
    if (localName != entry.name) {
        return ZipStatus::Corrupt;
    }
    dataOffset = headerOffset + (start - entry.localHeaderOffset);
    return ZipStatus::Ok;
}

ZipStatus ZipArchive::ReadEntry(const ZipEntry& entry, std::vector<uint8_t>& bytes) const {
    bytes.clear();
    if ((entry.flags & kFlagEncrypted) != 0 || entry.compressedSize == kZip64Marker ||
        entry.uncompressedSize == kZip64Marker || entry.localHeaderOffset == kZip64Marker ||
        (entry.method != kMethodStored && entry.method != kMethodDeflate)) {
        return ZipStatus::Unsupported;
    }
    try {
        uint64_t dataOffset = 0;
        ZipStatus status = LocateData(entry, dataOffset);
        if (status != ZipStatus::Ok) {
            return status;
        }
        if (entry.method == kMethodStored) {
            if (entry.compressedSize != entry.uncompressedSize) {
                return ZipStatus::Corrupt;
            }
            bytes.resize(entry.uncompressedSize);
            status = source_->ReadAt(dataOffset, bytes.data(), bytes.size());
        } else {
            status = Inflate(entry, dataOffset, bytes);
        }
        if (status == ZipStatus::Ok &&
            crc32(crc32(0, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())) != entry.crc) {
            status = ZipStatus::Corrupt;
        }
        if (status != ZipStatus::Ok) {
            bytes.clear();
        }
        return status;
    } catch (const std::bad_alloc&) {
        bytes.clear();
        return ZipStatus::OutOfMemory;
    }
}

ZipStatus ZipArchive::Inflate(const ZipEntry& entry, uint64_t dataOffset, std::vector<uint8_t>& bytes) const {
    Inflater inflater;
    const int init = inflater.Init();
    if (init != Z_OK) {
        return init == Z_MEM_ERROR ? ZipStatus::OutOfMemory : ZipStatus::Corrupt;
    }
    z_stream& stream = inflater.stream();
    // The output grows with what the stream really delivers, so a lying size cannot make us
    // allocate more than the data can produce.
    bytes.resize(std::min<size_t>(entry.uncompressedSize, kInitialOutput));
    std::vector<uint8_t> input(std::min<size_t>(entry.compressedSize, kInputChunk));
    uint64_t inputLeft = entry.compressedSize;
    uint64_t readAt = dataOffset;
    size_t produced = 0;
    for (;;) {
        if (stream.avail_in == 0 && inputLeft > 0) {
            const size_t chunk = static_cast<size_t>(std::min<uint64_t>(inputLeft, input.size()));
            const ZipStatus status = source_->ReadAt(readAt, input.data(), chunk);
            if (status != ZipStatus::Ok) {
                return status;
            }
            readAt += chunk;
            inputLeft -= chunk;
            stream.next_in = input.data();
            stream.avail_in = static_cast<uInt>(chunk);
        }
        if (produced == bytes.size() && bytes.size() < entry.uncompressedSize) {
            bytes.resize(static_cast<size_t>(std::min<uint64_t>(uint64_t{bytes.size()} * 2, entry.uncompressedSize)));
        }
        // Once the announced size is reached, a byte of scratch space shows whether the stream
        // holds more than it should.
        uint8_t scratch = 0;
        const bool full = produced == bytes.size();
        stream.next_out = full ? &scratch : bytes.data() + produced;
        stream.avail_out = full ? 1 : static_cast<uInt>(std::min<size_t>(bytes.size() - produced, 1u << 30));
        const uInt before = stream.avail_out;
        const int rc = inflate(&stream, Z_NO_FLUSH);
        const size_t delivered = before - stream.avail_out;
        if (full && delivered > 0) {
            return ZipStatus::Corrupt;
        }
        if (!full) {
            produced += delivered;
        }
        if (rc == Z_STREAM_END) {
            if (stream.avail_in != 0 || inputLeft != 0) {
                return ZipStatus::Corrupt;  // the compressed size is longer than the stream
            }
            if (produced != entry.uncompressedSize) {
                return ZipStatus::EndOfFile;
            }
            bytes.resize(produced);
            return ZipStatus::Ok;
        }
        if (rc == Z_MEM_ERROR) {
            return ZipStatus::OutOfMemory;
        }
        if (rc == Z_BUF_ERROR && stream.avail_in == 0 && inputLeft == 0) {
            return ZipStatus::EndOfFile;  // the stream stops before its end
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            return ZipStatus::Corrupt;
        }
    }
}

}  // namespace File
