#pragma once

#include <cstdint>

namespace Common {

// The process-wide minimum level of the common trace logic (INFORMATION until changed).
void SetMinimumTraceLevel(int32_t level);
int32_t GetMinimumTraceLevel();

}  // namespace Common
