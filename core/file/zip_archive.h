#pragma once

// A reader of ZIP archives carried by a file, possibly after other data (an executable
// image) and before other data (the executable's signature block). Stored and deflate
// entries; one disk; no encryption, no ZIP64. Every length and offset read from the archive
// is checked before use. Pure logic: the file access comes in through ByteSource.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/message_catalogue.h"

namespace File {

enum class ZipStatus {
    Ok,
    NotFound,     // no file, or no entry of that name
    NoArchive,    // no end-of-central-directory record where one must be
    EndOfFile,    // the data ends before the size it announces
    ReadError,    // the platform failed to read
    Corrupt,      // inconsistent records, sizes, offsets or checksum
    Unsupported,  // encryption, ZIP64, a compression method other than stored and deflate
    OutOfMemory,
};

// The catalogue message that describes a status. The reader itself never looks messages up:
// the message catalogue reads its own archive through it.
Common::MessageId MessageOf(ZipStatus status);

// Positional reads from a file or a block of memory; safe to call from several threads.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `size` bytes at `offset`: Ok, EndOfFile when the source ends first, or
    // ReadError.
    virtual ZipStatus ReadAt(uint64_t offset, void* buffer, size_t size) const = 0;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    uint64_t Size() const override { return bytes_.size(); }
    ZipStatus ReadAt(uint64_t offset, void* buffer, size_t size) const override;

private:
    std::string bytes_;
};

// Finds the end-of-central-directory record: searched backwards in overlapping 1024-byte
// blocks from 18 bytes before the end of the source, at most 65517 bytes back, so that the
// record nearest the end wins and data after the archive (up to a full comment's length) is
// tolerated. On success `position` is the record's offset in the source.
ZipStatus FindEndOfCentralDirectory(const ByteSource& source, uint64_t& position);

struct ZipEntry {
    std::string name;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint32_t localHeaderOffset = 0;  // from the start of the archive
};

class ZipArchive {
public:
    // Locates the archive in `source` and reads its central directory.
    static ZipStatus Open(std::unique_ptr<ByteSource> source, std::unique_ptr<ZipArchive>& archive);

    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Where the archive begins in the source (negative when the directory's recorded offset
    // reaches back before the source), and where its central directory begins.
    int64_t ArchiveOffset() const { return archiveOffset_; }
    uint64_t DirectoryOffset() const { return directoryOffset_; }

    const std::vector<ZipEntry>& Entries() const { return entries_; }
    // The entry whose name equals `name` byte for byte; the first one when names repeat.
    const ZipEntry* FindEntry(std::string_view name) const;

    // The whole uncompressed content of an entry, checked against its size and CRC-32.
    // `bytes` is left empty on failure.
    ZipStatus ReadEntry(const ZipEntry& entry, std::vector<uint8_t>& bytes) const;
    ZipStatus ReadEntry(std::string_view name, std::vector<uint8_t>& bytes) const;

private:
    ZipArchive() = default;
    ZipStatus ReadDirectory(uint64_t endRecordPosition);
    ZipStatus LocateData(const ZipEntry& entry, uint64_t& dataOffset) const;
    ZipStatus Inflate(const ZipEntry& entry, uint64_t dataOffset, std::vector<uint8_t>& bytes) const;

    std::unique_ptr<ByteSource> source_;
    int64_t archiveOffset_ = 0;
    uint64_t directoryOffset_ = 0;
    uint32_t directoryArchiveOffset_ = 0;  // the same, counted from the archive's start
    std::vector<ZipEntry> entries_;
    std::map<std::string, size_t, std::less<>> index_;
};

}  // namespace File
