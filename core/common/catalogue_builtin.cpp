// The built-in English image, apart from the checks of loaded images: it is made of wide
// literals and so needs the two-byte wchar_t of the Windows target.

#include "core/common/catalogue_image.h"
#include "core/common/message_catalogue.h"

namespace Common {

namespace {

static_assert(sizeof(wchar_t) == 2, "catalogue texts are UTF-16");

constexpr const wchar_t* kEnglish[kMessageCount] = {
    L"Access is denied.",
    L"The named resource already exists.",
    L"Cannot create the thread.",
    L"Cannot open the system log for the event source.",
    L"Creation has failed.",
    L"Failed to parse command line.",
    L"Cannot load the dynamic library.",
    L"function",
    L"Error",
    L"file",
    L"line",
    L"error",
    L"Success",
    L"Not enough memory.",
    L"The named resource cannot be found.",
    L"Failed to get data. No data is available.",
    L"The string resource is not found.",
    L"Cannot find the symbol in the dynamic library.",
    L"Cannot get access to the security token of the current thread.",
    L"An unknown exception.",
    L"channel",
    L"trace level",
    L"critical error",
    L"debug",
    L"error",
    L"information",
    L"warning",
    L"Event",
    L"Access to the file is denied.",
    L"The file (folder) already exists.",
    L"The alternative data stream is not supported.",
    L"Error occurred while backing up.",
    L"The quotas are violated.",
    L"The reading end of a pipe is closed.",
    L"Canceled.",
    L"The file has changed.",
    L"The file is corrupted.",
    L"Error occurred while creating the file.",
    L"Error occurred while deciphering.",
    L"The device is busy.",
    L"The disk is full.",
    L"The disk is too small.",
    L"Drive",
    L"The specified file/drive does not exist.",
    L"The end of the file has been reached.",
    L"Formatting the disk.",
    L"FTP connection has failed.",
    L"The full path of a socket file is too long.",
    L"Hard links are not supported by the file system.",
    L"Invalid file handle.",
    L"The password for the backup is incorrect.",
    L"Invalid usage.",
    L"Failed to lock the file.",
    L"Cannot resolve the file name.",
    L"Network disconnected.",
    L"Network disconnected by timeout.",
    L"The specified file does not exist.",
    L"This is not the last volume of the backup archive.",
    L"The drive is not ready.",
    L"There are no errors.",
    L"Error occurred while opening the file.",
    L"Not enough memory to complete the operation.",
    L"The specified file path does not exist.",
    L"The file is read-only.",
    L"Error occurred while reading the file.",
    L"Error occurred while deleting the file.",
    L"Error occurred while renaming the file.",
    L"Error occurred while recovering.",
    L"Security error occurred while opening the file for writing.",
    L"Error occurred while searching in the file.",
    L"Symbolic links are not supported by the file system.",
    L"Too many changed files are detected.",
    L"Error occurred while unmounting.",
    L"The operation is not supported.",
    L"Unsupported file type.",
    L"The USN journal does not have the requested data.",
    L"The requested USN journal entry is not found.",
    L"The USN journal version is unsupported.",
    L"Error occurred while writing to the file.",
};

constexpr size_t kOffsetsEnd = kCatalogueHeaderSize + 4 * kMessageCount;

constexpr size_t TextUnits(const wchar_t* text) {
    size_t n = 0;
    while (text[n] != L'\0') {
        ++n;
    }
    return n + 1;
}

constexpr size_t BuiltInUnits() {
    size_t units = kOffsetsEnd / 2;
    for (const wchar_t* text : kEnglish) {
        units += TextUnits(text);
    }
    return units;
}

// The image is kept as UTF-16 units so that the texts handed out are real wchar_t objects;
// each u32 of the header is stored as its low and high unit, which on the little-endian
// target gives the little-endian byte layout of the archive's catalogues.
struct BuiltInImage {
    wchar_t units[BuiltInUnits()];
};

constexpr BuiltInImage BuildImage() {
    BuiltInImage image{};
    auto putU32 = [&image](size_t byteOffset, uint32_t value) {
        image.units[byteOffset / 2] = static_cast<wchar_t>(value & 0xFFFF);
        image.units[byteOffset / 2 + 1] = static_cast<wchar_t>(value >> 16);
    };
    putU32(0, static_cast<uint32_t>(BuiltInUnits() * 2));
    putU32(4, kMessageCount);
    size_t unit = kOffsetsEnd / 2;
    for (uint32_t i = 0; i < kMessageCount; ++i) {
        const size_t slot = kCatalogueHeaderSize + 4 * i;
        putU32(slot, static_cast<uint32_t>(unit * 2 - slot));
        for (const wchar_t* p = kEnglish[i]; *p != L'\0'; ++p) {
            image.units[unit++] = *p;
        }
        image.units[unit++] = L'\0';
    }
    return image;
}

alignas(4) constexpr BuiltInImage kBuiltIn = BuildImage();

}  // namespace

const void* BuiltInCatalogueImage() {
    return kBuiltIn.units;
}

size_t BuiltInCatalogueSize() {
    return sizeof kBuiltIn.units;
}

}  // namespace Common
