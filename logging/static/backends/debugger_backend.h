#pragma once

#include "logging/static/backend.h"

namespace Logging {

// Writes to the debugger output, one call per piece of the line.
class DebuggerBackend final : public BaseBackend<DebuggerConfig, 0> {
public:
    void Write(TraceRecord& record) override;
};

}  // namespace Logging
