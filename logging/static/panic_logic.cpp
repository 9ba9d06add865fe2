#include "logging/static/panic_logic.h"

#include "core/common/assert.h"
#include "logging/static/backend.h"

namespace Logging {

namespace {

constexpr char kSource[] = "logging/static/debug_self";

bool Check(PanicLogicIf* me, int line) {
    if (me == nullptr || me->Signature != PANIC_LOGIC_STUB_SIGN) {
        Common::ReportAssertion("me && me->Signature == PANIC_LOGIC_STUB_SIGN", kSource, line);
        return false;
    }
    if (__atomic_load_n(&me->RefCount, __ATOMIC_ACQUIRE) <= 0) {
        Common::ReportAssertion("me->RefCount > 0", kSource, line);
        return false;
    }
    return true;
}

void Write(PanicLogicIf* me, TraceRecord& record) {
    Backend& backend = *me->Target;
    if (backend.IsFiltered(record)) {
        return;
    }
    backend.WriteRecord(record);
}

void PanicAddRef(PanicLogicIf* me) {
    if (Check(me, 40)) {
        __atomic_add_fetch(&me->RefCount, 1, __ATOMIC_ACQ_REL);
    }
}

void PanicRelease(PanicLogicIf* me) {
    if (Check(me, 47) && __atomic_sub_fetch(&me->RefCount, 1, __ATOMIC_ACQ_REL) == 0) {
        delete me;
    }
}

void PanicTraceText(PanicLogicIf* me, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text) {
    if (Check(me, 54) && me->Target) {
        TraceRecord record;
        record.SetText("panic", level, codeHigh, codeLow, text);
        Write(me, record);
    }
}

void PanicTraceError(PanicLogicIf* me, int32_t level, const Common::Error* error) {
    if (Check(me, 63) && me->Target && error != nullptr) {
        TraceRecord record;
        record.SetError("panic", level, *error);
        Write(me, record);
    }
}

void PanicTraceData(PanicLogicIf* me, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                    const void* data, uint32_t size) {
    if (Check(me, 72) && me->Target) {
        TraceRecord record;
        record.SetData("panic", level, codeHigh, codeLow, text, data, size);
        Write(me, record);
    }
}

}  // namespace

PanicLogicIf* MakePanicLogic(std::shared_ptr<Backend> backend) {
    auto* handle = new PanicLogicIf;
    handle->AddRef = PanicAddRef;
    handle->Release = PanicRelease;
    handle->TraceText = PanicTraceText;
    handle->TraceError = PanicTraceError;
    handle->TraceData = PanicTraceData;
    handle->Signature = PANIC_LOGIC_STUB_SIGN;
    handle->RefCount = 1;
    handle->Target = std::move(backend);
    return handle;
}

}  // namespace Logging
