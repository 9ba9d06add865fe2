#include "logging/static/backends/custom_backend.h"

#include <memory>
#include <string>

#include "core/common/assert.h"

namespace Logging {

int32_t CustomBackend::Open(const char*) {
    return config_.TracerIf ? LOGGING_RC_NOERROR : LOGGING_RC_INVALID_PARAM;
}

void CustomBackend::Write(TraceRecord& record) {
    TracerIf* tracer = config_.TracerIf.Get();
    if (tracer == nullptr) {
        Common::ReportAssertion("Config.TracerIf", "logging/static/custom_backend", 19);
        return;
    }
    const char* channel = record.ChannelBase();
    switch (record.Kind()) {
        case RecordKind::Error: tracer->TraceError(tracer, channel, record.Level(), record.ErrorObject()); return;
        case RecordKind::Data:
            tracer->TraceData(tracer, channel, record.Level(), record.CodeHigh(), record.CodeLow(), record.Text(),
                              record.Data(), record.DataSize());
            return;
        case RecordKind::Text:
            tracer->Trace(tracer, channel, record.Level(), record.CodeHigh(), record.CodeLow(), record.Text());
            return;
        default: break;
    }
    const uint32_t flags = EffectiveFlags() | OF_NOLF;
    std::wstring wideLine;
    if (record.BuildWideLine(flags, Prefix(), PrefixExpanded(), wideLine)) {
        tracer->Trace(tracer, channel, record.Level(), record.CodeHigh(), record.CodeLow(), wideLine.c_str());
        return;
    }
    const std::string_view line = record.BuildLine(flags, Prefix(), PrefixExpanded());
    // Each byte becomes one unit of the same value: the tracer sees the line's bytes unchanged.
    wchar_t local[1024];
    std::unique_ptr<wchar_t[]> heap;
    wchar_t* wide = local;
    if (line.size() >= sizeof local / sizeof local[0]) {
        heap.reset(new wchar_t[line.size() + 1]);
        wide = heap.get();
    }
    for (size_t i = 0; i < line.size(); ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(line[i]));
    }
    wide[line.size()] = L'\0';
    tracer->Trace(tracer, channel, record.Level(), record.CodeHigh(), record.CodeLow(), wide);
}

}  // namespace Logging
