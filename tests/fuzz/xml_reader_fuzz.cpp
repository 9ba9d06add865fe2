// The XML reader: a parse either succeeds with a tree inside the reader's limits or fails
// with a position inside the document; every lookup on the tree works.

#include <algorithm>
#include <string>

#include "core/xml/xml_reader.h"
#include "fuzz_support.h"

namespace {

void Walk(const Xml::Element& element, size_t depth) {
    FUZZ_CHECK(depth <= Xml::kMaxDepth);
    FUZZ_CHECK(!element.Name().empty() && element.Name().size() <= 2 * Xml::kMaxNameLength);
    FUZZ_CHECK(element.Attributes().size() <= Xml::kMaxAttributes);
    FUZZ_CHECK(element.Line() >= 1 && element.Column() >= 1);
    for (const Xml::Attribute& attribute : element.Attributes()) {
        const std::wstring* found = element.FindAttribute(attribute.name);
        FUZZ_CHECK(found != nullptr && *found == attribute.value);
        element.AttributeInt32(attribute.name);
        element.AttributeUInt32(attribute.name);
        element.AttributeUtf8(Xml::ToUtf8(attribute.name));
    }
    element.TrimmedTextUtf8();
    FUZZ_CHECK(element.TrimmedText().size() <= element.Text().size());
    Xml::ToInt32(element.Text());
    Xml::ToUInt32(element.Text());
    for (const Xml::Element& child : element.Children()) {
        const Xml::Element* first = element.FindChild(child.Name());
        FUZZ_CHECK(first != nullptr && first->Name() == child.Name());
        FUZZ_CHECK(element.Find(Xml::ToUtf8(child.Name())) != nullptr);
        Walk(child, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Xml::Document document;
    Xml::Error error;
    if (Xml::Parse(bytes, document, error)) {
        Walk(document.Root(), 1);
        document.Find(Xml::ToUtf8(document.Root().Name()) + "/a/b");
    } else {
        FUZZ_CHECK(!error.message.empty());
        const int lines = 1 + static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n') +
                                               std::count(bytes.begin(), bytes.end(), '\r'));
        FUZZ_CHECK(error.line >= 1 && error.line <= lines);
        FUZZ_CHECK(error.column >= 1 && static_cast<size_t>(error.column) <= 8 * (size + 1));
        FUZZ_CHECK(document.Root().Name().empty() && document.Root().Children().empty());
    }
    // Keys made from raw bytes, valid UTF-8 or not.
    document.Find(Xml::Key(std::string_view(bytes).substr(0, 64)));
    return 0;
}
