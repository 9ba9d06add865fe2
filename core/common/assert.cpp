#include "core/common/assert.h"

#include <cstdio>

namespace Common {

int ReportAssertion(const char* expression, const char* file, int line) {
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, file, line);
    return 1;
}

}  // namespace Common
