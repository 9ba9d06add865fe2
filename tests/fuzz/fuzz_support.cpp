// The assertion report of the product, which on Windows shows a dialog or writes the event
// log: here a failed assertion is a fault the fuzzer has found.

#include <cstdio>
#include <cstdlib>

#include "core/common/assert.h"

namespace Common {

int ReportAssertion(const char* expression, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: assertion failed: %s\n", file, line, expression);
    std::abort();
}

}  // namespace Common
