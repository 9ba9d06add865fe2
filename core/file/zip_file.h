#pragma once

// ZIP archives in files on disk.

#include <memory>
#include <string>

#include "core/file/zip_archive.h"

namespace File {

// Opens `path` for shared, positional reading. NotFound when the file or its folder does not
// exist, ReadError for any other failure.
ZipStatus OpenFileSource(const std::wstring& path, std::unique_ptr<ByteSource>& source);

// Opens the archive that `path` carries.
ZipStatus OpenZipFile(const std::wstring& path, std::unique_ptr<ZipArchive>& archive);

}  // namespace File
