#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace TestSupport {

// A fresh folder below %TEMP%, removed with its contents when the object goes away.
class TempDir {
public:
    TempDir() {
        static std::atomic<unsigned> counter{0};
        const std::wstring base = (std::filesystem::temp_directory_path() / L"hostprobe-test-").wstring();
        do {
            path_ = base + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++) + L"\\";
        } while (!::CreateDirectoryW(path_.c_str(), nullptr));
    }
    ~TempDir() {
        std::error_code ec;  // read-only files are made writable first, or they could not be deleted
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ec); !ec && it != end(it);
             it.increment(ec)) {
            ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }  // with a trailing backslash
    std::string narrowPath() const { return std::string(path_.begin(), path_.end()); }

private:
    std::wstring path_;
};

// Reads a whole file as bytes; empty when it cannot be read.
inline std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
}

}  // namespace TestSupport
