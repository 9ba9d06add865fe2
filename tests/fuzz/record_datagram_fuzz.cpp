// Record datagrams and the scan of a received buffer: a decoded record re-encodes to a
// datagram that decodes to the same fields, and every scanned view lies inside the buffer.

#include <vector>

#include "fuzz_support.h"
#include "logging/static/gate_datagrams.h"

using namespace Logging::Gate;

namespace {

bool Inside(std::string_view view, const uint8_t* data, size_t size) {
    const auto* begin = reinterpret_cast<const uint8_t*>(view.data());
    return view.empty() || (begin >= data && begin + view.size() <= data + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact copy, so that a read past the received bytes is a heap overflow.
    std::vector<uint8_t> buffer(data, data + size);
    const uint8_t* bytes = buffer.data();

    RecordFields fields;
    size_t length = 0;
    if (DecodeRecord(bytes, size, fields, length)) {
        FUZZ_CHECK(length >= kRecordHeaderSize && length <= size);
        FUZZ_CHECK(Inside(fields.text, bytes, length) && Inside(fields.channel, bytes, length));
        FUZZ_CHECK(fields.timestamp.size() <= kTimestampFieldSize);
        std::vector<uint8_t> encoded(kMaxDatagramSize);
        const size_t encodedLength = EncodeRecord(fields, encoded.data());
        FUZZ_CHECK(encodedLength <= kMaxDatagramSize);
        encoded.resize(encodedLength);
        RecordFields again;
        size_t againLength = 0;
        FUZZ_CHECK(DecodeRecord(encoded.data(), encoded.size(), again, againLength));
        FUZZ_CHECK(againLength == encodedLength);
        FUZZ_CHECK(again.serial == fields.serial && again.level == fields.level && again.codeHigh == fields.codeHigh &&
                   again.codeLow == fields.codeLow && again.threadId == fields.threadId);
        FUZZ_CHECK(again.timestamp == fields.timestamp.substr(0, kTimestampFieldSize - 1));
        FUZZ_CHECK(again.channel == fields.channel);
        // The text is cut only where text and name together would not fit one datagram.
        if (fields.text.size() + fields.channel.size() + 2 <= kMaxTextAndName + 1) {
            FUZZ_CHECK(again.text == fields.text);
        } else {
            FUZZ_CHECK(fields.text.substr(0, again.text.size()) == again.text);
        }
        const std::string line = TailLine(fields);
        FUZZ_CHECK(!line.empty() && line.back() == '\n');
    }

    for (const ScannedItem& item : ScanBuffer(bytes, size)) {
        if (item.kind == ScannedItem::Record) {
            FUZZ_CHECK(Inside(item.record.text, bytes, size) && Inside(item.record.channel, bytes, size));
            FUZZ_CHECK(Inside(item.record.timestamp, bytes, size));
        }
    }
    return 0;
}
