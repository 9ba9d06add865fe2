#pragma once

namespace Common {

// Base of classes whose objects own something that must not be duplicated.
class NonCopyable {
public:
    NonCopyable() = default;
    virtual ~NonCopyable() = default;
    NonCopyable(const NonCopyable&) = delete;
    NonCopyable& operator=(const NonCopyable&) = delete;
};

}  // namespace Common
