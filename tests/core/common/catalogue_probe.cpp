// Test program: prints what the message catalogue gives the process it runs in. It carries
// the same appended archive as hostprobe.exe.
//   catalogue_probe texts <index>...   one text per line, UTF-8
//   catalogue_probe locales            the locale list, comma-separated
//   catalogue_probe race <threads>     the first lookup from many threads at once

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

namespace {

void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

std::string Text(uint32_t index) {
    return Common::Utf16ToUtf8(Common::GetMessageText(static_cast<Common::MessageId>(index)));
}

int Race(int threads) {
    std::atomic<int> waiting{threads};
    std::vector<const wchar_t*> texts(threads);
    std::vector<DWORD> errors(threads);
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&, i] {
            ::SetLastError(1000 + i);
            waiting.fetch_sub(1);
            while (waiting.load() > 0) {
            }
            texts[i] = Common::GetMessageText(Common::MSG_LABEL_ERROR_HEAD);
            errors[i] = ::GetLastError();
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    bool samePointer = true;
    bool errorsKept = true;
    for (int i = 0; i < threads; ++i) {
        samePointer = samePointer && texts[i] == texts[0];
        errorsKept = errorsKept && errors[i] == static_cast<DWORD>(1000 + i);
    }
    Print(std::string("same-pointer=") + (samePointer ? "yes" : "no") + " last-error-kept=" +
          (errorsKept ? "yes" : "no") + " in-table=" + (Common::IsInMessageTable(texts[0]) ? "yes" : "no"));
    Print(Common::Utf16ToUtf8(texts[0]));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "texts") {
        for (int i = 2; i < argc; ++i) {
            Print(Text(static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10))));
        }
        return 0;
    }
    if (command == "locales") {
        std::string joined;
        for (const auto& locale : Common::GetLocaleList()) {
            joined += (joined.empty() ? "" : ",") + locale;
        }
        Print(joined);
        return 0;
    }
    if (command == "race" && argc > 2) {
        return Race(std::atoi(argv[2]));
    }
    std::fputs("usage: catalogue_probe texts <index>... | locales | race <threads>\n", stderr);
    return 2;
}
