#include "logging/static/backends/console_backend.h"

#include <windows.h>

#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "logging/static/backends/console_colours.h"

namespace Logging {

namespace {

const char* LevelColour(int32_t level) {
    if (level < 2) {
        return "\x1b[1;30m";
    }
    if (level == 2) {
        return "\x1b[1;32m";
    }
    if (level == 3) {
        return "\x1b[1;33m";
    }
    return "\x1b[1;31m";
}

// The bytes go to the stream's system handle unchanged: the runtime's text mode would turn
// the line's "\r\n" into "\r\r\n". What the runtime buffered before is flushed first so that
// the order of the stream is kept.
class StreamWriter {
public:
    explicit StreamWriter(FILE* stream) : stream_(stream) {
        std::fflush(stream_);
        const intptr_t handle = _get_osfhandle(_fileno(stream_));
        handle_ = handle == -1 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(handle);
    }

    HANDLE Handle() const { return handle_; }

    void Write(std::string_view bytes) const {
        while (!bytes.empty() && handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) {
            DWORD written = 0;
            const DWORD chunk = bytes.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes.size());
            if (!::WriteFile(handle_, bytes.data(), chunk, &written, nullptr) || written == 0) {
                return;
            }
            bytes.remove_prefix(written);
        }
    }

    // All pieces in one write, so that a line reaches the stream whole.
    void WriteAll(const std::string_view* pieces, size_t count) const {
        size_t total = 0;
        for (size_t i = 0; i < count; ++i) {
            total += pieces[i].size();
        }
        char local[2048];
        std::string heap;
        char* out = local;
        if (total > sizeof local) {
            heap.resize(total);
            out = &heap[0];
        }
        size_t n = 0;
        for (size_t i = 0; i < count; ++i) {
            std::memcpy(out + n, pieces[i].data(), pieces[i].size());
            n += pieces[i].size();
        }
        Write(std::string_view(out, n));
    }

private:
    FILE* stream_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Applies colour sequences to a console while the line is written.
class ConsoleColours {
public:
    ConsoleColours(HANDLE console, uint16_t remembered) : console_(console), remembered_(remembered) {}

    // Reads a sequence at the start of `text`; returns its length, 0 when it is no sequence.
    size_t Apply(std::string_view text) {
        const ColourSequence sequence = ReadColourSequence(text, current_);
        switch (sequence.kind) {
            case ColourSequence::NotASequence: return 0;
            case ColourSequence::Ignored: break;
            case ColourSequence::SetAttribute: Set(sequence.attribute); break;
            case ColourSequence::Restore: Set(remembered_); break;
        }
        return sequence.length;
    }

    void Restore() { ::SetConsoleTextAttribute(console_, remembered_); }

private:
    void Set(uint16_t attribute) {
        current_ = attribute;
        ::SetConsoleTextAttribute(console_, attribute);
    }

    HANDLE console_;
    uint16_t remembered_;
    uint16_t current_ = remembered_;
};

}  // namespace

void ConsoleBackend::Write(TraceRecord& record) {
    const uint32_t flags = EffectiveFlags();
    const int32_t level = record.Level();
    const char* colour = (flags & OF_HIGHLIGHT) != 0 ? LevelColour(level) : nullptr;
    std::string_view pieces[5];
    const size_t count = record.FullLinePieces(flags, Prefix(), PrefixExpanded(), pieces);
    const std::string_view line = pieces[count - 1];
    FILE* stream = (level < 3 || (flags & OF_NOSTDERR) != 0) ? stdout : stderr;
    const StreamWriter writer(stream);

    CONSOLE_SCREEN_BUFFER_INFO info;
    const bool hasEscape = line.find('\x1b') != std::string_view::npos;
    if ((colour == nullptr && !hasEscape) || !::GetConsoleScreenBufferInfo(writer.Handle(), &info)) {
        // No colours, or a redirected stream: the text goes out as it is.
        writer.WriteAll(pieces, count);
        return;
    }

    ConsoleColours colours(writer.Handle(), info.wAttributes);
    if (colour != nullptr) {
        colours.Apply(colour);
    }
    writer.WriteAll(pieces, count - 1);
    size_t start = 0;
    size_t pos = 0;
    while (pos < line.size()) {
        const size_t esc = line.find('\x1b', pos);
        if (esc == std::string_view::npos) {
            break;
        }
        const size_t length = colours.Apply(line.substr(esc));
        if (length == 0) {
            pos = esc + 1;
            continue;
        }
        writer.Write(line.substr(start, esc - start));
        pos = start = esc + length;
    }
    writer.Write(line.substr(start));
    if (colour != nullptr) {
        colours.Apply("\x1b[0m");
    }
    colours.Restore();
}

}  // namespace Logging
