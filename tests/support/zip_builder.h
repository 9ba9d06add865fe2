#pragma once

// Builds ZIP archives in memory for tests, and remembers where each record lies so that a
// test can corrupt exactly the field it means to.

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace TestSupport {

struct ZipLayout {
    std::string bytes;
    std::vector<size_t> localHeaders;      // offsets in `bytes`
    std::vector<size_t> directoryHeaders;  // offsets in `bytes`
    size_t directory = 0, endRecord = 0;   // offsets in `bytes`
};

class ZipBuilder {
public:
    // Adds an entry, stored or deflated with zlib's raw deflate.
    ZipBuilder& Add(const std::string& name, const std::string& data, bool deflate = false) {
        return entries_.push_back({name, data, deflate}), *this;
    }
    // Bytes written before the archive (its offsets still count from the archive's start).
    ZipBuilder& Prefix(const std::string& bytes) { return prefix_ = bytes, *this; }
    ZipBuilder& Comment(const std::string& comment) { return comment_ = comment, *this; }
    ZipLayout Build() const;

private:
    std::vector<std::tuple<std::string, std::string, bool>> entries_;  // name, data, deflated
    std::string prefix_, comment_;
};

// Raw deflate of `data` (no zlib or gzip wrapper).
std::string Deflate(const std::string& data);

void PutU16(std::string& bytes, size_t at, uint16_t value);
void PutU32(std::string& bytes, size_t at, uint32_t value);
uint32_t GetU32(const std::string& bytes, size_t at);

// A catalogue image in the archive's layout from UTF-16 texts.
std::string MakeCatalogueImage(const std::vector<std::wstring>& texts);

}  // namespace TestSupport
