#pragma once

#include <map>
#include <string>
#include <typeinfo>

namespace Common {

// Lets a host ask an object, by interface name, for one of the interfaces it implements.
class DynamicCaster {
public:
    virtual ~DynamicCaster() = default;
    // Returns the registered interface pointer, or null when the name is unknown or null.
    virtual void* Cast(const char* interfaceName) = 0;
};

class DynamicCasterImpl : public virtual DynamicCaster {
public:
    ~DynamicCasterImpl() override;
    void* Cast(const char* interfaceName) override;

protected:
    // Stores `pointer` under `interfaceName`, replacing an earlier entry; ignores null arguments.
    void RegisterInterface(const char* interfaceName, void* pointer);

private:
    std::map<std::string, void*> interfaces_;
};

// The registry key of interface I: the run-time type name of a pointer to I.
template <typename I>
const char* InterfaceName() {
    return typeid(I*).name();
}

}  // namespace Common
