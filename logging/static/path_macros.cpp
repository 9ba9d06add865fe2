#include "logging/static/path_macros.h"

#include "logging/common/platform.h"
#include "logging/static/line_format.h"
#include "logging/static/trace_environment.h"

namespace Logging {

ExpandedPath ExpandPathMacros(std::string_view text, uint32_t mask, const char* target) {
    // The macros are the placeholders of a message prefix, with one difference: a missing
    // target names the file "0", never an empty name.
    static_assert(uint32_t{kMacroPid} == kPlaceholderPid && uint32_t{kMacroPname} == kPlaceholderPname &&
                  uint32_t{kMacroDate} == kPlaceholderDate && uint32_t{kMacroTarget} == kPlaceholderTarget);
    const TraceEnvironment& environment = SystemTraceEnvironment();
    const Platform::LocalTime now = environment.LocalNow();
    PlaceholderValues values;
    values.pid = environment.ProcessId();
    values.pname = environment.ProcessName();
    values.date = &now;
    values.target = target != nullptr ? std::string_view(target) : std::string_view("0");
    ExpandedPath result;
    result.unexpanded = ExpandPrefix(text, mask & kAllMacros, values, result.path);
    return result;
}

std::string LogHomeDirectory(std::string homeDir) {
    return homeDir.empty() ? Platform::ExecutableDirectory() : homeDir;
}

bool IsRelativeLogPath(std::string_view path) {
    const bool drive = path.size() >= 2 && path[1] == ':';
    const bool rooted = !path.empty() && (path[0] == '/' || path[0] == '\\');
    return !drive && !rooted;
}

std::string ResolveAgainstHome(std::string_view homeDir, std::string_view path) {
    if (!IsRelativeLogPath(path)) {
        return std::string(path);
    }
    std::string resolved(homeDir);
    if (!resolved.empty() && resolved.back() != '\\') {
        resolved += '\\';
    }
    return resolved.append(path);
}

}  // namespace Logging
