// Writes gzip logs at full speed through the gzip writer until it is killed:
//   gz_writer_child <folder\> <child number> <flushed file>
// After every flush of the writer it overwrites the flushed file with the sequence number of
// the last record written before that flush. "gz_writer_child <folder\> repair" only opens
// (and so repairs) the files and closes them in order. Prints "open" once the writer is open.

#include <windows.h>
// The runtime's descriptors.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/common/handles.h"
#include "logging/channel_config.h"
#include "logging/static/writers/crash_records.h"
#include "logging/static/writers/fake_owner.h"
#include "logging/static/writers/gz_writer.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: gz_writer_child <folder\\> <child>|repair [<flushed file>]\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string home = argv[1];
    Logging::LogScopeConfig config;
    config.Prefix = "crash";
    config.MaxSize = 0x100000;
    config.MaxFiles = 100;
    config.Compress = 1;
    TestSupport::FakeOwner owner(true);
    Logging::GzWriter writer(home, config, owner);
    writer.Open();
    owner.Drain(writer);  // the restored text and the check's lines, as the back-end would
    std::printf("open\n");
    std::fflush(stdout);
    if (std::strcmp(argv[2], "repair") == 0 || argc < 4) {
        return 0;
    }

    const uint32_t child = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    Common::UniqueFileHandle flushed(
        ::CreateFileA(argv[3], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!flushed) {
        return 3;
    }
    std::string batch;
    Logging::SizeList sizes;
    for (uint32_t sequence = 0;; ++sequence) {
        TestSupport::AppendCrashRecord(batch, child, sequence);
        sizes.Push(TestSupport::kCrashRecordSize);
        if (sizes.Count() < 50) {
            continue;
        }
        writer.Write(batch.data(), sizes);
        batch.clear();
        sizes.Clear();
        if (sequence % 1500 == 1499) {
            writer.Flush();
            char text[16];
            const int length = std::snprintf(text, sizeof text, "%010u\n", sequence);
            OVERLAPPED atStart{};
            DWORD written = 0;
            ::WriteFile(flushed.get(), text, static_cast<DWORD>(length), &written, &atStart);
        }
    }
}
