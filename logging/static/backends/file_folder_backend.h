#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/common/handles.h"
#include "logging/common/file_io.h"
#include "logging/static/backend.h"

namespace Logging {

// Log files in one folder, kept tidy by a scanner thread that deletes files older than
// `maxAge` hours and, beyond `maxFiles`, the oldest. With `file` set, every record goes to that
// one file, created afresh at each start; without it, a record for "<channel>#<target>" goes
// to "<prefix><target>.<extension>", opened for that record only.
class FileFolderBackend final : public BaseBackend<FileFolderConfig, 0>, public FileIo {
public:
    // `homeDir`: the directory of a relative folder; empty: the executable's directory.
    explicit FileFolderBackend(std::string homeDir);
    ~FileFolderBackend() override;

    void Write(TraceRecord& record) override;
    void RegisterProperties(const char* channel, const ChannelConfig& config) override;
    void Close() override;
    int32_t ReadLog(uint32_t lines, std::string& text, uint32_t index) override;
    int32_t MakeTargetName(const char* channel, const char* target, std::string& name) override;
    int32_t Open(const char* channel) override;
    // File 0 is the single file; there are no others.
    std::string GetPath(uint32_t index) override;

private:
    // What the scanner works with: set before it starts; the limits follow the properties.
    struct ScanSettings {
        std::string folder;      // as configured, for the traces
        std::string pattern;     // the resolved folder, prefix, "*" and extension
        std::string folderPath;  // the resolved folder with its "\"
        std::string prefix;
        std::string suffix;  // "." and the extension, or empty
        std::atomic<uint32_t> maxFiles{0};
        std::atomic<uint32_t> maxAge{0};
        std::atomic<uint32_t> scanPeriod{0};
    };

    static int32_t Computed(Backend& backend, const char* name, std::string& value, bool get);
    static unsigned long __stdcall ScannerMain(void* backend);
    void StartScanner();
    void StopScanner();
    void Scan();

    std::string homeDir_;
    std::string folderPath_;  // resolved at Open, with its "\"
    std::string fileName_;    // `file` expanded at Open
    std::string line_;        // the record being written; kept to spare an allocation per record
    ScanSettings scan_;
    Common::UniqueHandle stop_;  // manual reset: the scanner ends when it is set
    Common::UniqueHandle scanner_;
    std::atomic<uint32_t> count_{0};
    std::atomic<int64_t> activity_{0};
};

}  // namespace Logging
