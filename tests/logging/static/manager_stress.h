#pragma once

// What the stress child and its test share: the channels, which channel and level each record
// goes to, and how an output line names the record it carries. Every record has an id of its
// own (thread, sequence); its message is "<channel> t<thread> n<sequence>", and every channel
// writes it behind the prefix "[<channel>] ", so that lines of outputs shared by several
// channels (the console, the gate receiver) still tell which channel wrote them.

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace Stress {

constexpr int kLoggers = 8;

enum class Kind { Console, Null, Custom, File, Text, Gzip, Packed, Shared, Folder, Gate, Debugger };

struct Channel {
    const char* name;
    Kind kind;
};

// The stable channels ("st.") never change while records flow: each must write every record
// sent to it exactly once. The churned ones ("ch.") are re-typed, linked, redirected and
// removed meanwhile: what they write must be whole and sent, and written at most once.
inline constexpr Channel kChannels[] = {
    {"st.console", Kind::Console}, {"st.null", Kind::Null},       {"st.custom", Kind::Custom},
    {"st.file", Kind::File},       {"st.text", Kind::Text},       {"st.gzip", Kind::Gzip},
    {"st.packed", Kind::Packed},   {"st.shared", Kind::Shared},   {"st.folder", Kind::Folder},
    {"st.gate", Kind::Gate},       {"ch.console", Kind::Console}, {"ch.null", Kind::Null},
    {"ch.custom", Kind::Custom},   {"ch.file", Kind::File},       {"ch.text", Kind::Text},
    {"ch.gzip", Kind::Gzip},       {"ch.packed", Kind::Packed},   {"ch.shared", Kind::Shared},
    {"ch.folder", Kind::Folder},   {"ch.gate", Kind::Gate},
};
constexpr int kChannelCount = sizeof kChannels / sizeof kChannels[0];
constexpr int kStableCount = kChannelCount / 2;

inline bool IsStable(std::string_view name) {
    return name.substr(0, 3) == "st.";
}

// A shared file and a folder of files open a file for each record, some 200 us under Wine:
// they get one share of the records, the other channels four.
inline int SharesOf(int channel) {
    const Kind kind = kChannels[channel].kind;
    return kind == Kind::Shared || kind == Kind::Folder ? 1 : 4;
}

// The channel of record `sequence` of `thread`: each thread visits every channel in turn, as
// often as its shares say.
inline int ChannelOf(int thread, int sequence) {
    static const std::vector<int> slots = [] {
        std::vector<int> all;
        for (int c = 0; c < kChannelCount; ++c) {
            all.insert(all.end(), static_cast<size_t>(SharesOf(c)), c);
        }
        return all;
    }();
    return slots[static_cast<size_t>(sequence * 7 + thread * 3) % slots.size()];
}
// Every sixteenth record is logged at DEBUG_TRACE, below the level of the stable channels.
inline bool IsDebug(int sequence) {
    return sequence % 16 == 15;
}

// Records of the folder channels name a file of their thread ("#t<thread>").
inline std::string LoggedName(int thread, int channel) {
    const Channel& c = kChannels[channel];
    return c.kind == Kind::Folder ? std::string(c.name) + "#t" + std::to_string(thread) : c.name;
}

// The records of each level sent to `channel` when each thread logs `perThread`.
struct Sent {
    uint64_t information = 0;
    uint64_t debug = 0;
};
inline Sent SentTo(int channel, int perThread) {
    Sent sent;
    for (int t = 0; t < kLoggers; ++t) {
        for (int n = 0; n < perThread; ++n) {
            if (ChannelOf(t, n) == channel) {
                ++(IsDebug(n) ? sent.debug : sent.information);
            }
        }
    }
    return sent;
}

// One record as an output shows it.
struct Line {
    std::string_view tag;   // the channel that wrote it
    std::string_view name;  // the channel it was sent to
    char level = 0;         // 'I' or 'D'; 0 where the output carries no level letter
    int thread = -1;
    int sequence = -1;
};

namespace Detail {
inline bool TakeNumber(std::string_view& text, int& value, size_t maxDigits) {
    size_t digits = 0;
    value = 0;
    while (digits < text.size() && digits < maxDigits && text[digits] >= '0' && text[digits] <= '9') {
        value = value * 10 + (text[digits] - '0');
        ++digits;
    }
    text.remove_prefix(digits);
    return digits != 0;
}
inline bool Take(std::string_view& text, std::string_view expected) {
    if (text.substr(0, expected.size()) != expected) {
        return false;
    }
    text.remove_prefix(expected.size());
    return true;
}
}  // namespace Detail

// "[<tag>] <name> t<thread> n<sequence>" and nothing else.
inline bool ParseMessage(std::string_view text, Line& line) {
    using namespace Detail;
    const size_t tagEnd = text.find("] ");
    if (!Take(text, "[") || tagEnd == std::string_view::npos) {
        return false;
    }
    line.tag = text.substr(0, tagEnd - 1);
    text.remove_prefix(tagEnd + 1);
    const size_t nameEnd = text.find(' ');
    if (nameEnd == std::string_view::npos) {
        return false;
    }
    line.name = text.substr(0, nameEnd);
    text.remove_prefix(nameEnd);
    return Take(text, " t") && TakeNumber(text, line.thread, 2) && Take(text, " n") &&
           TakeNumber(text, line.sequence, 9) && text.empty();
}

// A line without its end: an optional timestamp and thread id (a channel whose flags the
// control pipe changed), the level letter and code, then the message.
inline bool ParseLine(std::string_view text, Line& line) {
    const size_t head = text.find_first_not_of("0123456789-:T+ ");
    if (head == std::string_view::npos) {
        return false;
    }
    text.remove_prefix(head);
    if (text.size() < 11 || (text[0] != 'I' && text[0] != 'D') || text.substr(1, 10) != "00000000: ") {
        return false;
    }
    line.level = text[0];
    return ParseMessage(text.substr(11), line);
}

// The library's own fatal messages that the churn raises: "panic t<thread> n<sequence>". The
// panic handle gets the line with its end, to which the channel adds its own: an empty line
// follows.
inline bool IsPanicLine(std::string_view text) {
    const size_t at = text.find("panic t");
    if (at == std::string_view::npos) {
        return false;
    }
    text.remove_prefix(at + 7);
    int value = 0;
    return Detail::TakeNumber(text, value, 2) && Detail::Take(text, " n") && Detail::TakeNumber(text, value, 9) &&
           text.empty();
}

inline void SkipPanicLineEnd(std::string_view& rest) {
    if (rest.substr(0, 2) == "\r\n") {
        rest.remove_prefix(2);
    }
}

// Splits `text` into lines ended by "\r\n" and hands each record to `record`; a line that is
// no record and what follows the last line end go to `torn`. With `panics`, the library's
// fatal messages are passed over.
template <typename Record, typename TornLine>
void ForEachLine(std::string_view text, bool panics, Record record, TornLine torn) {
    while (!text.empty()) {
        const size_t end = text.find("\r\n");
        if (end == std::string_view::npos) {
            torn();
            return;
        }
        Line line;
        const std::string_view whole = text.substr(0, end);
        text.remove_prefix(end + 2);
        if (ParseLine(whole, line)) {
            record(line);
        } else if (panics && IsPanicLine(whole)) {
            SkipPanicLineEnd(text);
        } else {
            torn();
        }
    }
}

// A set of record ids that threads may fill at once.
class IdSet {
public:
    explicit IdSet(size_t size) : words_((size + 63) / 64) {}
    // False when `id` was in the set already.
    bool Insert(size_t id) {
        const uint64_t bit = uint64_t{1} << (id % 64);
        return (words_[id / 64].fetch_or(bit, std::memory_order_relaxed) & bit) == 0;
    }

private:
    std::vector<std::atomic<uint64_t>> words_;
};

// What one output holds: records counted once each, and the lines that were not right.
struct Tally {
    std::atomic<uint64_t> delivered{0};
    std::atomic<uint64_t> duplicates{0};
    std::atomic<uint64_t> torn{0};     // not a whole line
    std::atomic<uint64_t> foreign{0};  // whole, but no record that was sent to this output
};

// Checks the records of one output, `owner`: each must have been sent, under its own name and
// level, and be written by `owner`; a stable output may hold only records sent to itself at
// INFORMATION.
class OutputCheck {
public:
    OutputCheck(std::string owner, int perThread)
        : owner_(std::move(owner)), perThread_(perThread), seen_(static_cast<size_t>(perThread) * kLoggers) {}

    void Torn() { ++tally_.torn; }
    void Add(const Line& line) {
        const bool valid = line.thread >= 0 && line.thread < kLoggers && line.sequence >= 0 &&
                           line.sequence < perThread_ && line.tag == owner_;
        const int channel = valid ? ChannelOf(line.thread, line.sequence) : 0;
        const bool debug = valid && IsDebug(line.sequence);
        if (!valid || line.name != kChannels[channel].name || (line.level != 0 && line.level != (debug ? 'D' : 'I')) ||
            (IsStable(owner_) && (debug || owner_ != line.name))) {
            ++tally_.foreign;
            return;
        }
        if (seen_.Insert(static_cast<size_t>(line.thread) * perThread_ + line.sequence)) {
            ++tally_.delivered;
        } else {
            ++tally_.duplicates;
        }
    }
    // The channel "panic" writes the library's fatal messages as well.
    void AddText(std::string_view text) {
        ForEachLine(
            text, owner_ == "panic", [this](const Line& line) { Add(line); }, [this] { Torn(); });
    }

    const std::string& Owner() const { return owner_; }
    const Tally& Counts() const { return tally_; }

private:
    std::string owner_;
    int perThread_;
    IdSet seen_;
    Tally tally_;
};

}  // namespace Stress
