#pragma once

// The rotation of a log file that several processes append to: the step that must stay right
// while other processes write to the file and rotate it themselves.

#include <cstdint>
#include <string>

namespace Logging {

// Which file on its volume a descriptor refers to; it survives renames.
struct FileIdentity {
    uint32_t volume = 0;
    uint64_t index = 0;
    bool known = false;
    bool operator==(const FileIdentity& other) const {
        return known && other.known && volume == other.volume && index == other.index;
    }
};

// The identity of the file open on `fd`; not known when the system cannot tell.
FileIdentity IdentityOfDescriptor(int fd);

// Moves `path` onto `backup`, replacing it, if the file is still due when checked again while
// no other process can write or rotate it: larger than `maxSize` (0xFFFFFFFF: no limit), or
// the very file `staleDay` names. Waits up to `timeoutMs` for others to let go of the file. A
// failure is reported and leaves the file where it is.
void RotateSharedFile(const std::string& path, const std::string& backup, uint32_t maxSize,
                      const FileIdentity& staleDay, uint32_t timeoutMs);

}  // namespace Logging
