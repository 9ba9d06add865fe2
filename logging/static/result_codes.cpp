#include "logging/result_codes.h"

namespace Logging {

std::string ResultCodeText(int32_t code) {
    static const char* const kNames[] = {
        "LOGGING_RC_NOERROR",
        "LOGGING_RC_INTERNAL",
        "LOGGING_RC_INVALID_PARAM",
        "LOGGING_RC_REMOVE_CONSOLIDATED",
        "LOGGING_RC_ENDLESS_LOOP",
        "LOGGING_RC_CHANNEL_IS_ALREADY_EXISTS",
        "LOGGING_RC_CHANNEL_DOES_NOT_EXIST",
        "LOGGING_RC_UNSUPPORTED_BACKEND_TYPE",
        "LOGGING_RC_NO_SUCH_PROPERTY",
        "LOGGING_RC_PROPERTY_TYPE_MISMATCH",
        "LOGGING_RC_NO_ACCESS",
        "LOGGING_RC_READ_ONLY",
    };
    if (code >= 0 && code < static_cast<int32_t>(sizeof kNames / sizeof kNames[0])) {
        return kNames[code];
    }
    return std::to_string(code);
}

}  // namespace Logging
