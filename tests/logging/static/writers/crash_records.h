#pragma once

// The records that the crash test's child writes: 100 bytes each, named by the child's number
// and a sequence number, the rest made of noise and words so that they compress like real
// logs. Cheap to make, so that the child spends its time in the writer.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace TestSupport {

constexpr size_t kCrashRecordSize = 100;
constexpr size_t kCrashHeadSize = 13;  // "cNN sNNNNNNNN"

// One child's slot in the mapping that the kill test shares with its children: what the
// child has done is known to the test even after the child was killed.
struct KillSlot {
    volatile LONG open;     // 1 once the writer is open (and so the files repaired)
    volatile LONG flushed;  // how many of the child's records are known to be on disk
};

inline const std::vector<std::string>& CrashBodies() {
    static const std::vector<std::string> bodies = [] {
        static const char* const kWords[] = {"open",   "close", "read",   "write",  "session", "user",
                                             "denied", "retry", "socket", "buffer", "queue",   "flush"};
        std::vector<std::string> result;
        uint32_t hash = 2654435761u;
        for (int i = 0; i < 1024; ++i) {
            char text[160];
            int length = 0;
            // Some hexadecimal noise, so that deflate puts out data all through a chunk, as
            // with real logs, rather than mostly when it ends.
            for (; length < 33; ++length) {
                hash = hash * 1103515245u + 12345u;
                text[length] = length == 0 ? ' ' : "0123456789abcdef"[(hash >> 16) & 15];
            }
            while (length < static_cast<int>(kCrashRecordSize - kCrashHeadSize) - 1) {
                hash = hash * 1103515245u + 12345u;
                length += std::snprintf(text + length, sizeof text - length, (hash & 0x300) == 0 ? " %s=%u" : " %s",
                                        kWords[(hash >> 16) % 12], (hash >> 20) % 1000);
            }
            result.emplace_back(text, kCrashRecordSize - kCrashHeadSize - 1);
            result.back() += '\n';
        }
        return result;
    }();
    return bodies;
}

inline void AppendCrashRecord(std::string& out, uint32_t child, uint32_t sequence) {
    char head[kCrashHeadSize];
    head[0] = 'c';
    head[1] = static_cast<char>('0' + child / 10 % 10);
    head[2] = static_cast<char>('0' + child % 10);
    head[3] = ' ';
    head[4] = 's';
    for (int i = 12, value = static_cast<int>(sequence); i >= 5; --i, value /= 10) {
        head[i] = static_cast<char>('0' + value % 10);
    }
    out.append(head, kCrashHeadSize);
    out += CrashBodies()[(sequence * 7 + child) % 1024];
}

inline std::string CrashRecord(uint32_t child, uint32_t sequence) {
    std::string record;
    AppendCrashRecord(record, child, sequence);
    return record;
}

}  // namespace TestSupport
