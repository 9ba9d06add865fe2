#pragma once

// The macros of log file and folder names: {pid}, {pname}, {date} and {target}.

#include <cstdint>
#include <string>
#include <string_view>

namespace Logging {

enum PathMacro : uint32_t {
    kMacroPid = 0x1,     // the process id in decimal
    kMacroPname = 0x2,   // the executable's file name without its extension
    kMacroDate = 0x4,    // local time as "%Y-%m-%d-%H-%M-%S"
    kMacroTarget = 0x8,  // the target, "0" when there is none
    kAllMacros = 0xF,
};

struct ExpandedPath {
    std::string path;
    // The macros that occur but were not in the mask; they are left as they stand.
    uint32_t unexpanded = 0;
};

// Expands the macros of `mask` in `text`; `target` may be null.
ExpandedPath ExpandPathMacros(std::string_view text, uint32_t mask, const char* target);

// The directory that a file back-end resolves relative names against: `homeDir`, or when that
// is empty the running executable's directory (without a trailing "\").
std::string LogHomeDirectory(std::string homeDir);

// True unless `path` has ":" as its second character or begins with "/" or "\".
bool IsRelativeLogPath(std::string_view path);

// `path` as it stands when absolute; otherwise `homeDir`, a "\" unless `homeDir` is empty or
// already ends with one, and `path`.
std::string ResolveAgainstHome(std::string_view homeDir, std::string_view path);

}  // namespace Logging
