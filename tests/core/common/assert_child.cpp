// Raises assertions as its arguments say, for the tests of assertion reporting; after each
// assertion it prints "returned <n>" on standard output.
//   assert_child report <expression> <file> <line>   one assertion
//   assert_child twice                               two assertions
//   assert_child stack                               one assertion from a function of its own
//   assert_child long                                one assertion whose report line is too long

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/common/assert.h"

namespace AssertChild {

__attribute__((noinline)) void Report(const char* expression, const char* file, int line) {
    const int result = Common::ReportAssertion(expression, file, line);
    std::printf("returned %d\n", result);
    std::fflush(stdout);
}

__attribute__((noinline)) void ChildRaisesAssertion() {
    Report("stack != nullptr", "tests/core/common/assert_child", 30);
    // Keeps this frame from being a tail call.
    std::fflush(stdout);
}

}  // namespace AssertChild

int main(int argc, char** argv) {
    const char* command = argc > 1 ? argv[1] : "";
    if (std::strcmp(command, "report") == 0 && argc == 5) {
        AssertChild::Report(argv[2], argv[3], std::atoi(argv[4]));
    } else if (std::strcmp(command, "twice") == 0) {
        AssertChild::Report("first", "tests/core/common/assert_child", 1);
        AssertChild::Report("second", "tests/core/common/assert_child", 2);
    } else if (std::strcmp(command, "stack") == 0) {
        AssertChild::ChildRaisesAssertion();
    } else if (std::strcmp(command, "long") == 0) {
        const std::string expression(600, 'e');
        AssertChild::Report(expression.c_str(), "tests/core/common/assert_child", 3);
    } else {
        std::fprintf(stderr, "usage: assert_child report|twice|stack|long\n");
        return 2;
    }
    return 0;
}
