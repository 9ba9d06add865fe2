// Raises assertions as its argument says, for the tests of assertion reporting, and prints
// "returned <n>" after each.

#include <cstdio>
#include <cstring>
#include <string>

#include "core/common/assert.h"

namespace AssertChild {

__attribute__((noinline)) void Report(const char* expression, int line) {
    std::printf("returned %d\n", Common::ReportAssertion(expression, "src/unit", line));
    std::fflush(stdout);
}

__attribute__((noinline)) void ChildRaisesAssertion() {
    Report("stack", 30);
    std::fflush(stdout);  // keeps this frame from being a tail call
}

}  // namespace AssertChild

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "report") {
        AssertChild::Report("x > 0", 12);
    } else if (command == "twice") {
        AssertChild::Report("first", 1);
        AssertChild::Report("second", 2);
    } else if (command == "stack") {
        AssertChild::ChildRaisesAssertion();
    } else if (command == "long") {
        AssertChild::Report(std::string(600, 'e').c_str(), 3);
    } else {
        return 2;
    }
    return 0;
}
