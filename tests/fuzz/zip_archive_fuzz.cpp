// The ZIP reader over a block of memory: opening and reading every entry never fails other
// than with a status, and what is read has the size the directory announces.

#include <memory>
#include <string>
#include <vector>

#include "core/file/zip_archive.h"
#include "fuzz_support.h"

using namespace File;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<ZipArchive> archive;
    auto source = std::make_unique<MemorySource>(std::string(reinterpret_cast<const char*>(data), size));
    if (ZipArchive::Open(std::move(source), archive) != ZipStatus::Ok) {
        FUZZ_CHECK(archive == nullptr);
        return 0;
    }
    FUZZ_CHECK(archive != nullptr);
    FUZZ_CHECK(archive->DirectoryOffset() <= size);
    // Entries can announce far more than memory holds; reading a few is enough.
    size_t read = 0;
    for (const ZipEntry& entry : archive->Entries()) {
        if (++read > 16) {
            break;
        }
        const ZipEntry* found = archive->FindEntry(entry.name);
        FUZZ_CHECK(found != nullptr && found->name == entry.name);
        std::vector<uint8_t> bytes;
        const ZipStatus status = archive->ReadEntry(entry, bytes);
        if (status == ZipStatus::Ok) {
            FUZZ_CHECK(bytes.size() == entry.uncompressedSize);
        } else {
            FUZZ_CHECK(bytes.empty());
        }
        MessageOf(status);
    }
    return 0;
}
