#include "logging/static/backends/null_backend.h"

namespace Logging {

int32_t NullBackend::Open(const char*) {
    // Nothing is rendered here, so no flag means anything.
    config_.Flags = 0;
    return LOGGING_RC_NOERROR;
}

}  // namespace Logging
