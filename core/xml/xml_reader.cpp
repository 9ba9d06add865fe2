#include "core/xml/xml_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/common/utf.h"

namespace Xml {

// The tree holds UTF-16 units in std::wstring; a wider wchar_t (the native fuzzing build) holds
// them as well.
static_assert(sizeof(wchar_t) >= 2, "the tree holds UTF-16 in std::wstring");

namespace {

constexpr char32_t kEnd = 0xFFFFFFFF;  // the current character when the input is used up
constexpr int kTabStop = 8;

// Decodes one UTF-8 sequence: its length, or 0 unless it is the shortest form of a code
// point up to U+10FFFF other than a surrogate, complete within `available` bytes.
size_t DecodeUtf8(const unsigned char* bytes, size_t available, char32_t& code) {
    const unsigned lead = bytes[0];
    size_t length = 1;
    char32_t smallest = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, smallest = 0x80, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, smallest = 0x800, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, smallest = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (available < length) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (bytes[i] & 0x3F);
    }
    return code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ? 0 : length;
}

bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// Carriage returns never get here: they are line feeds by the time the parser sees them.
bool IsSpace(char32_t c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool IsNameStart(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ':' || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || c == 0x200C || c == 0x200D || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || c == 0x203F || c == 0x2040;
}

void AppendUtf16(std::wstring& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<wchar_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    }
}

int DigitValue(wchar_t c, unsigned base) {
    int value = base;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < static_cast<int>(base) ? value : -1;
}

// The number ToInt32 and ToUInt32 share, as long as its magnitude fits 32 bits.
std::optional<int64_t> ReadInteger(std::wstring_view text) {
    unsigned base = 10;
    bool negative = false;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16, text.remove_prefix(2);
    } else if (!text.empty() && (text.back() == 'h' || text.back() == 'H')) {
        base = 16, text.remove_suffix(1);
    } else if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-', text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (const wchar_t c : text) {
        const int digit = DigitValue(c, base);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > int64_t{UINT32_MAX}) {
            return std::nullopt;
        }
    }
    return negative ? -value : value;
}

std::wstring_view Trimmed(std::wstring_view text) {
    while (!text.empty() && IsSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

struct Position {
    int line;
    int column;
};

// A syntax error on its way out of the parser.
struct Failure {
    Position at;
    std::string message;
};

}  // namespace

// One pass over the characters with an explicit stack of open elements: depth costs heap,
// never native stack.
class Parser {
public:
    Parser(std::string_view bytes, Document& document)
        : bytes_(reinterpret_cast<const unsigned char*>(bytes.data())), size_(bytes.size()), document_(document) {}

    void Run() {
        if (size_ >= 3 && std::memcmp(bytes_, "\xEF\xBB\xBF", 3) == 0) {
            next_ = 3;
        }
        Decode();
        ReadProlog();
        ReadContent();
        // Only misc may follow the root element.
        for (;;) {
            SkipSpaces();
            if (ch_ == kEnd) {
                return;
            } else if (At("<!--")) {
                SkipComment();
            } else if (At("<?")) {
                SkipProcessingInstruction();
            } else {
                Fail("only comments and processing instructions may follow the root element");
            }
        }
    }

private:
    // The elements whose end tag is still to come, innermost last.
    struct Open {
        Element* element;
        bool preserve;      // under xml:space="preserve"
        size_t textLength;  // characters of character data so far
    };

    Position Here() const { return {line_, column_}; }
    [[noreturn]] void Fail(std::string message) const { throw Failure{Here(), std::move(message)}; }
    [[noreturn]] static void FailAt(Position at, std::string message) { throw Failure{at, std::move(message)}; }

    // Makes the character at at_ current; CR LF and a lone CR are read as one LF.
    void Decode() {
        at_ = next_;
        if (at_ >= size_) {
            ch_ = kEnd;
        } else if (bytes_[at_] == '\r') {
            ch_ = '\n';
            next_ = at_ + (at_ + 1 < size_ && bytes_[at_ + 1] == '\n' ? 2 : 1);
        } else {
            const size_t length = DecodeUtf8(bytes_ + at_, size_ - at_, ch_);
            if (length == 0) {
                Fail("invalid UTF-8");
            }
            if (!IsXmlChar(ch_)) {
                Fail("character not allowed in XML");
            }
            next_ = at_ + length;
        }
    }

    void Advance() {
        if (ch_ == kEnd) {
            return;
        } else if (ch_ == '\n') {
            ++line_, column_ = 1;
        } else if (ch_ == '\t') {
            column_ = (column_ - 1) / kTabStop * kTabStop + kTabStop + 1;
        } else {
            ++column_;
        }
        Decode();
    }

    // Whether the bytes from the current character on are `ascii`; ASCII cannot be part of a
    // longer UTF-8 sequence, so comparing bytes is enough.
    bool At(const char* ascii) const {
        const size_t length = std::strlen(ascii);
        return size_ - at_ >= length && std::memcmp(bytes_ + at_, ascii, length) == 0;
    }

    void Skip(const char* ascii) {
        for (size_t i = std::strlen(ascii); i > 0; --i) {
            Advance();
        }
    }

    void Expect(char32_t c, const char* message) {
        if (ch_ != c) {
            Fail(message);
        }
        Advance();
    }

    bool SkipSpaces() {
        const size_t before = at_;
        while (IsSpace(ch_)) {
            Advance();
        }
        return at_ != before;
    }

    std::wstring ReadName() {
        if (!IsNameStart(ch_)) {
            Fail("expected a name");
        }
        std::wstring name;
        for (size_t length = 1; IsNameChar(ch_); ++length) {
            if (length > kMaxNameLength) {
                Fail("name longer than " + std::to_string(kMaxNameLength) + " characters");
            }
            AppendUtf16(name, ch_);
            Advance();
        }
        return name;
    }

    void SkipComment() {
        Skip("<!--");
        while (!At("-->")) {
            if (At("--")) {
                Fail("-- inside a comment");
            } else if (ch_ == kEnd) {
                Fail("the document ends inside a comment");
            }
            Advance();
        }
        Skip("-->");
    }

    void SkipProcessingInstruction(bool declarationHere = false) {
        Skip("<?");
        const Position targetAt = Here();
        const std::wstring target = ReadName();
        if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l') {
            if (!declarationHere || target != L"xml") {
                FailAt(targetAt, "the XML declaration must be at the very start; the target xml is reserved");
            }
            ReadDeclaration();
            return;
        }
        if (!At("?>") && !SkipSpaces()) {
            Fail("expected a space or ?> after the processing instruction target");
        }
        while (!At("?>")) {
            if (ch_ == kEnd) {
                Fail("the document ends inside a processing instruction");
            }
            Advance();
        }
        Skip("?>");
    }

    // The value of a pseudo-attribute of the XML declaration, which has no references;
    // `valueAt` is where its opening quote is.
    std::string ReadDeclarationValue(const char* name, Position& valueAt) {
        Skip(name);
        SkipSpaces();
        Expect('=', "expected = in the XML declaration");
        SkipSpaces();
        valueAt = Here();
        const char32_t quote = ch_;
        if (quote != '"' && quote != '\'') {
            Fail("expected a quoted value in the XML declaration");
        }
        Advance();
        std::string value;
        while (ch_ != quote) {
            if (ch_ == kEnd || ch_ == '<' || value.size() >= kMaxNameLength) {
                Fail("malformed value in the XML declaration");
            }
            value.push_back(ch_ < 0x80 ? static_cast<char>(ch_) : '?');
            Advance();
        }
        Advance();
        return value;
    }

    // After "<?xml": version, then optionally encoding and standalone, in this order.
    void ReadDeclaration() {
        if (!SkipSpaces() || !At("version")) {
            Fail("expected version in the XML declaration");
        }
        Position versionAt{};
        const std::string version = ReadDeclarationValue("version", versionAt);
        if (version.size() < 3 || version.compare(0, 2, "1.") != 0 ||
            version.find_first_not_of("0123456789", 2) != std::string::npos) {
            FailAt(versionAt, "unsupported XML version");
        }
        bool space = SkipSpaces();
        if (space && At("encoding")) {
            Position encodingAt{};
            std::string encoding = ReadDeclarationValue("encoding", encodingAt);
            for (char& c : encoding) {
                c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            }
            if (encoding != "UTF-8") {
                FailAt(encodingAt, "only UTF-8 documents are supported");
            }
            space = SkipSpaces();
        }
        if (space && At("standalone")) {
            Position standaloneAt{};
            const std::string standalone = ReadDeclarationValue("standalone", standaloneAt);
            if (standalone != "yes" && standalone != "no") {
                FailAt(standaloneAt, "standalone must be yes or no");
            }
            SkipSpaces();
        }
        if (!At("?>")) {
            Fail("expected ?> at the end of the XML declaration");
        }
        Skip("?>");
    }

    void SkipQuoted() {
        const char32_t quote = ch_;
        Advance();
        while (ch_ != quote) {
            if (ch_ == kEnd) {
                Fail("the document ends inside a quoted string");
            }
            Advance();
        }
        Advance();
    }

    // Skipped without being interpreted; quoted strings, comments and processing
    // instructions are stepped over whole, so that a "]" or ">" inside them ends nothing.
    void SkipDoctype() {
        Skip("<!DOCTYPE");
        if (!SkipSpaces()) {
            Fail("expected a space after <!DOCTYPE");
        }
        ReadName();
        for (;;) {
            if (ch_ == '>') {
                Advance();
                return;
            } else if (ch_ == '"' || ch_ == '\'') {
                SkipQuoted();
            } else if (ch_ == '[') {
                Advance();
                SkipInternalSubset();
                SkipSpaces();
                Expect('>', "expected > after the DOCTYPE's internal subset");
                return;
            } else if (ch_ == kEnd) {
                Fail("the document ends inside the DOCTYPE");
            } else {
                Advance();
            }
        }
    }

    void SkipInternalSubset() {
        while (ch_ != ']') {
            if (At("<!--")) {
                SkipComment();
            } else if (At("<?")) {
                SkipProcessingInstruction();
            } else if (ch_ == '<') {
                // A markup declaration, up to the ">" that is not quoted.
                Advance();
                while (ch_ != '>') {
                    if (ch_ == kEnd) {
                        Fail("the document ends inside a markup declaration");
                    }
                    ch_ == '"' || ch_ == '\'' ? SkipQuoted() : Advance();
                }
                Advance();
            } else if (ch_ == '"' || ch_ == '\'') {
                SkipQuoted();
            } else if (ch_ == kEnd) {
                Fail("the document ends inside the DOCTYPE's internal subset");
            } else {
                Advance();
            }
        }
        Advance();
    }

    // Up to the root element's start tag.
    void ReadProlog() {
        if (At("<?xml")) {
            SkipProcessingInstruction(true);
        }
        bool doctypeSeen = false;
        for (;;) {
            SkipSpaces();
            if (At("<!--")) {
                SkipComment();
            } else if (At("<?")) {
                SkipProcessingInstruction();
            } else if (At("<!DOCTYPE")) {
                if (doctypeSeen) {
                    Fail("a second DOCTYPE");
                }
                SkipDoctype();
                doctypeSeen = true;
            } else if (ch_ == '<') {
                return;
            } else if (ch_ == kEnd) {
                Fail("no root element");
            } else {
                Fail("text before the root element");
            }
        }
    }

    // At "&": the character an entity or character reference stands for.
    char32_t ReadReference() {
        const Position start = Here();
        Advance();
        if (ch_ == '#') {
            Advance();
            unsigned base = 10;
            if (ch_ == 'x') {
                base = 16;
                Advance();
            }
            char32_t value = 0;
            bool digits = false;
            for (int digit; ch_ < 0x80 && (digit = DigitValue(static_cast<wchar_t>(ch_), base)) >= 0; Advance()) {
                // Saturates above the largest code point, so that any number of digits is safe.
                value = value > 0x10FFFF ? value : value * base + digit;
                digits = true;
            }
            if (!digits || ch_ != ';') {
                FailAt(start, "malformed character reference");
            }
            Advance();
            if (!IsXmlChar(value)) {
                FailAt(start, "character reference to a character not allowed in XML");
            }
            return value;
        }
        if (!IsNameStart(ch_)) {
            FailAt(start, "& must begin a reference (write &amp;)");
        }
        const std::wstring name = ReadName();
        if (ch_ != ';') {
            FailAt(start, "entity reference without ;");
        }
        Advance();
        static const struct {
            const wchar_t* name;
            char32_t value;
        } kPredefined[] = {{L"lt", '<'}, {L"gt", '>'}, {L"amp", '&'}, {L"apos", '\''}, {L"quot", '"'}};
        for (const auto& entity : kPredefined) {
            if (name == entity.name) {
                return entity.value;
            }
        }
        FailAt(start, "unknown entity &" + ToUtf8(name) + ";");
    }

    std::wstring ReadAttributeValue() {
        const char32_t quote = ch_;
        if (quote != '"' && quote != '\'') {
            Fail("expected a quoted attribute value");
        }
        Advance();
        std::wstring value;
        for (size_t length = 1; ch_ != quote; ++length) {
            if (ch_ == kEnd) {
                Fail("the document ends inside an attribute value");
            } else if (ch_ == '<') {
                Fail("< inside an attribute value");
            } else if (length > kMaxAttributeValueLength) {
                Fail("attribute value longer than " + std::to_string(kMaxAttributeValueLength) + " characters");
            } else if (ch_ == '&') {
                AppendUtf16(value, ReadReference());
            } else {
                AppendUtf16(value, IsSpace(ch_) ? ' ' : ch_);
                Advance();
            }
        }
        Advance();
        return value;
    }

    // At "<" of a start tag: the element is added to the tree, and opened unless it is empty.
    void ReadStartTag(std::vector<Open>& open) {
        const Position start = Here();
        if (open.size() >= kMaxDepth) {
            Fail("elements nested deeper than " + std::to_string(kMaxDepth) + " levels");
        }
        Advance();
        Element* element = &document_.root_;
        if (!open.empty()) {
            element = &open.back().element->children_.emplace_back();
        }
        element->line_ = start.line;
        element->column_ = start.column;
        element->name_ = ReadName();
        bool preserve = !open.empty() && open.back().preserve;
        auto& attributes = element->attributes_;
        for (;;) {
            const bool space = SkipSpaces();
            if (ch_ == '>') {
                Advance();
                open.push_back({element, preserve, 0});
                return;
            } else if (At("/>")) {
                Skip("/>");
                return;
            } else if (ch_ == kEnd) {
                Fail("the document ends inside a start tag");
            } else if (!space) {
                Fail("expected a space, > or /> in the start tag");
            }
            const Position nameAt = Here();
            Attribute attribute{ReadName(), {}};
            if (attributes.size() >= kMaxAttributes) {
                FailAt(nameAt, "more than " + std::to_string(kMaxAttributes) + " attributes");
            }
            for (const Attribute& earlier : attributes) {
                if (earlier.name == attribute.name) {
                    FailAt(nameAt, "duplicate attribute " + ToUtf8(attribute.name));
                }
            }
            SkipSpaces();
            Expect('=', "expected = after the attribute name");
            SkipSpaces();
            const Position valueAt = Here();
            attribute.value = ReadAttributeValue();
            if (attribute.name == L"xml:space") {
                if (attribute.value != L"preserve" && attribute.value != L"default") {
                    FailAt(valueAt, "xml:space must be \"default\" or \"preserve\"");
                }
                preserve = attribute.value == L"preserve";
            }
            attributes.push_back(std::move(attribute));
        }
    }

    void ReadEndTag(std::vector<Open>& open) {
        Skip("</");
        const Position nameAt = Here();
        const std::wstring& expected = open.back().element->name_;
        if (ReadName() != expected) {
            FailAt(nameAt, "end tag does not match <" + ToUtf8(expected) + ">");
        }
        SkipSpaces();
        Expect('>', "expected > at the end of the end tag");
        open.pop_back();
    }

    void CountText(Open& top) {
        if (++top.textLength > kMaxTextLength) {
            Fail("text longer than " + std::to_string(kMaxTextLength) + " characters");
        }
    }

    // From the root's start tag to its end tag.
    void ReadContent() {
        std::vector<Open> open;
        ReadStartTag(open);
        // The run of character data being read: where it began in the text, and whether
        // anything in it is more than literal white space.
        bool inRun = false;
        bool runMatters = false;
        size_t runStart = 0;
        while (!open.empty()) {
            Open& top = open.back();
            std::wstring& text = top.element->text_;
            if (ch_ == '<') {
                if (inRun && !runMatters && !top.preserve) {
                    text.resize(runStart);
                }
                inRun = false;
                if (At("</")) {
                    ReadEndTag(open);
                } else if (At("<!--")) {
                    SkipComment();
                } else if (At("<![CDATA[")) {
                    Skip("<![CDATA[");
                    while (!At("]]>")) {
                        if (ch_ == kEnd) {
                            Fail("the document ends inside a CDATA section");
                        }
                        CountText(top);
                        AppendUtf16(text, ch_);
                        Advance();
                    }
                    Skip("]]>");
                } else if (At("<?")) {
                    SkipProcessingInstruction();
                } else if (At("<!")) {
                    Fail("markup declaration inside an element");
                } else {
                    ReadStartTag(open);
                }
                continue;
            }
            if (ch_ == kEnd) {
                Fail("the document ends inside <" + ToUtf8(top.element->name_) + ">");
            } else if (At("]]>")) {
                Fail("]]> in text");
            }
            CountText(top);
            if (!inRun) {
                inRun = true, runMatters = false, runStart = text.size();
            }
            if (ch_ == '&') {
                AppendUtf16(text, ReadReference());
                runMatters = true;
            } else {
                runMatters = runMatters || !IsSpace(ch_);
                AppendUtf16(text, ch_);
                Advance();
            }
        }
    }

    const unsigned char* bytes_;
    size_t size_;
    Document& document_;
    size_t at_ = 0;    // the current character's first byte
    size_t next_ = 0;  // the byte after it
    char32_t ch_ = kEnd;
    int line_ = 1;
    int column_ = 1;
};

std::string Error::Describe() const {
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
}

Key::Key(std::string_view utf8) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    for (size_t at = 0, length = 0; at < utf8.size(); at += length) {
        char32_t code = 0;
        length = DecodeUtf8(bytes + at, utf8.size() - at, code);
        if (length == 0) {
            text_.clear();
            valid_ = false;
            return;
        }
        AppendUtf16(text_, code);
    }
}

const std::wstring* Element::FindAttribute(const Key& name) const {
    for (const Attribute& attribute : attributes_) {
        if (name.Valid() && attribute.name == name.Text()) {
            return &attribute.value;
        }
    }
    return nullptr;
}

std::optional<std::string> Element::AttributeUtf8(const Key& name) const {
    const std::wstring* value = FindAttribute(name);
    return value != nullptr ? std::optional<std::string>(ToUtf8(*value)) : std::nullopt;
}

std::optional<int32_t> Element::AttributeInt32(const Key& name) const {
    const std::wstring* value = FindAttribute(name);
    return value != nullptr ? ToInt32(*value) : std::nullopt;
}

std::optional<uint32_t> Element::AttributeUInt32(const Key& name) const {
    const std::wstring* value = FindAttribute(name);
    return value != nullptr ? ToUInt32(*value) : std::nullopt;
}

const Element* Element::FindChild(const Key& name) const {
    for (const Element& child : children_) {
        if (name.Valid() && child.name_ == name.Text()) {
            return &child;
        }
    }
    return nullptr;
}

std::vector<const Element*> Element::FindChildren(const Key& name) const {
    std::vector<const Element*> found;
    for (const Element& child : children_) {
        if (name.Valid() && child.name_ == name.Text()) {
            found.push_back(&child);
        }
    }
    return found;
}

const Element* Element::Find(const Key& path) const {
    if (!path.Valid()) {
        return nullptr;
    }
    const std::wstring_view steps = path.Text();
    const Element* element = this;
    for (size_t at = 0; element != nullptr && at <= steps.size();) {
        const size_t slash = std::min(steps.find(L'/', at), steps.size());
        const std::wstring_view step = steps.substr(at, slash - at);
        element = step.empty() ? nullptr : element->FindChild(step);
        at = slash + 1;
    }
    return element;
}

std::wstring Element::TrimmedText() const {
    return std::wstring(Trimmed(text_));
}

std::string Element::TextUtf8() const {
    return ToUtf8(text_);
}

std::string Element::TrimmedTextUtf8() const {
    return ToUtf8(Trimmed(text_));
}

const Element* Document::Find(const Key& path) const {
    if (!path.Valid() || root_.Name().empty()) {
        return nullptr;
    }
    const std::wstring& steps = path.Text();
    const size_t slash = steps.find(L'/');
    if (steps.compare(0, slash, root_.Name()) != 0) {
        return nullptr;
    }
    return slash == std::wstring::npos ? &root_ : root_.Find(std::wstring_view(steps).substr(slash + 1));
}

bool Parse(std::string_view bytes, Document& document, Error& error) {
    document = Document();
    error = Error();
    try {
        if (bytes.size() > kMaxDocumentBytes) {
            throw Failure{{1, 1}, "document larger than " + std::to_string(kMaxDocumentBytes) + " bytes"};
        } else if (bytes.substr(0, 4) == "BXML") {
            throw Failure{{1, 1}, "binary XML (BXML) is not supported"};
        }
        Parser(bytes, document).Run();
        return true;
    } catch (const Failure& failure) {
        error = {failure.at.line, failure.at.column, failure.message};
    } catch (const std::bad_alloc&) {
        error = {0, 0, "out of memory"};
    }
    document = Document();
    return false;
}

std::optional<int32_t> ToInt32(std::wstring_view text) {
    const std::optional<int64_t> value = ReadInteger(text);
    if (!value || *value < INT32_MIN || *value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int32_t>(*value);
}

std::optional<uint32_t> ToUInt32(std::wstring_view text) {
    const std::optional<int64_t> value = ReadInteger(text);
    if (!value || *value < 0) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(*value);
}

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    Common::Utf16ToUtf8(text.data(), text.size(), out);
    return out;
}

}  // namespace Xml
