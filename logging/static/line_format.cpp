#include "logging/static/line_format.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "logging/trace_levels.h"

namespace Logging {

namespace {

struct Placeholder {
    std::string_view name;
    uint32_t bit;
};

constexpr Placeholder kPlaceholders[] = {
    {"{pid}", kPlaceholderPid},
    {"{pname}", kPlaceholderPname},
    {"{date}", kPlaceholderDate},
    {"{target}", kPlaceholderTarget},
};

void Put2(char* out, int32_t value) {
    out[0] = static_cast<char>('0' + (value / 10) % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

// Zero-padded to `width` digits; wider numbers keep all their digits, as "%0Ni" would.
size_t PutPadded(char* out, int32_t value, size_t width) {
    if (value < 0) {
        return static_cast<size_t>(std::sprintf(out, "%0*i", static_cast<int>(width), value));
    }
    char digits[20];
    const size_t count = FormatDecimal(digits, static_cast<uint64_t>(value));
    size_t n = 0;
    for (size_t pad = count; pad < width; ++pad) {
        out[n++] = '0';
    }
    std::memcpy(out + n, digits, count);
    return n + count;
}

bool InRange(const Platform::LocalTime& t) {
    return t.month >= 0 && t.month < 100 && t.day >= 0 && t.day < 100 && t.hour >= 0 && t.hour < 100 && t.minute >= 0 &&
           t.minute < 100 && t.second >= 0 && t.second < 100 && t.millisecond >= 0 && t.millisecond < 1000;
}

}  // namespace

uint32_t ExpandPrefix(std::string_view prefix, uint32_t allowed, const PlaceholderValues& values, std::string& out) {
    uint32_t left = 0;
    size_t pos = 0;
    while (pos < prefix.size()) {
        const size_t open = prefix.find('{', pos);
        if (open == std::string_view::npos) {
            out.append(prefix.substr(pos));
            break;
        }
        out.append(prefix.substr(pos, open - pos));
        const Placeholder* match = nullptr;
        for (const Placeholder& p : kPlaceholders) {
            if (prefix.compare(open, p.name.size(), p.name) == 0) {
                match = &p;
                break;
            }
        }
        if (match == nullptr) {
            out.push_back('{');
            pos = open + 1;
            continue;
        }
        pos = open + match->name.size();
        if ((allowed & match->bit) == 0 || (match->bit == kPlaceholderDate && values.date == nullptr)) {
            left |= match->bit;
            out.append(match->name);
            continue;
        }
        char text[64];
        switch (match->bit) {
            case kPlaceholderPid: out.append(text, FormatDecimal(text, values.pid)); break;
            case kPlaceholderPname: out.append(values.pname); break;
            case kPlaceholderDate: {
                const Platform::LocalTime& t = *values.date;
                const int n = std::snprintf(text, sizeof text, "%04i-%02i-%02i-%02i-%02i-%02i", t.year, t.month, t.day,
                                            t.hour, t.minute, t.second);
                out.append(text, n > 0 ? static_cast<size_t>(n) : 0);
                break;
            }
            default: out.append(values.target); break;
        }
    }
    return left;
}

size_t FormatSignature(char* out, int32_t level, uint32_t code) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out[0] = TraceLevelSignature(level);
    for (int i = 0; i < 8; ++i) {
        out[1 + i] = kHex[(code >> (28 - 4 * i)) & 0xF];
    }
    out[9] = ':';
    out[10] = ' ';
    return 11;
}

bool ParseTimestamp(std::string_view text, Platform::LocalTime& time) {
    constexpr std::string_view shape = "dddd-dd-dd dd:dd:dd:ddd";
    if (text.size() == shape.size() + 1 && text.back() == ' ') {
        text.remove_suffix(1);
    }
    if (text.size() != shape.size()) {
        return false;
    }
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i]) {
            return false;
        }
    }
    const auto number = [&text](size_t at, size_t digits) {
        int32_t value = 0;
        for (size_t i = at; i < at + digits; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    Platform::LocalTime parsed;
    parsed.year = number(0, 4);
    parsed.month = number(5, 2);
    parsed.day = number(8, 2);
    parsed.hour = number(11, 2);
    parsed.minute = number(14, 2);
    parsed.second = number(17, 2);
    parsed.millisecond = number(20, 3);
    time = parsed;
    return true;
}

size_t FormatTimestamp(char* out, const Platform::LocalTime& t, const char* zoneSuffix) {
    if (!InRange(t)) {
        // Out-of-range fields cannot come from the system clock; print them as printf would.
        const int n = zoneSuffix != nullptr
                          ? std::snprintf(out, 48, "%04i-%02i-%02iT%02i:%02i:%02i:%03i%s ", t.year, t.month, t.day,
                                          t.hour, t.minute, t.second, t.millisecond, zoneSuffix)
                          : std::snprintf(out, 48, "%04i-%02i-%02i %02i:%02i:%02i:%03i ", t.year, t.month, t.day,
                                          t.hour, t.minute, t.second, t.millisecond);
        return n > 0 ? (n < 48 ? static_cast<size_t>(n) : 47) : 0;
    }
    size_t n = PutPadded(out, t.year, 4);
    out[n++] = '-';
    Put2(out + n, t.month);
    n += 2;
    out[n++] = '-';
    Put2(out + n, t.day);
    n += 2;
    out[n++] = zoneSuffix != nullptr ? 'T' : ' ';
    Put2(out + n, t.hour);
    n += 2;
    out[n++] = ':';
    Put2(out + n, t.minute);
    n += 2;
    out[n++] = ':';
    Put2(out + n, t.second);
    n += 2;
    out[n++] = ':';
    n += PutPadded(out + n, t.millisecond, 3);
    if (zoneSuffix != nullptr) {
        const size_t length = std::strlen(zoneSuffix);
        const size_t room = 47 - n;
        const size_t take = length < room ? length : room;
        std::memcpy(out + n, zoneSuffix, take);
        n += take;
    }
    out[n++] = ' ';
    return n;
}

std::string FormatZoneSuffix(int32_t offsetMinutes) {
    const int32_t magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[32];
    // Built by hand rather than with "%+.02i" so that an offset under one hour west of UTC
    // keeps its minus sign.
    std::snprintf(text, sizeof text, "%c%02i:%02i", offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text;
}

size_t FormatDecimal(char* out, uint64_t value) {
    char digits[20];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (size_t i = 0; i < count; ++i) {
        out[i] = digits[count - 1 - i];
    }
    return count;
}

namespace {

const char* FindEscape(const char* text, size_t length) {
    return static_cast<const char*>(std::memchr(text, '\x1b', length));
}
const wchar_t* FindEscape(const wchar_t* text, size_t length) {
    return std::wmemchr(text, L'\x1b', length);
}

template <typename Char>
size_t StripColourSequencesOf(Char* text, size_t length) {
    const Char* esc = FindEscape(text, length);
    if (esc == nullptr) {
        return length;
    }
    size_t write = static_cast<size_t>(esc - text);
    size_t read = write;
    while (read < length) {
        if (text[read] == Char('\x1b') && read + 1 < length && text[read + 1] == Char('[')) {
            size_t end = read + 2;
            while (end < length && ((text[end] >= Char('0') && text[end] <= Char('9')) || text[end] == Char(';'))) {
                ++end;
            }
            if (end < length && text[end] == Char('m')) {
                read = end + 1;
                continue;
            }
        }
        text[write++] = text[read++];
    }
    return write;
}

}  // namespace

size_t StripColourSequences(char* text, size_t length) {
    return StripColourSequencesOf(text, length);
}

size_t StripColourSequences(wchar_t* text, size_t length) {
    return StripColourSequencesOf(text, length);
}

size_t EncodeUtf8(const wchar_t* text, char* out, size_t capacity) {
    size_t n = 0;
    if (text == nullptr) {
        return 0;
    }
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t c = static_cast<uint16_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(text[i + 1]) - 0xDC00);
            ++i;
        }
        char bytes[4];
        size_t count;
        if (c < 0x80) {
            bytes[0] = static_cast<char>(c);
            count = 1;
        } else if (c < 0x800) {
            bytes[0] = static_cast<char>(0xC0 | (c >> 6));
            bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
            count = 2;
        } else if (c < 0x10000) {
            bytes[0] = static_cast<char>(0xE0 | (c >> 12));
            bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
            count = 3;
        } else {
            bytes[0] = static_cast<char>(0xF0 | (c >> 18));
            bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
            count = 4;
        }
        if (n + count > capacity) {
            break;
        }
        std::memcpy(out + n, bytes, count);
        n += count;
    }
    return n;
}

}  // namespace Logging
