#include "core/common/dynamic_caster.h"

namespace Common {

DynamicCasterImpl::~DynamicCasterImpl() {
    interfaces_.clear();
}

void* DynamicCasterImpl::Cast(const char* interfaceName) {
    if (interfaceName == nullptr) {
        return nullptr;
    }
    auto it = interfaces_.find(interfaceName);
    return it == interfaces_.end() ? nullptr : it->second;
}

void DynamicCasterImpl::RegisterInterface(const char* interfaceName, void* pointer) {
    if (interfaceName == nullptr || pointer == nullptr) {
        return;
    }
    interfaces_[interfaceName] = pointer;
}

}  // namespace Common
