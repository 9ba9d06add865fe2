#pragma once

// Result codes of every logging-library operation.

#include <cstdint>
#include <string>

namespace Logging {

enum LoggingResult : int32_t {
    LOGGING_RC_NOERROR = 0,
    LOGGING_RC_INTERNAL = 1,
    LOGGING_RC_INVALID_PARAM = 2,
    LOGGING_RC_REMOVE_CONSOLIDATED = 3,
    LOGGING_RC_ENDLESS_LOOP = 4,
    LOGGING_RC_CHANNEL_IS_ALREADY_EXISTS = 5,
    LOGGING_RC_CHANNEL_DOES_NOT_EXIST = 6,
    LOGGING_RC_UNSUPPORTED_BACKEND_TYPE = 7,
    LOGGING_RC_NO_SUCH_PROPERTY = 8,
    LOGGING_RC_PROPERTY_TYPE_MISMATCH = 9,
    LOGGING_RC_NO_ACCESS = 10,
    LOGGING_RC_READ_ONLY = 11,
};

// Not supported by the back-end type, or a malformed flat configuration (no name of its own).
constexpr int32_t kLoggingRcNotSupported = 12;
// A log-scope back-end without a file writer (no name of its own).
constexpr int32_t kLoggingRcNoWriter = 13;

// The code's name ("LOGGING_RC_ENDLESS_LOOP"), or its decimal number when it has none.
std::string ResultCodeText(int32_t code);

}  // namespace Logging
