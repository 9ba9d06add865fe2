#pragma once

#include <string>

namespace TestSupport {

// A fresh folder below %TEMP%, removed with its contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }  // with a trailing backslash
    std::string narrowPath() const { return std::string(path_.begin(), path_.end()); }

private:
    std::wstring path_;
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);

}  // namespace TestSupport
