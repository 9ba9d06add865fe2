#include "core/file/zip_file.h"

#include <windows.h>

#include <algorithm>

#include "core/common/handles.h"

namespace File {

namespace {

class FileSource : public ByteSource {
public:
    FileSource(Common::UniqueFileHandle file, uint64_t size) : file_(std::move(file)), size_(size) {}

    uint64_t Size() const override { return size_; }

    // Reads at an explicit offset, so that threads sharing the handle never race on a file
    // pointer.
    ZipStatus ReadAt(uint64_t offset, void* buffer, size_t size) const override {
        auto* out = static_cast<uint8_t*>(buffer);
        while (size > 0) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
            DWORD got = 0;
            if (!::ReadFile(file_.get(), out, want, &got, &at)) {
                return ::GetLastError() == ERROR_HANDLE_EOF ? ZipStatus::EndOfFile : ZipStatus::ReadError;
            }
            if (got == 0) {
                return ZipStatus::EndOfFile;
            }
            out += got;
            offset += got;
            size -= got;
        }
        return ZipStatus::Ok;
    }

private:
    Common::UniqueFileHandle file_;
    uint64_t size_;
};

}  // namespace

ZipStatus OpenFileSource(const std::wstring& path, std::unique_ptr<ByteSource>& source) {
    source.reset();
    Common::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ZipStatus::NotFound
                                                                              : ZipStatus::ReadError;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) {
        return ZipStatus::ReadError;
    }
    source = std::make_unique<FileSource>(std::move(file), static_cast<uint64_t>(size.QuadPart));
    return ZipStatus::Ok;
}

ZipStatus OpenZipFile(const std::wstring& path, std::unique_ptr<ZipArchive>& archive) {
    archive.reset();
    std::unique_ptr<ByteSource> source;
    const ZipStatus status = OpenFileSource(path, source);
    return status == ZipStatus::Ok ? ZipArchive::Open(std::move(source), archive) : status;
}

}  // namespace File
