#pragma once

#include "logging/static/backend.h"

namespace Logging {

// Writes to standard output (levels below WARNING, or every level with OF_NOSTDERR) or
// standard error, in the level's colour on a console. Colour sequences in the text become
// console attributes on a console and stay as text when the stream is redirected.
class ConsoleBackend final : public BaseBackend<ConsoleConfig, kKeepColourSequences | kSerialisedWrites> {
public:
    void Write(TraceRecord& record) override;
};

}  // namespace Logging
