#pragma once

// One open log file, reached through the C runtime's low-level descriptors: the rules for
// opening it (no link in its place, other processes may read but not write it, retried until
// a time-out), appending, reading its tail, and duplicating a descriptor. The file back-ends
// and the text writer derive from it; the gzip writer uses its static operations.

#include <cstddef>
#include <cstdint>
#include <string>

namespace Logging {

class FileIo {
public:
    FileIo() = default;
    virtual ~FileIo();
    FileIo(const FileIo&) = delete;
    FileIo& operator=(const FileIo&) = delete;

    // The path of the owner's file with the given index (0: the current one).
    virtual std::string GetPath(uint32_t index) = 0;

    // Opens `path` (null: GetPath(0)) for appending or truncated, retrying every millisecond
    // while it fails, until `timeoutMs` have passed (0: one attempt). Must be closed.
    bool Open(bool append, uint32_t timeoutMs, const char* path = nullptr);
    void Close();
    bool IsOpen() const { return fd_ != -1; }
    int Descriptor() const { return fd_; }
    // Appends at the end of the file in one write. Must be open.
    void Write(const void* bytes, size_t length);
    // The last `lines` lines (0, or at least as many as there are: all) of file `index`; a line
    // longer than 4095 characters counts as several. LOGGING_RC_NO_ACCESS when it cannot be
    // opened.
    int32_t ReadTail(uint32_t lines, std::string& out, uint32_t index);

    // The modification time (seconds since 1970, UTC) of the file when it was opened, or the
    // time of the open when the system could not tell.
    int64_t FileTime() const { return fileTime_; }
    void SetFileTime(int64_t time) { fileTime_ = time; }

    // A new descriptor of the same open file (sharing its position), not inherited; -1 on
    // failure, reported with `name`.
    static int DuplicateFd(int fd, const char* name);
    // The modification time of an open file; the current time when it cannot be read.
    static int64_t GetFileTime(int fd);
    // Replaces a link (a reparse point that is not an offline file) found in place of the
    // file's directory by a real directory, and removes one found in place of the file.
    // False when that failed.
    static bool CheckPath(const std::string& path);
    // CheckPath, then _sopen with no inheritance and deny-write sharing; -1 (errno EACCES when
    // the check failed) on failure.
    static int OpenChecked(const char* path, int oflag, int pmode);

protected:
    int fd_ = -1;
    int64_t fileTime_ = 0;
};

// Local calendar date (year, month, day of month) of two times are the same day.
bool SameLocalDay(int64_t a, int64_t b);
// The local day of month of a time.
int LocalDayOfMonth(int64_t time);
// The current time, seconds since 1970, UTC.
int64_t CurrentTime();

}  // namespace Logging
