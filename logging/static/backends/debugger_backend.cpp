#include "logging/static/backends/debugger_backend.h"

#include "logging/common/platform.h"

namespace Logging {

void DebuggerBackend::Write(TraceRecord& record) {
    std::string_view pieces[5];
    const size_t count = record.FullLinePieces(EffectiveFlags(), Prefix(), PrefixExpanded(), pieces);
    for (size_t i = 0; i < count; ++i) {
        // Every piece the record hands out ends in a NUL.
        Platform::DebugOutput(pieces[i].data());
    }
}

}  // namespace Logging
