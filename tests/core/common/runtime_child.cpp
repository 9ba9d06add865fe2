// Child program of the common-runtime tests, with hostprobe.exe's appended archive. It prints:
//   texts <index>...                the catalogue texts, one a line, in UTF-8
//   locales                         the catalogue locale list, a comma after each
//   fulltext                        a two-record error's full text at levels 1 to 5, a blank line after each
//   race                            what 16 threads see on the first catalogue lookup, then its text
//   report | twice | stack | long   assertions, each followed by "returned <n>"
//   nested                          an assertion whose trace hook prints its text and asserts

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/common/assert.h"
#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "core/common/utf.h"

namespace AssertChild {

__attribute__((noinline)) void Report(const char* expression, int line) {
    std::printf("returned %d\n", Common::ReportAssertion(expression, "src/unit", line));
    std::fflush(stdout);
}

__attribute__((noinline)) void ChildRaisesAssertion() {
    Report("stack", 30);
    std::fflush(stdout);  // keeps this frame from being a tail call
}

// Prints what it receives and asserts again; below the third level only, so that reporting
// without a guard against re-entry ends as well.
void AssertingHook(int32_t, uint16_t, uint16_t, const char* text) {
    static int depth = 0;
    std::printf("hook: %s\n", text);
    std::fflush(stdout);
    if (depth < 3) {
        ++depth;
        Report("nested", 41);
        --depth;
    }
}

}  // namespace AssertChild

// "1" for each of: one text pointer for all, every thread's last error kept, the pointer in the table.
std::string RaceForTheFirstLookup() {
    std::vector<const wchar_t*> texts(16);
    std::atomic<int> waiting{16}, errorsLost{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i) {
        threads.emplace_back([&, i] {
            ::SetLastError(1000 + i);
            for (waiting.fetch_sub(1); waiting.load() > 0;) {
            }
            texts[i] = Common::GetMessageText(Common::MSG_LABEL_ERROR_HEAD);
            errorsLost += ::GetLastError() != static_cast<DWORD>(1000 + i);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return std::to_string(std::count(texts.begin(), texts.end(), texts[0]) == 16) + std::to_string(errorsLost == 0) +
           std::to_string(Common::IsInMessageTable(texts[0])) + " " + Common::Utf16ToUtf8(texts[0]);
}

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "twice") {
        AssertChild::Report("first", 1);
        AssertChild::Report("second", 2);
    } else if (command == "nested") {
        Common::SetAssertionTraceHook(AssertChild::AssertingHook);
        AssertChild::Report("outer", 40);
    } else if (command == "stack") {
        AssertChild::ChildRaisesAssertion();
    } else if (command == "report" || command == "long") {
        AssertChild::Report(command == "long" ? std::string(600, 'e').c_str() : "x > 0", 12);
    } else {
        _setmode(_fileno(stdout), _O_BINARY);
        std::string out = command == "race" ? RaceForTheFirstLookup() : "";
        for (int i = 2; command == "texts" && i < argc; ++i) {
            out += Common::Utf16ToUtf8(Common::GetMessageText(static_cast<Common::MessageId>(atoi(argv[i])))) + "\n";
        }
        for (int32_t level = 1; command == "fulltext" && level <= 5; ++level) {
            const Common::Error cause = Common::Error::FromText({0x2B, "src/cause", "Child::Cause", 6}, 0x21, L"inner");
            const Common::Error error =
                Common::Error::FromText({0x2A, "src/unit", "Child::Fail", 5}, 0x20, L"outer").AddCause(cause);
            out += Common::Utf16ToUtf8(error.FullText(level, "main")) + "\n\n";
        }
        for (const auto& locale : command == "locales" ? Common::GetLocaleList() : std::vector<std::string>()) {
            out += locale + ",";
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        return out.empty() ? 2 : 0;
    }
    return 0;
}
