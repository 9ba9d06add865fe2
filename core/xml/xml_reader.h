#pragma once

// A strict reader of XML 1.0 documents held in UTF-8, with or without a byte-order mark. The
// whole document is checked and turned into a tree of elements, or the first syntax error is
// reported with its line and column. Comments, processing instructions and the DOCTYPE (its
// internal subset included) are skipped; the subset is not interpreted, so the only entities
// are the five predefined ones. Names, attribute values and text are delivered as UTF-16.
// Pure logic: no Windows header, and the file reader uses only the C runtime.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Xml {

// Each limit is a syntax error when exceeded, reported as described.
constexpr size_t kMaxDocumentBytes = 4 * 1024 * 1024;  // at line 1, column 1
constexpr size_t kMaxDepth = 256;                      // the root is level 1; at the deeper start tag's "<"
constexpr size_t kMaxAttributes = 64;                  // per element; at the name of the 65th attribute
// Sizes in characters (code points), each reported at the first character beyond the limit.
constexpr size_t kMaxNameLength = 256;
constexpr size_t kMaxAttributeValueLength = 64 * 1024;  // after references are replaced
// All character data directly inside one element, CDATA included, counted before
// whitespace-only runs are dropped.
constexpr size_t kMaxTextLength = 1024 * 1024;

struct Error {
    // 1-based; columns count characters, a tab moving to the next of columns 1, 9, 17, ...
    // Both are 0 when the failure is not in the text: the file could not be read, or memory
    // ran out.
    int line = 0;
    int column = 0;
    std::string message;  // short English text for developers

    // "line 3, column 7: message"
    std::string Describe() const;
};

// A name or "/"-separated path to look up, given in UTF-16 or in UTF-8. UTF-8 that is not
// valid matches nothing.
class Key {
public:
    Key(const wchar_t* text) : text_(text) {}
    Key(std::wstring_view text) : text_(text) {}
    Key(const std::wstring& text) : text_(text) {}
    Key(const char* utf8) : Key(std::string_view(utf8)) {}
    Key(const std::string& utf8) : Key(std::string_view(utf8)) {}
    Key(std::string_view utf8);

    const std::wstring& Text() const { return text_; }
    bool Valid() const { return valid_; }

private:
    std::wstring text_;
    bool valid_ = true;
};

struct Attribute {
    std::wstring name;
    // Tab and line ends written literally became spaces; characters written as references
    // are kept as they are (&#10; stays a line feed).
    std::wstring value;
};

class Element {
public:
    const std::wstring& Name() const { return name_; }
    // Where the start tag's "<" is, for messages about the content.
    int Line() const { return line_; }
    int Column() const { return column_; }

    // In document order; names are unique within an element.
    const std::vector<Attribute>& Attributes() const { return attributes_; }
    // By exact, case-sensitive name: null when absent, which an empty value is not.
    const std::wstring* FindAttribute(const Key& name) const;
    std::optional<std::string> AttributeUtf8(const Key& name) const;
    // The value read as ToInt32 or ToUInt32 below; nullopt when absent or not such a number.
    std::optional<int32_t> AttributeInt32(const Key& name) const;
    std::optional<uint32_t> AttributeUInt32(const Key& name) const;

    // Child elements in document order.
    const std::vector<Element>& Children() const { return children_; }
    // The first child of that name, or null.
    const Element* FindChild(const Key& name) const;
    std::vector<const Element*> FindChildren(const Key& name) const;
    // Follows "/"-separated child names from this element ("logging/channel"), taking the
    // first match at each level; null when a step is missing or the path has an empty step.
    const Element* Find(const Key& path) const;

    // The concatenation of the character data directly inside this element (not inside its
    // children), references replaced and CDATA sections kept verbatim. The data between two
    // pieces of markup (tags, comments, processing instructions, CDATA sections) is one run.
    // Under xml:space="default", the default, a run made only of literally written spaces,
    // tabs and line ends is dropped: in <a>\n  <b/>\n  x\n</a> the text of a is "\n  x\n".
    // Under xml:space="preserve", inherited by descendants until one says "default", every
    // run is kept: there the same text is "\n  \n  x\n". A run holding a reference, and a
    // CDATA section, is never dropped.
    const std::wstring& Text() const { return text_; }
    // Without leading and trailing spaces, tabs and line ends.
    std::wstring TrimmedText() const;
    std::string TextUtf8() const;
    std::string TrimmedTextUtf8() const;

private:
    friend class Parser;

    std::wstring name_;
    int line_ = 0;
    int column_ = 0;
    std::vector<Attribute> attributes_;
    std::vector<Element> children_;
    std::wstring text_;
};

class Document {
public:
    // Unnamed and empty in a document that has not been parsed, or whose parse failed.
    const Element& Root() const { return root_; }
    // A path from the root, whose first step must be the root's own name:
    // Find("config/logging") is the first <logging> child of a root named config.
    const Element* Find(const Key& path) const;

private:
    friend class Parser;

    Element root_;
};

// Parses a whole document. On success fills `document`; otherwise empties it and fills
// `error`. Data beginning with "BXML", a binary encoding, is refused at line 1, column 1.
bool Parse(std::string_view bytes, Document& document, Error& error);
// Reads the file with the C runtime and parses it; a path in UTF-16 or in UTF-8.
bool ParseFile(const std::wstring& path, Document& document, Error& error);
bool ParseFile(const std::string& utf8Path, Document& document, Error& error);

// Numbers as attribute values and texts write them: decimal with an optional sign, or
// hexadecimal with a "0x"/"0X" prefix or an "h"/"H" suffix ("0x1F", "1Fh", no sign). The
// whole text must be the number, without blanks; values outside the type's range fail.
std::optional<int32_t> ToInt32(std::wstring_view text);
std::optional<uint32_t> ToUInt32(std::wstring_view text);

// Text from a document never holds a NUL; the conversion would stop at one.
std::string ToUtf8(std::wstring_view text);

}  // namespace Xml
