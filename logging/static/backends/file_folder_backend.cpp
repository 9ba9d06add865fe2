#include "logging/static/backends/file_folder_backend.h"

#include <windows.h>
// The runtime's file status.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "logging/static/manager_internal.h"
#include "logging/static/number_reader.h"
#include "logging/static/path_macros.h"

namespace Logging {

namespace {

constexpr uint32_t kNoLimit = 0xFFFFFFFF;
// The scanner looks at its clock, and at its stop event, this often.
constexpr DWORD kScannerStepMs = 30000;

int64_t Ticks(const FILETIME& time) {
    return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

// The name ends as the pattern asks. The system also matches a pattern against short names,
// so "*.log" finds "a.logx" too.
bool EndsWith(const char* name, const std::string& suffix) {
    const size_t length = std::strlen(name);
    return length >= suffix.size() && _stricmp(name + length - suffix.size(), suffix.c_str()) == 0;
}

struct Registration {
    Registration() {
        RegisterBackendFactory(BACKEND_FILEFOLDER, []() -> std::shared_ptr<Backend> {
            return std::make_shared<FileFolderBackend>(HomeDirectory());
        });
    }
} registration;

}  // namespace

FileFolderBackend::FileFolderBackend(std::string homeDir)
    : homeDir_(LogHomeDirectory(std::move(homeDir))), stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    SetFixedBits(kSerialisedWrites);
}

FileFolderBackend::~FileFolderBackend() {
    StopScanner();
}

std::string FileFolderBackend::GetPath(uint32_t index) {
    return index == 0 ? folderPath_ + fileName_ : std::string();
}

int32_t FileFolderBackend::Open(const char*) {
    StopScanner();
    FileIo::Close();
    // Fixed here, so that a name with "{date}" stays the name of the file this start opens.
    folderPath_ = ResolveAgainstHome(homeDir_, ExpandPathMacros(config_.Folder, kAllMacros, nullptr).path);
    if (folderPath_.empty() || folderPath_.back() != '\\') {
        folderPath_ += '\\';
    }
    fileName_ = ExpandPathMacros(config_.File, kAllMacros, nullptr).path;
    if (!config_.Enabled) {
        return LOGGING_RC_NOERROR;
    }
    if (config_.Folder.empty()) {
        return LOGGING_RC_INVALID_PARAM;
    }
    if (config_.MaxFiles != kNoLimit || config_.MaxAge != kNoLimit) {
        StartScanner();
    }
    if (!config_.File.empty()) {
        FileIo::Open(false, 0);
    }
    return LOGGING_RC_NOERROR;
}

void FileFolderBackend::Close() {
    StopScanner();
    FileIo::Close();
}

void FileFolderBackend::Write(TraceRecord& record) {
    std::string_view pieces[5];
    const auto format = [&] {
        const size_t count = record.FullLinePieces(EffectiveFlags(), Prefix(), PrefixExpanded(), pieces);
        line_.clear();
        for (size_t i = 0; i < count; ++i) {
            line_.append(pieces[i]);
        }
    };
    if (!config_.File.empty()) {
        if (IsOpen() || FileIo::Open(false, 0)) {
            format();
            FileIo::Write(line_.data(), line_.size());
        }
        return;
    }
    const std::string_view target = record.Target();
    if (target.empty()) {
        return;  // a record for the channel itself names no file
    }
    std::string path = folderPath_ + config_.Prefix;
    path.append(target);
    if (!config_.Extension.empty()) {
        path += '.' + config_.Extension;
    }
    struct _stat64 status;
    const bool full = config_.MaxSize != kNoLimit && _stat64(path.c_str(), &status) == 0 &&
                      status.st_size >= static_cast<int64_t>(config_.MaxSize);
    if (FileIo::Open(!full, 0, path.c_str())) {
        format();
        FileIo::Write(line_.data(), line_.size());
        FileIo::Close();
    }
}

int32_t FileFolderBackend::ReadLog(uint32_t lines, std::string& text, uint32_t index) {
    return ReadTail(lines, text, index);
}

int32_t FileFolderBackend::MakeTargetName(const char* channel, const char* target, std::string& name) {
    name = std::string(channel != nullptr ? channel : "") + "#" + (target != nullptr ? target : "");
    return LOGGING_RC_NOERROR;
}

void FileFolderBackend::RegisterProperties(const char*, const ChannelConfig&) {
    properties_ = {
        {"active", 1, PROPERTY_BOOL, nullptr, &Computed, 0},
        {"file", 1, PROPERTY_STRING, nullptr, &Computed, 0},
        {"maxSize", 0, PROPERTY_DWORD, &config_.MaxSize, nullptr, 0},
        {"maxFiles", 0, PROPERTY_DWORD, nullptr, &Computed, 0},
        {"maxAge", 0, PROPERTY_DWORD, nullptr, &Computed, 0},
        {"scanPeriod", 0, PROPERTY_DWORD, nullptr, &Computed, 0},
        {"folder", 1, PROPERTY_STRING, &config_.Folder, nullptr, 0},
        {"prefix", 1, PROPERTY_STRING, &config_.Prefix, nullptr, 0},
        {"extension", 1, PROPERTY_STRING, &config_.Extension, nullptr, 0},
        {"homeDir", 1, PROPERTY_STRING, &folderPath_, nullptr, 0},
        {"count", 1, PROPERTY_DWORD, nullptr, &Computed, 0},
        {"activity", 1, PROPERTY_STRING, nullptr, &Computed, 0},
    };
}

int32_t FileFolderBackend::Computed(Backend& backend, const char* name, std::string& value, bool get) {
    auto& self = static_cast<FileFolderBackend&>(backend);
    // The limits the scanner reads change in its settings too, which it may read at any time.
    const std::pair<uint32_t*, std::atomic<uint32_t>*> limits[] = {{&self.config_.MaxFiles, &self.scan_.maxFiles},
                                                                   {&self.config_.MaxAge, &self.scan_.maxAge},
                                                                   {&self.config_.ScanPeriod, &self.scan_.scanPeriod}};
    const char* limitNames[] = {"maxFiles", "maxAge", "scanPeriod"};
    for (size_t i = 0; i < 3; ++i) {
        if (std::strcmp(name, limitNames[i]) != 0) {
            continue;
        }
        if (get) {
            value = std::to_string(*limits[i].first);
            return LOGGING_RC_NOERROR;
        }
        const std::optional<uint32_t> number = ReadNumber(value);
        if (!number) {
            return LOGGING_RC_PROPERTY_TYPE_MISMATCH;
        }
        *limits[i].first = *number;
        limits[i].second->store(*number);
        return LOGGING_RC_NOERROR;
    }
    if (std::strcmp(name, "active") == 0) {
        value = !self.config_.File.empty() && self.IsOpen() ? "1" : "0";
    } else if (std::strcmp(name, "file") == 0) {
        value = self.GetPath(0);
    } else if (std::strcmp(name, "count") == 0) {
        value = std::to_string(self.count_.load());
    } else {
        const __time64_t activity = self.activity_.load();
        const char* text = _ctime64(&activity);  // null for a time the runtime cannot show
        value = text != nullptr ? std::string(text, std::strcspn(text, "\n")) : std::string();
    }
    return LOGGING_RC_NOERROR;
}

void FileFolderBackend::StartScanner() {
    scan_.folder = config_.Folder;
    scan_.folderPath = folderPath_;
    scan_.prefix = config_.Prefix;
    scan_.suffix = config_.Extension.empty() ? std::string() : "." + config_.Extension;
    scan_.pattern = folderPath_ + config_.Prefix + "*" + scan_.suffix;
    scan_.maxFiles = config_.MaxFiles;
    scan_.maxAge = config_.MaxAge;
    scan_.scanPeriod = config_.ScanPeriod;
    if (stop_) {
        scanner_.reset(::CreateThread(nullptr, 0, &FileFolderBackend::ScannerMain, this, 0, nullptr));
    }
}

void FileFolderBackend::StopScanner() {
    if (scanner_) {
        ::SetEvent(stop_.get());
        ::WaitForSingleObject(scanner_.get(), INFINITE);
        scanner_.reset();
    }
    ::ResetEvent(stop_.get());
}

unsigned long __stdcall FileFolderBackend::ScannerMain(void* backend) {
    auto& self = *static_cast<FileFolderBackend*>(backend);
    DWORD last = 0;
    bool scanned = false;
    do {
        const DWORD now = ::GetTickCount();
        if (now < last) {
            last = now;
        }
        // The first scan runs at once, however long the machine has been up.
        if (!scanned || now - last >= self.scan_.scanPeriod.load()) {
            self.activity_ = CurrentTime();
            self.Scan();
            last = ::GetTickCount();
            scanned = true;
        }
    } while (::WaitForSingleObject(self.stop_.get(), kScannerStepMs) == WAIT_TIMEOUT);
    return 0;
}

void FileFolderBackend::Scan() {
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    FILETIME nowTime;
    ::SystemTimeToFileTime(&local, &nowTime);
    const int64_t now = Ticks(nowTime);
    const uint32_t maxAge = scan_.maxAge.load();
    const uint32_t maxFiles = scan_.maxFiles.load();
    std::vector<std::pair<int64_t, std::string>> noted;  // last write, path
    WIN32_FIND_DATAA found;
    const Common::UniqueFindHandle search(::FindFirstFileA(scan_.pattern.c_str(), &found));
    for (bool more = search.valid(); more; more = ::FindNextFileA(search.get(), &found) != FALSE) {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !EndsWith(found.cFileName, scan_.suffix)) {
            continue;
        }
        if (::WaitForSingleObject(stop_.get(), 0) != WAIT_TIMEOUT) {
            break;
        }
        FILETIME written;
        ::FileTimeToLocalFileTime(&found.ftLastWriteTime, &written);
        const std::string path = scan_.folderPath + found.cFileName;
        // Whole hours, signed: a file dated in the future is young.
        if (maxAge != kNoLimit && (now - Ticks(written)) / 10000000 / 3600 > int64_t{maxAge}) {
            std::remove(path.c_str());
            TraceFromBackend(INFORMATION, "FileFolderBackend(%s): remove %s (old)", scan_.folder.c_str(), path.c_str());
        } else if (maxFiles != kNoLimit) {
            noted.emplace_back(Ticks(written), path);
        }
    }
    if (maxFiles == kNoLimit) {
        return;
    }
    count_ = static_cast<uint32_t>(noted.size());
    if (noted.size() <= maxFiles) {
        return;
    }
    std::sort(noted.begin(), noted.end());
    for (size_t i = 0; i < noted.size() - maxFiles; ++i) {
        const char* path = noted[i].second.c_str();
        TraceFromBackend(INFORMATION, "FileFolderBackend(%s): remove %s (too many files)", scan_.folder.c_str(), path);
        if (std::remove(path) == 0) {
            --count_;
        } else {
            TraceFromBackend(INFORMATION, "unable to delete %s. Error %i", path, errno);
        }
    }
}

}  // namespace Logging
