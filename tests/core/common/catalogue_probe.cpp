// Test program: prints what the message catalogue gives the process it runs in. It carries the
// same appended archive as hostprobe.exe.
//   catalogue_probe texts <index>...   one text per line, UTF-8
//   catalogue_probe locales            the locale list, comma-separated
//   catalogue_probe race               the first lookup from 16 threads at once

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/common/message_catalogue.h"
#include "core/common/utf.h"

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string command = argc > 1 ? argv[1] : "";
    std::string out;
    if (command == "texts") {
        for (int i = 2; i < argc; ++i) {
            const auto id = static_cast<Common::MessageId>(std::strtoul(argv[i], nullptr, 10));
            out += Common::Utf16ToUtf8(Common::GetMessageText(id)) + "\n";
        }
    } else if (command == "locales") {
        for (const auto& locale : Common::GetLocaleList()) {
            out += (out.empty() ? "" : ",") + locale;
        }
        out += "\n";
    } else if (command == "race") {
        constexpr int kThreads = 16;
        std::atomic<int> waiting{kThreads};
        std::vector<const wchar_t*> texts(kThreads);
        std::atomic<bool> samePointer{true}, errorsKept{true};
        std::vector<std::thread> workers;
        for (int i = 0; i < kThreads; ++i) {
            workers.emplace_back([&, i] {
                ::SetLastError(1000 + i);
                for (waiting.fetch_sub(1); waiting.load() > 0;) {
                }
                texts[i] = Common::GetMessageText(Common::MSG_LABEL_ERROR_HEAD);
                if (::GetLastError() != static_cast<DWORD>(1000 + i)) {
                    errorsKept = false;
                }
            });
        }
        for (int i = 0; i < kThreads; ++i) {
            workers[i].join();
            samePointer = samePointer && texts[i] == texts[0];
        }
        out = std::string("same-pointer=") + (samePointer ? "yes" : "no") +
              " last-error-kept=" + (errorsKept ? "yes" : "no") +
              " in-table=" + (Common::IsInMessageTable(texts[0]) ? "yes" : "no") + "\n" +
              Common::Utf16ToUtf8(texts[0]) + "\n";
    } else {
        std::fputs("usage: catalogue_probe texts <index>... | locales | race\n", stderr);
        return 2;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
