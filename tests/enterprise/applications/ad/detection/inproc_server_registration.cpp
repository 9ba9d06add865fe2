#include "inproc_server_registration.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/common/handles.h"

namespace AdTest {

namespace {

constexpr REGSAM kView = KEY_WOW64_64KEY;
constexpr wchar_t kThreadingModel[] = L"ThreadingModel";
constexpr wchar_t kBoth[] = L"Both";

RegistryValue QueryValue(HKEY key, const wchar_t* name) {
    RegistryValue value;
    DWORD size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
        value.type = REG_NONE;
        return value;
    }
    value.data.resize(size);
    if (::RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot read registry value " << (name == nullptr ? L"(default)" : name);
        return RegistryValue();
    }
    value.data.resize(size);
    value.present = true;
    return value;
}

void WriteValue(HKEY key, const wchar_t* name, const RegistryValue& value) {
    LONG rc = ERROR_SUCCESS;
    if (value.present) {
        rc = ::RegSetValueExW(key, name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    } else {
        rc = ::RegDeleteValueW(key, name);
        if (rc == ERROR_FILE_NOT_FOUND) {
            rc = ERROR_SUCCESS;
        }
    }
    EXPECT_EQ(rc, ERROR_SUCCESS) << "cannot restore registry value " << (name == nullptr ? L"(default)" : name);
}

RegistryValue StringValue(const std::wstring& text) {
    RegistryValue value;
    value.present = true;
    value.type = REG_SZ;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

// The backup holds the original server value: a present flag and the type, then the data.
RegistryValue EncodeBackup(const RegistryValue& original) {
    RegistryValue backup;
    backup.present = true;
    backup.type = REG_BINARY;
    const DWORD header[2] = {original.present ? 1u : 0u, original.type};
    const BYTE* bytes = reinterpret_cast<const BYTE*>(header);
    backup.data.assign(bytes, bytes + sizeof header);
    backup.data.insert(backup.data.end(), original.data.begin(), original.data.end());
    return backup;
}

bool DecodeBackup(const RegistryValue& backup, RegistryValue* original) {
    DWORD header[2];
    if (!backup.present || backup.type != REG_BINARY || backup.data.size() < sizeof header) {
        return false;
    }
    std::memcpy(header, backup.data.data(), sizeof header);
    original->present = header[0] != 0;
    original->type = header[1];
    original->data.assign(backup.data.begin() + sizeof header, backup.data.end());
    return true;
}

}  // namespace

RegistryValue ReadRegistryValue(const std::wstring& path, const wchar_t* name, REGSAM view) {
    Common::UniqueHkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) {
        key.release();
        return RegistryValue();
    }
    return QueryValue(key.get(), name);
}

std::wstring InprocServerKey(const std::wstring& clsid) {
    return L"Software\\Classes\\CLSID\\" + clsid + L"\\InprocServer32";
}

ScopedInprocServer::ScopedInprocServer(const std::wstring& clsid, const std::wstring& dllPath)
    : keyPath_(InprocServerKey(clsid)) {
    Common::UniqueHkey key;
    DWORD disposition = 0;
    const LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kView,
                                      nullptr, key.put(), &disposition);
    if (rc != ERROR_SUCCESS) {
        key.release();
        ADD_FAILURE() << "cannot open " << keyPath_ << ": " << rc;
        abandoned_ = true;
        return;
    }
    createdKey_ = disposition == REG_CREATED_NEW_KEY;

    if (!DecodeBackup(QueryValue(key.get(), kBackupValue), &server_)) {
        server_ = QueryValue(key.get(), nullptr);
        WriteValue(key.get(), kBackupValue, EncodeBackup(server_));
    }
    threadingModel_ = QueryValue(key.get(), kThreadingModel);

    WriteValue(key.get(), nullptr, StringValue(dllPath));
    WriteValue(key.get(), kThreadingModel, StringValue(kBoth));
}

void ScopedInprocServer::RecoverAbandoned(const std::wstring& clsid) {
    if (ReadRegistryValue(InprocServerKey(clsid), kBackupValue, kView).present) {
        ScopedInprocServer restoring(clsid, L"");
    }
}

ScopedInprocServer::~ScopedInprocServer() {
    if (!abandoned_) {
        Restore();
    }
}

void ScopedInprocServer::Restore() {
    if (createdKey_) {
        EXPECT_EQ(::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), kView, 0), ERROR_SUCCESS);
        return;
    }
    Common::UniqueHkey key;
    const LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_ALL_ACCESS | kView, key.put());
    if (rc != ERROR_SUCCESS) {
        key.release();
        ADD_FAILURE() << "cannot reopen " << keyPath_ << ": " << rc;
        return;
    }
    WriteValue(key.get(), nullptr, server_);
    WriteValue(key.get(), kThreadingModel, threadingModel_);
    WriteValue(key.get(), kBackupValue, RegistryValue());
}

}  // namespace AdTest
