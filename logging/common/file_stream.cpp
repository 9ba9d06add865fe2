#include "logging/common/file_stream.h"

#include "core/common/assert.h"

namespace Logging {

FileStream::FileStream(const char* path) {
    if (path == nullptr) {
        Common::ReportAssertion("FileStream::FileStream", "logging/common/ifile", __LINE__);
        return;
    }
    file_.reset(std::fopen(path, "r"));
}

bool FileStream::ReadAll(std::string& bytes, size_t limit) {
    bytes.clear();
    if (!file_) {
        return false;
    }
    char buffer[16 * 1024];
    while (bytes.size() < limit) {
        const size_t wanted = limit - bytes.size() < sizeof buffer ? limit - bytes.size() : sizeof buffer;
        const size_t got = std::fread(buffer, 1, wanted, file_.get());
        bytes.append(buffer, got);
        if (got < wanted) {
            return std::ferror(file_.get()) == 0;
        }
    }
    return true;
}

}  // namespace Logging
