// A vssapi.dll without the backup-components export, as a damaged or foreign copy would be.

#include <windows.h>

extern "C" __declspec(dllexport) HRESULT WINAPI
    IsVolumeSnapshotted(wchar_t*, BOOL* snapshotsPresent, LONG* capability) {
    if (snapshotsPresent == nullptr || capability == nullptr) {
        return E_POINTER;
    }
    *snapshotsPresent = FALSE;
    *capability = 0;
    return S_OK;
}
