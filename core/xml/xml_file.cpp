// The file readers, apart from the parser because _wfopen belongs to the Windows C runtime.

#include <cstdio>
#include <memory>

#include "core/xml/xml_reader.h"

namespace Xml {

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

}  // namespace

bool ParseFile(const std::wstring& path, Document& document, Error& error) {
    document = Document();
    error = Error();
    const std::unique_ptr<FILE, FileCloser> file(_wfopen(path.c_str(), L"rb"));
    if (file == nullptr) {
        error.message = "cannot open the file";
        return false;
    }
    // One byte beyond the limit is enough for Parse to refuse the document.
    std::string bytes;
    char buffer[64 * 1024];
    while (bytes.size() <= kMaxDocumentBytes) {
        const size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        bytes.append(buffer, got);
        if (got < sizeof buffer) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        error.message = "cannot read the file";
        return false;
    }
    return Parse(bytes, document, error);
}

bool ParseFile(const std::string& utf8Path, Document& document, Error& error) {
    const Key path(utf8Path);
    if (!path.Valid()) {
        document = Document();
        error = {0, 0, "the path is not valid UTF-8"};
        return false;
    }
    return ParseFile(path.Text(), document, error);
}

}  // namespace Xml
