#pragma once

// Error records are allocated with the nothrow form of the global operator new; this test
// program replaces that form so that a test can make allocations fail.

namespace TestSupport {

class FailingNothrowAllocations {
public:
    // The first `successes` nothrow allocations from now on succeed, every later one fails.
    explicit FailingNothrowAllocations(int successes);
    ~FailingNothrowAllocations();
    FailingNothrowAllocations(const FailingNothrowAllocations&) = delete;
    FailingNothrowAllocations& operator=(const FailingNothrowAllocations&) = delete;

    // Nothrow allocations refused so far.
    int refused() const;
};

}  // namespace TestSupport
