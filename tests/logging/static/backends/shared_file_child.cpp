// logging_shared_file_child write <file> <maxSize> <id> <count>: logs records "p<id> r<n> ..."
// for n from 0 to count - 1 to a shared-file channel on <file>.
// logging_shared_file_child hold <file> <held event> <release event>: holds <file> open as a
// writer does, from signalling the first event until the second is signalled.

#include <windows.h>

#include <cstdlib>
#include <string>

#include "core/common/handles.h"
#include "logging/channel_config.h"
#include "logging/logging_manager.h"

int main(int argc, char* argv[]) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "write" && argc == 6) {
        Logging::SharedFileConfig config;
        config.File = argv[2];
        config.MaxSize = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
        config.Timeout = 20000;  // far beyond any wait for the others' records: none is lost
        config.Flags = 0x44;
        if (Logging::LoggingManager::Instance().TuneChannel("shared", config) != 0) {
            return 2;
        }
        for (int n = 0, count = std::atoi(argv[5]); n < count; ++n) {
            Logging::Log(Logging::TraceLocation{"tests/shared_file_child", "main", __LINE__}, Logging::INFORMATION,
                         "shared", "p%s r%d ----------------------------------------", argv[4], n);
        }
        return 0;
    }
    if (mode == "hold" && argc == 5) {
        // Read and write access, shared for reading only: the runtime's deny-write open.
        const Common::UniqueFileHandle file(::CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        const Common::UniqueHandle held(::OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]));
        const Common::UniqueHandle release(::OpenEventA(SYNCHRONIZE, FALSE, argv[4]));
        if (!file || !held || !release || !::SetEvent(held.get())) {
            return 2;
        }
        return ::WaitForSingleObject(release.get(), 60000) == WAIT_OBJECT_0 ? 0 : 3;
    }
    return 1;
}
