#pragma once

// The input that the configuration reader hands to the XML parser: a file opened by the C
// runtime for reading in text mode.

#include <cstdio>
#include <memory>
#include <string>

namespace Logging {

class FileStream {
public:
    explicit FileStream(const char* path);

    bool IsOpen() const { return file_ != nullptr; }
    // Reads the rest of the file, at most `limit` bytes; false when it could not be read.
    bool ReadAll(std::string& bytes, size_t limit);

private:
    struct Closer {
        void operator()(FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<FILE, Closer> file_;
};

}  // namespace Logging
