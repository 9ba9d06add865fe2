// dist_probe <exe>: what a packaged program carries, as the program itself reads it: the
// catalogue archive appended to it (each locale's catalogue accepted by the loader's check)
// and the file version of its version resource.
// dist_probe --assert: reports an assertion from RaiseProbeAssertion, with its stack trace on
// standard error.

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/common/assert.h"
#include "core/common/catalogue_image.h"
#include "core/file/zip_file.h"

__attribute__((noinline)) int RaiseProbeAssertion() {
    Common::ReportAssertion("probe", "tests/build/dist_probe.cpp", __LINE__);
    std::fflush(stderr);
    return 0;
}

int main(int argc, char* argv[]) {
    if (argc < 2) {
        return 2;
    }
    if (std::string(argv[1]) == "--assert") {
        return RaiseProbeAssertion();
    }
    const std::string narrow = argv[1];
    const std::wstring path(narrow.begin(), narrow.end());
    std::unique_ptr<File::ZipArchive> archive;
    if (File::OpenZipFile(path, archive) != File::ZipStatus::Ok) {
        std::puts("catalogues: none");
        return 1;
    }
    size_t accepted = 0;
    for (const File::ZipEntry& entry : archive->Entries()) {
        std::vector<uint8_t> bytes;
        if (entry.name.size() > 14 && entry.name.compare(entry.name.size() - 14, 14, "/hostprobe.msg") == 0 &&
            archive->ReadEntry(entry, bytes) == File::ZipStatus::Ok &&
            Common::IsAcceptedCatalogueHeader(bytes.data(), bytes.size())) {
            ++accepted;
        }
    }
    std::printf("catalogues: %zu\n", accepted);

    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<uint8_t> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (size != 0 && ::GetFileVersionInfoW(path.c_str(), 0, size, info.data()) &&
        ::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr) {
        std::printf("version: %lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF,
                    fixed->dwFileVersionLS >> 16);
    } else {
        std::puts("version: none");
    }
    return 0;
}
