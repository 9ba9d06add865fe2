#include "core/common/assert.h"
#include "core/common/error.h"
#include "logging/tracer.h"

namespace Logging {

namespace {

constexpr char kStubSource[] = "ext/include/logging/include/tracer";
constexpr char kSignatureCheck[] = "me && me->Signature == TRACER_STUB_SIGNATURE";

// The count is a plain field of the flat layout; every change goes through an atomic view.
int32_t AddToCount(TracerIf* me, int32_t delta) {
    return __atomic_add_fetch(&me->RefCount, delta, __ATOMIC_ACQ_REL);
}

bool Check(TracerIf* me, int line) {
    if (me != nullptr && me->Signature == TRACER_STUB_SIGNATURE) {
        return true;
    }
    Common::ReportAssertion(kSignatureCheck, kStubSource, line);
    return me != nullptr;
}

void StubAddRef(TracerIf* me) {
    if (Check(me, 103)) {
        AddToCount(me, 1);
    }
}

void StubRelease(TracerIf* me) {
    if (!Check(me, 111)) {
        return;
    }
    const int32_t n = AddToCount(me, -1);
    if (n < 0) {
        Common::ReportAssertion("n >= 0", kStubSource, 114);
        return;
    }
    if (n == 0) {
        if (me->OwnsTracer != 0) {
            delete me->TracerObject;
        }
        delete me;
    }
}

void StubTrace(TracerIf* me, const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
               const wchar_t* text) {
    if (Check(me, 125) && me->TracerObject != nullptr) {
        me->TracerObject->Trace(channel, level, codeHigh, codeLow, text);
    }
}

void StubTraceData(TracerIf* me, const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                   const wchar_t* text, const void* data, uint32_t size) {
    if (Check(me, 133) && me->TracerObject != nullptr) {
        me->TracerObject->TraceData(channel, level, codeHigh, codeLow, text, data, size);
    }
}

void StubTraceError(TracerIf* me, const char* channel, int32_t level, const Common::Error* error) {
    if (Check(me, 141) && me->TracerObject != nullptr) {
        if (error != nullptr) {
            me->TracerObject->TraceError(channel, level, *error);
        } else {
            me->TracerObject->TraceError(channel, level, Common::Error());
        }
    }
}

}  // namespace

TracerIf* MakeTracerStub(Tracer* tracer, bool ownsTracer) {
    auto* stub = new TracerIf;
    stub->AddRef = StubAddRef;
    stub->Release = StubRelease;
    stub->Trace = StubTrace;
    stub->TraceData = StubTraceData;
    stub->TraceError = StubTraceError;
    stub->Signature = TRACER_STUB_SIGNATURE;
    stub->RefCount = 1;
    stub->TracerObject = tracer;
    stub->OwnsTracer = ownsTracer ? 1 : 0;
    return stub;
}

}  // namespace Logging
