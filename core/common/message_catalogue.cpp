#include "core/common/message_catalogue.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>

#include "core/common/catalogue_image.h"
#include "core/common/catalogue_lookup.h"
#include "core/file/zip_file.h"

namespace Common {

namespace {

constexpr char kCatalogueEntry[] = "hostprobe.msg";

struct LoadedCatalogue {
    std::unique_ptr<wchar_t[]> units;  // wchar_t storage keeps every text aligned
    size_t size = 0;
};

// Null while the built-in table is current.
std::atomic<const LoadedCatalogue*> g_loaded{nullptr};
INIT_ONCE g_loadOnce = INIT_ONCE_STATIC_INIT;

// Frees the loaded image at exit. Lookups made later, from other static destructors, find
// the built-in table again instead of freed memory.
class LoadedCatalogueOwner {
public:
    constexpr LoadedCatalogueOwner() = default;
    ~LoadedCatalogueOwner() {
        g_loaded.store(nullptr, std::memory_order_release);
        image_.reset();
    }
    void Adopt(std::unique_ptr<LoadedCatalogue> image) {
        image_ = std::move(image);
        g_loaded.store(image_.get(), std::memory_order_release);
    }

private:
    std::unique_ptr<LoadedCatalogue> image_;
};

LoadedCatalogueOwner g_owner;

std::wstring ModuleFileName() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::unique_ptr<File::ZipArchive> OpenCatalogueArchive() {
    const std::wstring executable = ModuleFileName();
    if (executable.empty()) {
        return nullptr;
    }
    std::unique_ptr<File::ZipArchive> archive;
    if (File::OpenZipFile(SideArchivePath(executable), archive) != File::ZipStatus::Ok) {
        File::OpenZipFile(executable, archive);
    }
    return archive;
}

// Opened on first use; null when neither the side file nor the executable carries an archive.
const File::ZipArchive* CatalogueArchive() {
    static const std::unique_ptr<File::ZipArchive> archive = OpenCatalogueArchive();
    return archive.get();
}

using GetUserPreferredUILanguagesFn = BOOL(WINAPI*)(DWORD, PULONG, PZZWSTR, PULONG);

std::vector<uint16_t> PreferredUiLanguages() {
    // Looked up at run time: the program also runs where the call does not exist.
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const FARPROC proc = kernel32 == nullptr ? nullptr : ::GetProcAddress(kernel32, "GetUserPreferredUILanguages");
    if (proc == nullptr) {
        return {};
    }
    const auto getLanguages = reinterpret_cast<GetUserPreferredUILanguagesFn>(reinterpret_cast<void*>(proc));
    ULONG count = 0;
    ULONG length = 0;
    if (!getLanguages(MUI_LANGUAGE_ID, &count, nullptr, &length) || length == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(length, L'\0');
    if (!getLanguages(MUI_LANGUAGE_ID, &count, buffer.data(), &length)) {
        return {};
    }
    return ParseLanguageIdList(buffer.data(), std::min<size_t>(length, buffer.size()));
}

// "<language>_<country>" as the two ISO names fill one 19-byte buffer, for example de_DE.
std::string LocaleNameOf(uint16_t languageId) {
    const LCID lcid = MAKELCID(languageId, SORT_DEFAULT);
    char buffer[19] = {};
    const int length = ::GetLocaleInfoA(lcid, LOCALE_SISO639LANGNAME, buffer, sizeof buffer);
    if (length <= 0 || length >= static_cast<int>(sizeof buffer) - 1) {
        return std::string();
    }
    buffer[length - 1] = '_';
    if (::GetLocaleInfoA(lcid, LOCALE_SISO3166CTRYNAME, buffer + length, static_cast<int>(sizeof buffer) - length) ==
        0) {
        buffer[length] = '\0';
    }
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

std::vector<std::string> ComputeLocaleList() {
    std::vector<uint16_t> ids = PreferredUiLanguages();
    if (ids.empty()) {
        ids.push_back(::GetUserDefaultUILanguage());
    }
    std::vector<std::string> names;
    for (const uint16_t id : ids) {
        names.push_back(LocaleNameOf(id));
    }
    return BuildLocaleList(names);
}

std::unique_ptr<LoadedCatalogue> LoadLocalisedCatalogue() {
    std::vector<uint8_t> bytes;
    if (!ReadLocalisedArchiveEntry(kCatalogueEntry, bytes) || !IsAcceptedCatalogueHeader(bytes.data(), bytes.size()) ||
        !AreCatalogueTextsInBounds(bytes.data(), bytes.size())) {
        return nullptr;
    }
    auto loaded = std::make_unique<LoadedCatalogue>();
    loaded->units.reset(new wchar_t[(bytes.size() + 1) / 2]());
    std::memcpy(loaded->units.get(), bytes.data(), bytes.size());
    loaded->size = bytes.size();
    return loaded;
}

BOOL CALLBACK LoadCatalogue(PINIT_ONCE, PVOID, PVOID*) {
    // Any failure, including running out of memory, leaves the built-in table current.
    try {
        if (auto loaded = LoadLocalisedCatalogue()) {
            g_owner.Adopt(std::move(loaded));
        }
    } catch (...) {
    }
    return TRUE;
}

}  // namespace

const wchar_t* GetMessageText(MessageId id) {
    const DWORD lastError = ::GetLastError();
    ::InitOnceExecuteOnce(&g_loadOnce, LoadCatalogue, nullptr, nullptr);
    ::SetLastError(lastError);
    if (id >= kMessageCount) {
        return L"";
    }
    const LoadedCatalogue* loaded = g_loaded.load(std::memory_order_acquire);
    return CatalogueText(loaded != nullptr ? static_cast<const void*>(loaded->units.get()) : BuiltInCatalogueImage(),
                         id);
}

bool IsInMessageTable(const void* text) {
    const LoadedCatalogue* loaded = g_loaded.load(std::memory_order_acquire);
    const auto* first = static_cast<const char*>(loaded != nullptr ? static_cast<const void*>(loaded->units.get())
                                                                   : BuiltInCatalogueImage());
    const size_t size = loaded != nullptr ? loaded->size : BuiltInCatalogueSize();
    const auto* p = static_cast<const char*>(text);
    return p != nullptr && std::less_equal<const char*>()(first, p) && std::less<const char*>()(p, first + size);
}

std::vector<std::string> GetLocaleList() {
    static const std::vector<std::string> list = ComputeLocaleList();
    return list;
}

bool ReadLocalisedArchiveEntry(const std::string& name, std::vector<uint8_t>& bytes) {
    bytes.clear();
    const File::ZipArchive* archive = CatalogueArchive();
    if (archive == nullptr) {
        return false;
    }
    for (const auto& entryName : LocalisedEntryNames(GetLocaleList(), name)) {
        if (const File::ZipEntry* entry = archive->FindEntry(entryName)) {
            return archive->ReadEntry(*entry, bytes) == File::ZipStatus::Ok;
        }
    }
    return false;
}

}  // namespace Common
