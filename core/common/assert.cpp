#include "core/common/assert.h"

#include <windows.h>
// dbghelp.h needs the Windows types first.
#include <dbghelp.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <new>

#include "core/common/assert_logic.h"
#include "core/common/handles.h"
#include "core/common/trace_logic.h"

namespace Common {

namespace {

constexpr int32_t kHookLevel = 5;  // CRITICAL_ERROR
constexpr uint16_t kHookCodeHigh = 0;
constexpr uint16_t kHookCodeLow = 27;

void ForwardToTraceLogic(int32_t level, uint16_t codeHigh, uint16_t codeLow, const char* text) {
    const size_t length = std::strlen(text);
    std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[length + 1]);
    if (wide == nullptr) {
        return;
    }
    for (size_t i = 0; i <= length; ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    }
    TraceText(level, codeHigh, codeLow, wide.get());
}

// Constant-initialised, so that the hook is in place before any dynamic initialiser runs.
std::atomic<AssertionTraceHook> g_traceHook{&ForwardToTraceLogic};

struct AssertConfig {
    uint32_t mode;
    FILE* log;
};

AssertConfig ReadConfig() {
    const AssertModeSetting setting = ParseAssertMode(std::getenv("TOVALIN_SAFE_ASSERT"));
    AssertConfig config{setting.mode, stderr};
    if (!setting.readLogDestination) {
        return config;
    }
    const char* destination = std::getenv("TOVALIN_SAFE_ASSERT_LOGFILE");
    switch (ClassifyAssertLogDestination(destination)) {
        case AssertLogTarget::kUnchanged: break;
        case AssertLogTarget::kStandardOutput: config.log = stdout; break;
        case AssertLogTarget::kStandardError: config.log = stderr; break;
        case AssertLogTarget::kFile:
            // Left open on purpose: assertions may still come from static destructors, and the
            // runtime library flushes and closes every stream after those have run.
            if (FILE* file = std::fopen(destination, "a")) {
                config.log = file;
            }
            break;
    }
    return config;
}

const AssertConfig& Config() {
    static const AssertConfig config = ReadConfig();
    return config;
}

void WriteDebugLine(const char* text) {
    char line[kAssertTextLimit + 1];
    const size_t length = std::min(std::strlen(text), kAssertTextLimit - 1);
    std::memcpy(line, text, length);
    line[length] = '\n';
    line[length + 1] = '\0';
    ::OutputDebugStringA(line);
}

void WriteLogLine(FILE* log, const char* text) {
    std::fprintf(log, "%s\n", text);
    // The process may abort next, which flushes nothing.
    std::fflush(log);
}

template <typename Function>
Function LookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// Stack-trace lines joined by line feeds, for the trace hook. Growing never throws: a line
// that does not fit a larger block is dropped.
class JoinedLines {
public:
    void Append(const char* line) noexcept {
        const size_t length = std::strlen(line);
        const size_t needed = size_ + (size_ != 0 ? 1 : 0) + length + 1;
        if (needed > capacity_) {
            size_t capacity = capacity_ != 0 ? capacity_ : kStep;
            while (capacity < needed) {
                capacity += kStep;
            }
            std::unique_ptr<char[]> grown(new (std::nothrow) char[capacity]);
            if (grown == nullptr) {
                return;
            }
            if (size_ != 0) {
                std::memcpy(grown.get(), data_.get(), size_ + 1);
            }
            data_ = std::move(grown);
            capacity_ = capacity;
        }
        if (size_ != 0) {
            data_[size_++] = '\n';
        }
        std::memcpy(data_.get() + size_, line, length + 1);
        size_ += length;
    }
    const char* text() const noexcept { return size_ != 0 ? data_.get() : nullptr; }

private:
    static constexpr size_t kStep = 1024;
    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// The debugging help library, loaded for one stack trace.
struct DbgHelp {
    UniqueModule module{::LoadLibraryA("dbghelp.dll")};
    decltype(&::SymInitialize) symInitialize = nullptr;
    decltype(&::SymCleanup) symCleanup = nullptr;
    decltype(&::SymSetOptions) symSetOptions = nullptr;
    decltype(&::StackWalk64) stackWalk = nullptr;
    decltype(&::SymFunctionTableAccess64) functionTableAccess = nullptr;
    decltype(&::SymGetModuleBase64) getModuleBase = nullptr;
    decltype(&::SymFromAddr) fromAddress = nullptr;
    decltype(&::SymGetLineFromAddr64) lineFromAddress = nullptr;

    bool Load() {
        if (!module) {
            return false;
        }
        HMODULE m = module.get();
        symInitialize = LookUp<decltype(symInitialize)>(m, "SymInitialize");
        symCleanup = LookUp<decltype(symCleanup)>(m, "SymCleanup");
        symSetOptions = LookUp<decltype(symSetOptions)>(m, "SymSetOptions");
        stackWalk = LookUp<decltype(stackWalk)>(m, "StackWalk64");
        functionTableAccess = LookUp<decltype(functionTableAccess)>(m, "SymFunctionTableAccess64");
        getModuleBase = LookUp<decltype(getModuleBase)>(m, "SymGetModuleBase64");
        fromAddress = LookUp<decltype(fromAddress)>(m, "SymFromAddr");
        lineFromAddress = LookUp<decltype(lineFromAddress)>(m, "SymGetLineFromAddr64");
        return symInitialize != nullptr && symCleanup != nullptr && stackWalk != nullptr &&
               functionTableAccess != nullptr && getModuleBase != nullptr && fromAddress != nullptr &&
               lineFromAddress != nullptr;
    }
};

// The symbol handler of a process is not safe for concurrent use.
std::mutex g_dbgHelpMutex;

// "<module file name>+0x<offset>" of an address inside a loaded module, or null.
const char* ModuleOffsetName(const DbgHelp& help, HANDLE process, DWORD64 address, char* buffer, size_t size) {
    const DWORD64 base = help.getModuleBase(process, address);
    char path[MAX_PATH];
    const DWORD length =
        base != 0 ? ::GetModuleFileNameA(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(base)), path, MAX_PATH) : 0;
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    const char* file = path;
    for (const char* at = path; *at != '\0'; ++at) {
        if (*at == '\\' || *at == '/') {
            file = at + 1;
        }
    }
    std::snprintf(buffer, size, "%s+0x%llX", file, static_cast<unsigned long long>(address - base));
    return buffer;
}

// Writes the calling thread's stack without the two reporting frames (this function and
// ReportAssertion), so it must stay a frame of its own.
__attribute__((noinline)) void WriteStackTrace(const AssertConfig& config) {
    constexpr int kSkippedFrames = 2;
    constexpr int kMaxFrames = 128;
    const bool toDebugger = (config.mode & kAssertDebug) != 0;
    const bool toLog = (config.mode & kAssertLog) != 0;
    const AssertionTraceHook hook = (config.mode & kAssertEvent) != 0 ? g_traceHook.load() : nullptr;

    DbgHelp help;
    if (!help.Load()) {
        return;
    }
    std::lock_guard<std::mutex> lock(g_dbgHelpMutex);
    HANDLE process = ::GetCurrentProcess();
    if (help.symSetOptions != nullptr) {
        help.symSetOptions(SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES);
    }
    if (!help.symInitialize(process, nullptr, TRUE)) {
        return;
    }
    struct Cleanup {
        decltype(&::SymCleanup) symCleanup;
        HANDLE process;
        ~Cleanup() { symCleanup(process); }
    } cleanup{help.symCleanup, process};

    CONTEXT context{};
    ::RtlCaptureContext(&context);
    STACKFRAME64 frame{};
    frame.AddrPC.Offset = context.Rip;
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrStack.Offset = context.Rsp;
    frame.AddrStack.Mode = AddrModeFlat;
    frame.AddrFrame.Offset = context.Rbp;
    frame.AddrFrame.Mode = AddrModeFlat;

    JoinedLines joined;
    for (int index = 0; index < kMaxFrames; ++index) {
        if (!help.stackWalk(IMAGE_FILE_MACHINE_AMD64, process, ::GetCurrentThread(), &frame, &context, nullptr,
                            help.functionTableAccess, help.getModuleBase, nullptr) ||
            frame.AddrPC.Offset == 0) {
            break;
        }
        if (index < kSkippedFrames) {
            continue;
        }
        const DWORD64 address = frame.AddrPC.Offset;
        alignas(SYMBOL_INFO) char symbolBuffer[sizeof(SYMBOL_INFO) + MAX_SYM_NAME];
        auto* symbol = reinterpret_cast<SYMBOL_INFO*>(symbolBuffer);
        symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
        symbol->MaxNameLen = MAX_SYM_NAME;
        DWORD64 symbolDisplacement = 0;
        const bool hasSymbol = help.fromAddress(process, address, &symbolDisplacement, symbol) != FALSE;
        IMAGEHLP_LINE64 line{};
        line.SizeOfStruct = sizeof line;
        DWORD lineDisplacement = 0;
        const bool hasLine = help.lineFromAddress(process, address, &lineDisplacement, &line) != FALSE;

        // Without symbols (a stripped program) the frame names its module and the offset in
        // it, which addr2line turns into a function and line from the separate debug file
        // whatever address the module was loaded at.
        char moduleOffset[MAX_PATH + 24];
        const char* name =
            hasSymbol ? symbol->Name : ModuleOffsetName(help, process, address, moduleOffset, sizeof moduleOffset);
        char text[1024];
        FormatStackFrameLine(text, sizeof text, address, name, hasLine ? line.FileName : nullptr,
                             hasLine ? static_cast<int>(line.LineNumber) : 0);
        if (toDebugger) {
            WriteDebugLine(text);
        }
        if (toLog) {
            WriteLogLine(config.log, text);
        }
        if (hook != nullptr) {
            joined.Append(text);
        }
    }
    if (hook != nullptr && joined.text() != nullptr) {
        hook(kHookLevel, kHookCodeHigh, kHookCodeLow, joined.text());
    }
}

constexpr wchar_t kBoxTitle[] = L"Tovalin runtime check failure";
constexpr UINT kBoxStyle = MB_ABORTRETRYIGNORE | MB_ICONERROR | MB_DEFBUTTON3;

// Set once the terminal-services route turned out to be missing.
std::atomic<bool> g_consoleRouteMissing{false};

bool WindowStationVisible() {
    HWINSTA station = ::GetProcessWindowStation();  // not to be closed
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    return station != nullptr && ::GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

int ShowDesktopBox(const char* text) {
    char title[sizeof kBoxTitle / sizeof kBoxTitle[0]];
    for (size_t i = 0; i < sizeof title; ++i) {
        title[i] = static_cast<char>(kBoxTitle[i]);
    }
    return ::MessageBoxA(nullptr, text, title, kBoxStyle);
}

// A process without a visible desktop (a service) asks the user at the console session.
int SendToConsoleSession(const char* text) {
    using ActiveConsoleSessionFn = DWORD(WINAPI*)();
    using SendMessageFn =
        BOOL(WINAPI*)(HANDLE server, DWORD session, LPWSTR title, DWORD titleBytes, LPWSTR message, DWORD messageBytes,
                      DWORD style, DWORD timeoutSeconds, DWORD * response, BOOL wait);
    if (g_consoleRouteMissing.load()) {
        return IDIGNORE;
    }
    UniqueModule kernel(::LoadLibraryA("Kernel32.dll"));
    UniqueModule wts(::LoadLibraryA("WtsApi32.dll"));
    const auto activeSession =
        kernel ? LookUp<ActiveConsoleSessionFn>(kernel.get(), "WTSGetActiveConsoleSessionId") : nullptr;
    const auto sendMessage = wts ? LookUp<SendMessageFn>(wts.get(), "WTSSendMessageW") : nullptr;
    if (activeSession == nullptr || sendMessage == nullptr) {
        g_consoleRouteMissing.store(true);
        return IDIGNORE;
    }
    wchar_t title[sizeof kBoxTitle / sizeof kBoxTitle[0]];
    std::memcpy(title, kBoxTitle, sizeof kBoxTitle);
    wchar_t message[kAssertTextLimit];
    if (::MultiByteToWideChar(CP_ACP, 0, text, -1, message, static_cast<int>(kAssertTextLimit)) == 0) {
        return IDIGNORE;
    }
    DWORD response = 0;
    if (!sendMessage(nullptr /* this server */, activeSession(), title,
                     static_cast<DWORD>(std::wcslen(title) * sizeof(wchar_t)), message,
                     static_cast<DWORD>(std::wcslen(message) * sizeof(wchar_t)), kBoxStyle, 0, &response, TRUE)) {
        return IDIGNORE;
    }
    return static_cast<int>(response);
}

enum class BoxAnswer { kIgnore, kAbort, kRetry };

BoxAnswer AskUser(const char* expression, const char* file, int line) {
    char program[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(nullptr, program, MAX_PATH);
    char text[kAssertTextLimit];
    if (!FormatAssertBoxText(text, program, file, line, expression)) {
        return BoxAnswer::kRetry;
    }
    const int answer = WindowStationVisible() ? ShowDesktopBox(text) : SendToConsoleSession(text);
    switch (answer) {
        case IDABORT: return BoxAnswer::kAbort;
        case IDRETRY: return BoxAnswer::kRetry;
        default: return BoxAnswer::kIgnore;
    }
}

int BreakIntoDebugger(uint32_t mode) {
    if (::IsDebuggerPresent()) {
        ::DebugBreak();
        return 0;
    }
    if ((mode & kAssertAbort) != 0) {
        std::abort();
    }
    return 1;
}

// How many assertions this thread is reporting at the moment.
thread_local int t_reportDepth = 0;

class ReportScope {
public:
    ReportScope() : nested_(t_reportDepth++ > 0) {}
    ~ReportScope() { --t_reportDepth; }
    ReportScope(const ReportScope&) = delete;
    ReportScope& operator=(const ReportScope&) = delete;
    // The trace hook goes back into the logging library, which may assert again.
    bool Nested() const { return nested_; }

private:
    bool nested_;
};

}  // namespace

AssertionTraceHook SetAssertionTraceHook(AssertionTraceHook hook) {
    return g_traceHook.exchange(hook);
}

int ReportAssertion(const char* expression, const char* file, int line) {
    const AssertConfig& config = Config();
    const uint32_t mode = config.mode;
    if (mode == kAssertIgnoreAll) {
        return 0;
    }
    const ReportScope scope;
    char report[kAssertTextLimit];
    if (FormatAssertReportLine(report, expression, file, line)) {
        if ((mode & kAssertDebug) != 0) {
            WriteDebugLine(report);
        }
        if ((mode & kAssertLog) != 0) {
            WriteLogLine(config.log, report);
        }
        if ((mode & kAssertEvent) != 0 && !scope.Nested()) {
            if (const AssertionTraceHook hook = g_traceHook.load()) {
                hook(kHookLevel, kHookCodeHigh, kHookCodeLow, report);
            }
        }
    }
    // An assertion raised while one is being reported is told once, in the plain outputs; the
    // outer report decides about the stack trace, the box, the break and the abort.
    if (scope.Nested()) {
        return 1;
    }
    if ((mode & kAssertStack) != 0 && (mode & (kAssertDebug | kAssertLog | kAssertEvent)) != 0) {
        WriteStackTrace(config);
    }
    if ((mode & kAssertMsgBox) != 0 && expression != nullptr) {
        switch (AskUser(expression, file, line)) {
            case BoxAnswer::kIgnore: return 0;
            case BoxAnswer::kAbort: std::abort();
            case BoxAnswer::kRetry: return BreakIntoDebugger(mode);
        }
    }
    if ((mode & kAssertBreak) != 0) {
        return BreakIntoDebugger(mode);
    }
    if ((mode & kAssertAbort) != 0) {
        std::abort();
    }
    return 1;
}

}  // namespace Common
