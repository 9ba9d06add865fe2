// A stand-in for vssapi.dll beside a copy of hostprobe.exe. HOSTPROBE_FAKE_VSS says how it
// answers: create, init, gather, wait and count give the HRESULT (hex) of that step ("null":
// create succeeds without an object); writers lists the writers, separated by '|': a name, or
// "meta:<hr>" (its metadata fails), "nometa" (no metadata), "id:<hr>" (its identity fails after
// handing out an Oracle name), "noname" (no name) or "throw" (reading it throws); names instead
// names a file of writer names that no environment variable could carry (any unit, any length):
// each a 32-bit count of UTF-16 units, then the units. Also built without its export, as a
// foreign vssapi.dll.

// clang-format off
#include <initguid.h>
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
// clang-format on

#include <cstdint>
#include <stdexcept>

#include "tests/enterprise/fake_com.h"

using namespace FakeCom;

const wchar_t FakeCom::kScenario[] = L"HOSTPROBE_FAKE_VSS";

namespace {

HRESULT STDMETHODCALLTYPE Wait(IVssAsync*, DWORD milliseconds) {
    return milliseconds == 30000 ? Hex(Setting(L"wait")) : E_INVALIDARG;
}
const auto kAsync = Vtable<IVssAsyncVtbl>([](auto& t) { t.Wait = &Wait; });

HRESULT STDMETHODCALLTYPE GetIdentity(IVssExamineWriterMetadata* self, VSS_ID* instanceId, VSS_ID* writerId, BSTR* name,
                                      VSS_USAGE_TYPE* usage, VSS_SOURCE_TYPE* source) {
    if (instanceId == nullptr || writerId == nullptr || usage == nullptr || source == nullptr) {
        return E_POINTER;
    }
    const std::wstring& writer = Of(self).items[0];
    if (writer == L"throw") {
        throw std::runtime_error("unreadable writer");
    }
    const bool fails = writer.rfind(L"id:", 0) == 0;
    *name = writer == L"noname" ? nullptr
            : fails             ? ::SysAllocString(L"Oracle VSS Writer")
                                : ::SysAllocStringLen(writer.data(), static_cast<UINT>(writer.size()));
    return fails ? Hex(writer.substr(3)) : S_OK;
}
const auto kMetadata = Vtable<IVssExamineWriterMetadataVtbl>([](auto& t) { t.GetIdentity = &GetIdentity; });

HRESULT STDMETHODCALLTYPE InitializeForBackup(IVssBackupComponents*, BSTR document) {
    return document == nullptr ? Hex(Setting(L"init")) : E_INVALIDARG;
}
HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssBackupComponents*, IVssAsync** async) {
    return Make(L"gather", async, &kAsync, IID_IVssAsync, 'A');
}
HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(IVssBackupComponents* self, UINT* count) {
    *count = static_cast<UINT>(Of(self).items.size());
    return Hex(Setting(L"count"));
}
HRESULT STDMETHODCALLTYPE GetWriterMetadata(IVssBackupComponents* self, UINT index, VSS_ID* instanceId,
                                            IVssExamineWriterMetadata** metadata) {
    const std::vector<std::wstring>& writers = Of(self).items;
    if (index >= writers.size() || instanceId == nullptr) {
        return E_INVALIDARG;
    }
    const std::wstring& writer = writers[index];
    const bool fails = writer.rfind(L"meta:", 0) == 0;
    *metadata = fails || writer == L"nometa"
                    ? nullptr
                    : New<IVssExamineWriterMetadata>(&kMetadata, IID_IVssExamineWriterMetadata, 'M', {writer});
    return fails ? Hex(writer.substr(5)) : S_OK;
}
const auto kComponents = Vtable<IVssBackupComponentsVtbl>([](auto& t) {
    t.InitializeForBackup = &InitializeForBackup;
    t.GatherWriterMetadata = &GatherWriterMetadata;
    t.GetWriterMetadataCount = &GetWriterMetadataCount;
    t.GetWriterMetadata = &GetWriterMetadata;
});

}  // namespace

#ifndef HOSTPROBE_FAKE_WITHOUT_EXPORT
namespace {

std::vector<std::wstring> Writers() {
    const std::wstring names = Setting(L"names");
    if (names.empty()) {
        return Split(Setting(L"writers"), L'|');
    }
    std::ifstream file(std::filesystem::path(names), std::ios::binary);
    std::vector<std::wstring> writers;
    for (uint32_t count = 0; file.read(reinterpret_cast<char*>(&count), sizeof count);) {
        std::wstring& name = writers.emplace_back(count, L'\0');
        file.read(reinterpret_cast<char*>(name.data()), static_cast<std::streamsize>(count * sizeof(wchar_t)));
    }
    return writers;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    CreateVssBackupComponentsInternal(IVssBackupComponents** components) {
    return Make(L"create", components, &kComponents, IID_IVssBackupComponents, 'B', Writers());
}
#endif
