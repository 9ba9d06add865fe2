#include "logging/common/file_io.h"

#include <windows.h>
// The runtime's descriptor interface.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <vector>

#include "core/common/assert.h"
#include "core/common/handles.h"
#include "logging/result_codes.h"
#include "logging/static/manager_internal.h"

namespace Logging {

namespace {

constexpr char kFileIoSource[] = "logging/common/file_io";

// A reparse point that is not an offline (tiered storage) file: a symbolic link or a junction.
bool IsLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & 0x1400) == FILE_ATTRIBUTE_REPARSE_POINT;
}

// Removes the link itself, never what it points at: a directory link goes with _rmdir.
int RemoveLink(const std::string& path, DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? _rmdir(path.c_str()) : std::remove(path.c_str());
}

}  // namespace

FileIo::~FileIo() {
    Close();
}

bool FileIo::CheckPath(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos && slash != 0) {
        const std::string directory = path.substr(0, slash);
        const DWORD attributes = ::GetFileAttributesA(directory.c_str());
        if (IsLink(attributes)) {
            ReportBackendError("Symlink found %s", directory.c_str());
            if (RemoveLink(directory, attributes) != 0) {
                ReportBackendError("Cannot remove %s, %i", directory.c_str(), errno);
                return false;
            }
            if (!::CreateDirectoryA(directory.c_str(), nullptr)) {
                ReportBackendError("Cannot create %s", directory.c_str());
                return false;
            }
        }
    }
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (IsLink(attributes)) {
        ReportBackendError("Symlink found %s", path.c_str());
        if (RemoveLink(path, attributes) != 0) {
            ReportBackendError("Cannot remove %s, %i", path.c_str(), errno);
            return false;
        }
    }
    return true;
}

int FileIo::OpenChecked(const char* path, int oflag, int pmode) {
    if (!CheckPath(path)) {
        errno = EACCES;
        return -1;
    }
    return _sopen(path, oflag | _O_NOINHERIT, _SH_DENYWR, pmode);
}

int64_t FileIo::GetFileTime(int fd) {
    struct _stat64i32 status;
    if (_fstat64i32(fd, &status) != 0) {
        ReportBackendError("fstat() failed: %i", errno);
        return CurrentTime();
    }
    return status.st_mtime;
}

bool FileIo::Open(bool append, uint32_t timeoutMs, const char* path) {
    if (fd_ != -1) {
        Common::ReportAssertion("File == -1", kFileIoSource, __LINE__);
        return false;
    }
    const std::string target = path != nullptr ? std::string(path) : GetPath(0);
    const DWORD start = ::GetTickCount();
    const int oflag = _O_BINARY | _O_CREAT | _O_NOINHERIT | _O_RDWR | (append ? 0 : _O_TRUNC);
    for (;;) {
        int error = EACCES;
        if (CheckPath(target)) {
            const int fd = _sopen(target.c_str(), oflag, _SH_DENYWR, _S_IREAD | _S_IWRITE);
            if (fd != -1) {
                fd_ = fd;
                fileTime_ = GetFileTime(fd);
                return true;
            }
            error = errno;
        }
        const DWORD now = ::GetTickCount();
        // A tick count below the start has wrapped: give up rather than wait 49 days.
        if (now < start || now - start >= timeoutMs) {
            ReportBackendError("FileIo(%s): open failed. Error %i", target.c_str(), error);
            return false;
        }
        ::Sleep(1);
    }
}

void FileIo::Close() {
    if (fd_ != -1) {
        _close(fd_);
        fd_ = -1;
    }
}

void FileIo::Write(const void* bytes, size_t length) {
    if (fd_ == -1) {
        Common::ReportAssertion("File != -1", kFileIoSource, __LINE__);
        return;
    }
    _lseek(fd_, 0, SEEK_END);
    if (_write(fd_, bytes, static_cast<unsigned>(length)) < 0) {
        ReportBackendError("FileIo(%s): write() failed: %i", GetPath(0).c_str(), errno);
    }
}

int32_t FileIo::ReadTail(uint32_t lines, std::string& out, uint32_t index) {
    out.clear();
    const Common::UniqueStdioFile file(std::fopen(GetPath(index).c_str(), "r"));
    if (!file) {
        return LOGGING_RC_NO_ACCESS;
    }
    // Growing the text may throw; the file is closed on that path too.
    std::vector<size_t> starts;
    char piece[4096];
    while (std::fgets(piece, sizeof piece, file.get()) != nullptr) {
        starts.push_back(out.size());
        out.append(piece);
    }
    if (lines > 0 && lines < starts.size()) {
        out.erase(0, starts[starts.size() - lines]);
    }
    return LOGGING_RC_NOERROR;
}

int FileIo::DuplicateFd(int fd, const char* name) {
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE)) {
        ReportBackendError("FileIo(%s): failed to get OS handle of the file: %i", name, errno);
        return -1;
    }
    HANDLE duplicate = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), reinterpret_cast<HANDLE>(handle), ::GetCurrentProcess(), &duplicate,
                           0, FALSE, DUPLICATE_SAME_ACCESS)) {
        ReportBackendError("FileIo(%s): failed to duplicate the file handle: %i", name,
                           static_cast<int>(::GetLastError()));
        errno = EBADF;
        return -1;
    }
    const int result = _open_osfhandle(reinterpret_cast<intptr_t>(duplicate), _O_NOINHERIT);
    if (result == -1) {
        const int error = errno;
        ::CloseHandle(duplicate);
        ReportBackendError("FileIo(%s): failed to get fd from the duplicated OS handle: %i", name, error);
        errno = error;
    }
    return result;
}

bool SameLocalDay(int64_t a, int64_t b) {
    struct tm first {};
    struct tm second {};
    const __time64_t ta = a;
    const __time64_t tb = b;
    if (_localtime64_s(&first, &ta) != 0 || _localtime64_s(&second, &tb) != 0) {
        return true;
    }
    return first.tm_year == second.tm_year && first.tm_mon == second.tm_mon && first.tm_mday == second.tm_mday;
}

int LocalDayOfMonth(int64_t time) {
    struct tm local {};
    const __time64_t t = time;
    return _localtime64_s(&local, &t) == 0 ? local.tm_mday : 0;
}

int64_t CurrentTime() {
    return _time64(nullptr);
}

}  // namespace Logging
