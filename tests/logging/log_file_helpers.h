#pragma once

// What the tests of the file-writing parts of the logging library share besides the file
// state helpers: listing a folder, inflating gzip files, and watching the library's own
// messages.

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "core/common/handles.h"
#include "logging/static/manager_internal.h"
#include "support/file_state.h"
#include "support/junction.h"
#include "support/log_capture.h"
#include "support/process.h"

namespace TestSupport {

// The names in `folder` (ending in "\"), sorted.
inline std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileA(search, &found)) {
        if (std::string(found.cFileName) != "." && std::string(found.cFileName) != "..") {
            names.push_back(found.cFileName);
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        ::FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The inflated text of a gzip file; nothing unless zlib read it cleanly to its end.
inline FileBytes Gunzip(const std::string& path) {
    Common::UniqueGzFile file(gzopen(path.c_str(), "rb"));
    if (!file || gzdirect(file.get()) != 0) {
        return std::nullopt;
    }
    std::string text;
    char block[4096];
    int read;
    while ((read = gzread(file.get(), block, sizeof block)) > 0) {
        text.append(block, static_cast<size_t>(read));
    }
    int error = Z_OK;
    gzerror(file.get(), &error);
    return read == 0 && error == Z_OK ? FileBytes(text) : std::nullopt;
}

// Collects the back-ends' traces while it lives.
class BackendTraces {
public:
    BackendTraces() { Logging::SetBackendTraceObserver(&Add); }
    ~BackendTraces() {
        Logging::SetBackendTraceObserver(nullptr);
        std::lock_guard<std::mutex> lock(Mutex());
        Texts().clear();
    }
    std::vector<std::string> Get() const {
        std::lock_guard<std::mutex> lock(Mutex());
        return Texts();
    }

private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<std::string>& Texts() {
        static std::vector<std::string> texts;
        return texts;
    }
    static void Add(int32_t, const char* text) {
        std::lock_guard<std::mutex> lock(Mutex());
        Texts().push_back(text);
    }
};

// How many of the library's error reports on "logging-trace" contain `part`.
inline size_t ErrorsContaining(const LogCapture& capture, const std::string& part) {
    const std::vector<LogCapture::Entry> entries = capture.Entries();
    return std::count_if(entries.begin(), entries.end(), [&](const LogCapture::Entry& entry) {
        return entry.level == Logging::CRITICAL_ERROR && entry.text.find(part) != std::string::npos;
    });
}

// Where the test's fixture made a host-side symbolic link "logs" to a folder that is not
// empty ("keep" in it), for where no junction can be made; empty when there is none.
inline std::string HostLink() {
    const char* link = std::getenv("HP_TEST_LINK");
    return link != nullptr ? link : "";
}

// A link "logs" where a log directory should be, to a folder "elsewhere" that holds a file
// "keep": a junction in `dir`, or where none can be made (Wine answers ERROR_NOT_SUPPORTED)
// the fixture's host-side link. `logs` is empty when there is neither.
struct LinkedFolder {
    std::string logs;
    std::string target;
    bool junction = false;
};

inline LinkedFolder MakeLinkedFolder(const std::string& dir) {
    LinkedFolder folder{dir + "logs", dir + "elsewhere", false};
    ::CreateDirectoryA(folder.target.c_str(), nullptr);
    SetContents(folder.target + "\\keep", "");
    folder.junction = MakeJunction(Widen(folder.logs), Widen(folder.target));
    if (!folder.junction) {
        folder.logs = HostLink();
        folder.target = folder.logs.substr(0, folder.logs.find_last_of('\\')) + "\\target";
    }
    return folder;
}

}  // namespace TestSupport
