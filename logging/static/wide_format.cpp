#include "logging/static/wide_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>

namespace Logging {

namespace {

// What a conversion reads from the argument list. Signed and unsigned integers of one width
// are read alike.
enum class Argument {
    Percent,  // "%%": nothing
    Int,
    Long,
    LongLong,
    IntMax,
    Size,
    PtrDiff,
    Double,
    LongDouble,
    Pointer,
    Count,  // %n: a pointer, never written through
    NarrowString,
    WideString,
    WideCharacter,
    Unknown,
};

// Flags, width and precision longer than this are no format we write; such a conversion is
// taken as unknown.
constexpr size_t kMaxDirectiveLength = 32;

struct Conversion {
    Argument argument = Argument::Unknown;
    const char* directive = nullptr;  // flags, width and precision as written, "*" kept
    size_t directiveLength = 0;
    int stars = 0;              // how many of width and precision are "*"
    const char* length = "";    // the length modifier for the runtime's printf
    char letter = '\0';         // the conversion character for the runtime's printf
    const char* end = nullptr;  // one past the conversion
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsFlag(char c) {
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}

enum class Length { None, hh, h, l, ll, L, j, z, t, w, I, I32, I64 };

Argument IntegerArgument(Length length) {
    switch (length) {
        case Length::l: return Argument::Long;
        case Length::ll:
        case Length::L:
        case Length::I64: return Argument::LongLong;
        case Length::j: return Argument::IntMax;
        case Length::z: return Argument::Size;
        case Length::t:
        case Length::I: return Argument::PtrDiff;
        default: return Argument::Int;
    }
}

// The standard spelling of an integer's length modifier, for the runtime's printf.
const char* IntegerLength(Length length) {
    switch (length) {
        case Length::hh: return "hh";
        case Length::h: return "h";
        case Length::l: return "l";
        case Length::ll:
        case Length::L:
        case Length::I64: return "ll";
        case Length::j: return "j";
        case Length::z: return "z";
        case Length::t:
        case Length::I: return "t";
        default: return "";
    }
}

// Parses the conversion that starts at `percent`.
Conversion Parse(const char* percent) {
    Conversion c;
    const char* p = percent + 1;
    c.directive = p;
    while (IsFlag(*p)) {
        ++p;
    }
    if (*p == '*') {
        ++c.stars;
        ++p;
    } else {
        while (IsDigit(*p)) {
            ++p;
        }
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            ++c.stars;
            ++p;
        } else {
            while (IsDigit(*p)) {
                ++p;
            }
        }
    }
    c.directiveLength = static_cast<size_t>(p - c.directive);

    Length length = Length::None;
    switch (*p) {
        case 'h':
            length = p[1] == 'h' ? Length::hh : Length::h;
            p += p[1] == 'h' ? 2 : 1;
            break;
        case 'l':
            length = p[1] == 'l' ? Length::ll : Length::l;
            p += p[1] == 'l' ? 2 : 1;
            break;
        case 'L':
            length = Length::L;
            ++p;
            break;
        case 'q':
            length = Length::ll;
            ++p;
            break;
        case 'j':
            length = Length::j;
            ++p;
            break;
        case 'z':
            length = Length::z;
            ++p;
            break;
        case 't':
            length = Length::t;
            ++p;
            break;
        case 'w':
            length = Length::w;
            ++p;
            break;
        case 'I':
            if (p[1] == '6' && p[2] == '4') {
                length = Length::I64;
                p += 3;
            } else if (p[1] == '3' && p[2] == '2') {
                length = Length::I32;
                p += 3;
            } else {
                length = Length::I;
                ++p;
            }
            break;
        default: break;
    }
    if (*p == '\0' || c.directiveLength > kMaxDirectiveLength) {
        c.end = p;
        return c;
    }
    c.end = p + 1;
    c.letter = *p;
    const bool wide = length == Length::l || length == Length::w;
    switch (*p) {
        case '%': c.argument = Argument::Percent; break;
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            c.argument = IntegerArgument(length);
            c.length = IntegerLength(length);
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            c.argument = length == Length::L ? Argument::LongDouble : Argument::Double;
            c.length = length == Length::L ? "L" : "";
            break;
        // Microsoft's spelling: %C and %S are wide in a narrow format, %hC and %hS narrow.
        case 'c':
        case 'C':
            c.argument = wide || (*p == 'C' && length != Length::h) ? Argument::WideCharacter : Argument::Int;
            c.letter = 'c';
            break;
        case 's':
        case 'S':
            c.argument = wide || (*p == 'S' && length != Length::h) ? Argument::WideString : Argument::NarrowString;
            c.letter = 's';
            break;
        case 'p': c.argument = Argument::Pointer; break;
        case 'n': c.argument = Argument::Count; break;
        default: c.argument = Argument::Unknown; break;
    }
    return c;
}

bool IsWide(Argument argument) {
    return argument == Argument::WideString || argument == Argument::WideCharacter;
}

// Appends to the rendering while it is below its limit.
class Output {
public:
    Output(std::wstring& out, size_t limit) : out_(out), limit_(limit) {}

    size_t Room() const { return out_.size() < limit_ ? limit_ - out_.size() : 0; }
    // Each byte becomes one unit of the same value.
    void Bytes(const char* bytes, size_t count) {
        count = count < Room() ? count : Room();
        for (size_t i = 0; i < count; ++i) {
            out_.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i])));
        }
    }
    void Units(const wchar_t* units, size_t count) { out_.append(units, count < Room() ? count : Room()); }
    void Blanks(size_t count) { out_.append(count < Room() ? count : Room(), L' '); }

private:
    std::wstring& out_;
    size_t limit_;
};

// One conversion of the runtime's printf, its width and precision arguments already read.
template <typename Value>
void PrintNarrow(Output& output, const char* directive, const int* stars, int starCount, Value value) {
    const auto print = [&](char* buffer, size_t size) {
        switch (starCount) {
            case 0: return std::snprintf(buffer, size, directive, value);
            case 1: return std::snprintf(buffer, size, directive, stars[0], value);
            default: return std::snprintf(buffer, size, directive, stars[0], stars[1], value);
        }
    };
    char local[256];
    const int n = print(local, sizeof local);
    if (n < 0) {
        return;
    }
    if (static_cast<size_t>(n) < sizeof local) {
        output.Bytes(local, static_cast<size_t>(n));
        return;
    }
    // Only what the rendering still has room for.
    const size_t wanted = static_cast<size_t>(n) < output.Room() ? static_cast<size_t>(n) : output.Room();
    std::unique_ptr<char[]> heap(new char[wanted + 1]);
    print(heap.get(), wanted + 1);
    output.Bytes(heap.get(), wanted);
}

struct WideLayout {
    bool left = false;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
};

// Reads a run of digits, saturating far above any width a line can hold.
size_t ReadNumber(const char*& p) {
    size_t value = 0;
    while (IsDigit(*p)) {
        value = value < 1000000 ? value * 10 + static_cast<size_t>(*p - '0') : value;
        ++p;
    }
    return value;
}

// Width and precision of a wide conversion, as printf takes them: a negative "*" width means
// left-justified, a negative "*" precision none at all.
WideLayout ReadLayout(const Conversion& c, const int* stars) {
    WideLayout layout;
    const char* p = c.directive;
    int star = 0;
    for (; IsFlag(*p); ++p) {
        layout.left |= *p == '-';
    }
    if (*p == '*') {
        const int width = stars[star++];
        layout.left |= width < 0;
        layout.width = width < 0 ? 0u - static_cast<unsigned>(width) : static_cast<unsigned>(width);
        ++p;
    } else {
        layout.width = ReadNumber(p);
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            const int precision = stars[star];
            layout.hasPrecision = precision >= 0;
            layout.precision = precision >= 0 ? static_cast<size_t>(precision) : 0;
        } else {
            layout.hasPrecision = true;
            layout.precision = ReadNumber(p);
        }
    }
    return layout;
}

void PrintWide(Output& output, const WideLayout& layout, const wchar_t* units, size_t count) {
    const size_t padding = layout.width > count ? layout.width - count : 0;
    if (!layout.left) {
        output.Blanks(padding);
    }
    output.Units(units, count);
    if (layout.left) {
        output.Blanks(padding);
    }
}

void PrintWideString(Output& output, const WideLayout& layout, const wchar_t* text) {
    if (text == nullptr) {
        text = L"(null)";
    }
    size_t count = layout.hasPrecision ? ::wcsnlen(text, layout.precision) : std::wcslen(text);
    // A precision that cuts between the halves of a pair drops the pair.
    if (layout.hasPrecision && count > 0 && text[count] != L'\0' && text[count - 1] >= 0xD800 &&
        text[count - 1] <= 0xDBFF) {
        --count;
    }
    PrintWide(output, layout, text, count);
}

// va_list travels by pointer, so that every helper reads from the same position.
struct Arguments {
    va_list list;
};

void Render(Output& output, const Conversion& c, Arguments& args) {
    int stars[2] = {0, 0};
    for (int i = 0; i < c.stars; ++i) {
        stars[i] = va_arg(args.list, int);
    }
    char narrowFormat[kMaxDirectiveLength + 8];
    narrowFormat[0] = '%';
    std::memcpy(narrowFormat + 1, c.directive, c.directiveLength);
    const size_t lengthSize = std::strlen(c.length);
    std::memcpy(narrowFormat + 1 + c.directiveLength, c.length, lengthSize);
    narrowFormat[1 + c.directiveLength + lengthSize] = c.letter;
    narrowFormat[2 + c.directiveLength + lengthSize] = '\0';

    switch (c.argument) {
        case Argument::Percent: output.Bytes("%", 1); break;
        case Argument::Int: PrintNarrow(output, narrowFormat, stars, c.stars, va_arg(args.list, int)); break;
        case Argument::Long: PrintNarrow(output, narrowFormat, stars, c.stars, va_arg(args.list, long)); break;
        case Argument::LongLong: PrintNarrow(output, narrowFormat, stars, c.stars, va_arg(args.list, long long)); break;
        case Argument::IntMax: PrintNarrow(output, narrowFormat, stars, c.stars, va_arg(args.list, intmax_t)); break;
        case Argument::Size: PrintNarrow(output, narrowFormat, stars, c.stars, va_arg(args.list, size_t)); break;
        case Argument::PtrDiff: PrintNarrow(output, narrowFormat, stars, c.stars, va_arg(args.list, ptrdiff_t)); break;
        case Argument::Double: PrintNarrow(output, narrowFormat, stars, c.stars, va_arg(args.list, double)); break;
        case Argument::LongDouble:
            PrintNarrow(output, narrowFormat, stars, c.stars, va_arg(args.list, long double));
            break;
        case Argument::Pointer: PrintNarrow(output, narrowFormat, stars, c.stars, va_arg(args.list, void*)); break;
        case Argument::NarrowString:
            PrintNarrow(output, narrowFormat, stars, c.stars, va_arg(args.list, const char*));
            break;
        case Argument::Count: va_arg(args.list, void*); break;
        case Argument::WideString:
            PrintWideString(output, ReadLayout(c, stars), va_arg(args.list, const wchar_t*));
            break;
        case Argument::WideCharacter: {
            // wint_t arrives promoted to int.
            const wchar_t unit = static_cast<wchar_t>(va_arg(args.list, int));
            PrintWide(output, ReadLayout(c, stars), &unit, 1);
            break;
        }
        case Argument::Unknown: break;
    }
}

}  // namespace

bool HasWideConversion(const char* format) {
    if (format == nullptr) {
        return false;
    }
    for (const char* p = std::strchr(format, '%'); p != nullptr; p = std::strchr(p, '%')) {
        const Conversion c = Parse(p);
        if (c.argument == Argument::Unknown) {
            return false;  // the rest is text
        }
        if (IsWide(c.argument)) {
            return true;
        }
        p = c.end;
    }
    return false;
}

void AppendWideFormatted(std::wstring& out, size_t limit, const char* format, va_list args) {
    if (format == nullptr) {
        return;
    }
    Output output(out, limit);
    Arguments arguments;
    va_copy(arguments.list, args);
    const char* p = format;
    while (*p != '\0' && output.Room() > 0) {
        const char* percent = std::strchr(p, '%');
        if (percent == nullptr) {
            output.Bytes(p, std::strlen(p));
            break;
        }
        output.Bytes(p, static_cast<size_t>(percent - p));
        const Conversion c = Parse(percent);
        if (c.argument == Argument::Unknown) {
            output.Bytes(percent, std::strlen(percent));
            break;
        }
        Render(output, c, arguments);
        p = c.end;
    }
    va_end(arguments.list);
}

}  // namespace Logging
