#include "core/xml/xml_reader.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/temp_dir.h"

namespace {

using namespace std::string_literals;

// The tree as one line: name[attributes]'text'(children), empty parts left out.
std::wstring Dump(const Xml::Element& e) {
    std::wstring out = e.Name();
    for (size_t i = 0; i < e.Attributes().size(); ++i) {
        out += (i == 0 ? L"[" : L" ") + e.Attributes()[i].name + L"=" + e.Attributes()[i].value;
    }
    out += e.Attributes().empty() ? L"" : L"]";
    out += e.Text().empty() ? L"" : L"'" + e.Text() + L"'";
    for (size_t i = 0; i < e.Children().size(); ++i) {
        out += (i == 0 ? L"(" : L" ") + Dump(e.Children()[i]) + (i + 1 == e.Children().size() ? L")" : L"");
    }
    return out;
}

// The dump of the parsed tree, or "line:column" of the error.
std::wstring Outcome(const std::string& bytes) {
    Xml::Document document;
    Xml::Error error;
    if (Xml::Parse(bytes, document, error)) {
        EXPECT_EQ(error.line, 0);
        return Dump(document.Root());
    }
    return std::to_wstring(error.line) + L":" + std::to_wstring(error.column);
}

TEST(XmlReader, WellFormedDocumentsGiveTheirTree) {
    const struct {
        std::string xml;
        std::wstring tree;
    } cases[] = {
        {"<a/>", L"a"},
        {"\xEF\xBB\xBF<a>x</a>", L"a'x'"},
        {"<?xml version=\"1.0\" encoding=\"utf-8\" standalone='yes'?>\n<a/>", L"a"},
        {"<?xml version='1.1' ?><?xml-stylesheet href='s'?><a/>", L"a"},
        {"<?pi data?><!-- c --><a><?x?>t<!---c-->u<?y  ?></a><!--e--> <?pi?>\n", L"a'tu'"},
        {"<!DOCTYPE a PUBLIC \"-//x//y\" 'a>.dtd' ><a/>", L"a"},
        {"<!DOCTYPE a SYSTEM \"a].dtd\" [\n<!ENTITY e \"x]>y\"><!-- ] > '--><?p ]>\"?>\n<!ATTLIST a b CDATA 'q>'>"
         "%pe;]\n>\n<!--after--><a/>",
         L"a"},
        {"<a><![CDATA[<b>&amp;]]]]><![CDATA[>]]>\r\n<![CDATA[\r\n]]></a>", L"a'<b>&amp;]]>\n'"},
        {"<a x=\"&lt;&gt;&amp;&apos;&quot;\">&lt;&gt;&amp;&apos;&quot;</a>", L"a[x=<>&'\"]'<>&'\"'"},
        {"<a>&#65;&#x42;&#x10FFFF;&#x1F600;&#0000067;&#xe9;&#9;</a>",
         L"a'AB\xDBFF\xDFFF\xD83D\xDE00"
         L"C\xE9\t'"},
        {"<a x=\"1\t2\n3\r\n4\r5\" y='&#9;&#10;&#13;&#32;' z=\"\" q=\"'\" r='\"'/>",
         L"a[x=1 2 3 4 5 y=\t\n\r  z= q=' r=\"]"},
        {"<a>1\r\n2\r3\n\r\n</a>", L"a'1\n2\n3\n\n'"},
        {"<a> <b> </b><c xml:space=\"preserve\"> <d>\t<e xml:space='default'> </e></d></c>x </a>",
         L"a'x '(b c[xml:space=preserve]' '(d'\t'(e[xml:space=default])))"},
        {"<a> &#32; <b/> <![CDATA[ ]]>\n<!--c-->\n</a>", L"a'    '(b)"},
        {"<a>\n  <b/>\n  x\n</a>", L"a'\n  x\n'(b)"},
        {"<_:a-b.c\xC3\xA9\xC2\xB7 \xF0\x90\x80\x80=''/>", L"_:a-b.c\xE9\xB7[\xD800\xDC00=]"},
        {"<a  x = \"1\"\n\ty='2' ></a >", L"a[x=1 y=2]"},
        {"<a>a]b]]c>'\"</a>", L"a'a]b]]c>'\"'"},
        {"<r><a><b><c/></b></a><a/></r>", L"r(a(b(c)) a)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Outcome(c.xml), c.tree) << c.xml;
    }
}

TEST(XmlReader, SyntaxErrorsArePinnedToTheirLineAndColumn) {
    const struct {
        std::string xml;
        const wchar_t* at;
        // clang-format off
    } cases[] = {
        // Structure.
        {"", L"1:1"}, {"  \n ", L"2:2"}, {"<a>", L"1:4"}, {"<a></b>", L"1:6"}, {"<a><b></a></b>", L"1:9"},
        {"<a/><b/>", L"1:5"}, {"<a/>x", L"1:5"}, {"x<a/>", L"1:1"}, {"<a><b/></a></a>", L"1:12"},
        {"</a>", L"1:2"}, {"<1a/>", L"1:2"}, {"<a", L"1:3"}, {"<a></a x>", L"1:8"}, {"<a/>&amp;", L"1:5"},
        // Attributes.
        {"<a x=\"1\" x=\"2\"/>", L"1:10"}, {"<a x=\"<\"/>", L"1:7"}, {"<a x=1/>", L"1:6"},
        {"<a x=\"1\"y=\"2\"/>", L"1:9"}, {"<a b/>", L"1:5"}, {"<a x='1' / >", L"1:10"}, {"<a x='1", L"1:8"},
        {"<a xml:space='keep'/>", L"1:14"}, {"<a x='&unknown;'/>", L"1:7"},
        // References and text.
        {"<a>&foo;</a>", L"1:4"}, {"<a>&#0;</a>", L"1:4"}, {"<a>&#xD800;</a>", L"1:4"},
        {"<a>&#x110000;</a>", L"1:4"}, {"<a>&#1;</a>", L"1:4"}, {"<a>&#xFFFE;</a>", L"1:4"},
        {"<a>&#X41;</a>", L"1:4"}, {"<a>&#;</a>", L"1:4"}, {"<a>&#65</a>", L"1:4"}, {"<a>&amp</a>", L"1:4"},
        {"<a>& </a>", L"1:4"}, {"<a>&#1a;</a>", L"1:4"}, {"<a>&#99999999999999999999999;</a>", L"1:4"},
        {"<a>x]]></a>", L"1:5"}, {"<a><![CDATA[x</a>", L"1:18"},
        // Comments, processing instructions, DOCTYPE.
        {"<!-- a -- b --><a/>", L"1:8"}, {"<a><!-- x ---></a>", L"1:11"}, {"<!-- x", L"1:7"},
        {"<?\?><a/>", L"1:3"}, {"<?pi/x?><a/>", L"1:5"}, {"<a><?xml version='1.0'?></a>", L"1:6"},
        {"<a/><?pi x", L"1:11"}, {"<!DOCTYPE a [<!ENTITY e 'x'>]><a>&e;</a>", L"1:34"},
        {"<!DOCTYPE a><!DOCTYPE a><a/>", L"1:13"}, {"<!DOCTYPE a [ <!-- ] -->", L"1:25"},
        {"<a/><!DOCTYPE a>", L"1:5"}, {"<a><!DOCTYPE a></a>", L"1:4"}, {"<!DOCTYPEa><a/>", L"1:10"},
        {"<!DOCTYPE a [ ] x><a/>", L"1:17"}, {"<![CDATA[x]]><a/>", L"1:2"},
        {"<!DOCTYPE a [<!ENTITY e '>]>'", L"1:30"},
        // The XML declaration.
        {" <?xml version='1.0'?><a/>", L"1:4"}, {"<?xml version='2.0'?><a/>", L"1:15"}, {"<?xml?><a/>", L"1:6"},
        {"<?xml version='1.0' encoding='latin1'?><a/>", L"1:30"}, {"<?XML version='1.0'?><a/>", L"1:3"},
        {"<?xml version='1.0' standalone='maybe'?><a/>", L"1:32"}, {"<a/><?xml version='1.0'?>", L"1:7"},
        {"<?xml version='1.0' encoding='UTF-8' version='1.0'?>", L"1:38"}, {"<?xml version=1.0?>", L"1:15"},
        // Positions: a tab moves to the next of columns 1, 9, 17; characters count, not bytes; CR LF,
        // lone CR and LF each end one line.
        {"<a>\n\t\t&x;</a>", L"2:17"}, {"<a>\n \t&x;</a>", L"2:9"}, {"<a>\n1234567\t&x;", L"2:9"},
        {"<a>\n12345678\t&x;", L"2:17"}, {"<a>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80&x;</a>", L"1:7"},
        {"<a>\r\n\r\n&x;</a>", L"3:1"}, {"<a>\r\r&x;</a>", L"3:1"}, {"<a>\n\r\n\r&x;</a>", L"4:1"},
        {"<a x='\r\n'\r\ny='\n'\ry='1'/>", L"5:1"}, {"\xEF\xBB\xBF&", L"1:1"},
        // Bytes that are not UTF-8, or characters XML does not allow.
        {"<a>\xC0\x80</a>", L"1:4"}, {"<a>\xE0\x81\x81</a>", L"1:4"}, {"<a>\xF0\x80\x81\x81</a>", L"1:4"},
        {"<a>\xED\xA0\x80</a>", L"1:4"}, {"<a>\xF4\x90\x80\x80</a>", L"1:4"}, {"<a>\xE2\x82</a>", L"1:4"},
        {"<a>\x80</a>", L"1:4"}, {"<a>x\xE2\x82", L"1:5"}, {"<a>\xF8\x88\x80\x80\x80</a>", L"1:4"},
        {"<!-- \xC1\xBF --><a/>", L"1:6"}, {"<a\xC3>", L"1:3"}, {"<a x='\xFF'/>", L"1:7"},
        {"<a>\x01</a>", L"1:4"}, {"<a>\0</a>"s, L"1:4"}, {"<a>\xEF\xBF\xBE</a>", L"1:4"},
        {"\xFF\xFE<\0a\0/\0>\0"s, L"1:1"}, {"BXML<a/>", L"1:1"},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(Outcome(c.xml), c.at) << c.xml;
    }
}

TEST(XmlReader, EachLimitPassesAndFailsOneBeyond) {
    using Xml::kMaxAttributeValueLength, Xml::kMaxTextLength, Xml::kMaxNameLength;
    auto repeat = [](const std::string& part, size_t n) {
        std::string out;
        for (size_t i = 0; i < n; ++i) {
            out += part;
        }
        return out;
    };
    auto attributes = [](size_t n) {
        std::string out = "<a";
        for (size_t i = 0; i < n; ++i) {
            out += " a" + std::to_string(i) + "='1'";
        }
        return out + "/>";
    };
    const struct {
        std::function<std::string(size_t)> make;
        size_t limit;
        std::wstring beyond;
    } cases[] = {
        {[&](size_t n) { return repeat("<a>", n) + repeat("</a>", n); }, Xml::kMaxDepth, L"1:769"},
        {[](size_t n) { return "<" + std::string(n, 'n') + "/>"; }, kMaxNameLength, L"1:258"},
        {[](size_t n) { return "<a " + std::string(n, 'n') + "=''/>"; }, kMaxNameLength, L"1:260"},
        {[](size_t n) { return "<?" + std::string(n, 'n') + "?><a/>"; }, kMaxNameLength, L"1:259"},
        {attributes, Xml::kMaxAttributes, L"1:" + std::to_wstring(attributes(64).size())},
        {[](size_t n) { return "<a x='" + std::string(n, 'v') + "'/>"; }, kMaxAttributeValueLength, L"1:65543"},
        {[&](size_t n) { return "<a x='" + repeat("&lt;", n) + "'/>"; }, kMaxAttributeValueLength,
         L"1:" + std::to_wstring(7 + 4 * kMaxAttributeValueLength)},
        {[](size_t n) { return "<a>" + std::string(n, 't') + "</a>"; }, kMaxTextLength, L"1:1048580"},
        {[](size_t n) { return "<a>" + std::string(n - 1, ' ') + "<![CDATA[x]]></a>"; }, kMaxTextLength, L"1:1048589"},
        {[](size_t n) { return "<a><!--" + std::string(n - 14, '.') + "--></a>"; }, Xml::kMaxDocumentBytes, L"1:1"},
    };
    for (const auto& c : cases) {
        const std::wstring atLimit = Outcome(c.make(c.limit));
        EXPECT_EQ(atLimit.find(L':'), std::wstring::npos) << c.limit << " gave " << atLimit.substr(0, 40);
        EXPECT_EQ(Outcome(c.make(c.limit + 1)), c.beyond) << c.limit;
    }
}

TEST(XmlReader, AttributesAsTextAndNumbers) {
    const struct {
        const char* text;
        std::optional<int32_t> int32;
        std::optional<uint32_t> uint32;
        // clang-format off
    } cases[] = {
        {"0", 0, 0u}, {"42", 42, 42u}, {"+42", 42, 42u}, {"-42", -42, {}}, {"-0", 0, 0u}, {"0007", 7, 7u},
        {"2147483647", INT32_MAX, 2147483647u}, {"2147483648", {}, 2147483648u}, {"-2147483648", INT32_MIN, {}},
        {"-2147483649", {}, {}}, {"4294967295", {}, UINT32_MAX}, {"4294967296", {}, {}}, {"0x1F", 31, 31u},
        {"0X1f", 31, 31u}, {"1Fh", 31, 31u}, {"abH", 171, 171u}, {"0x7FFFFFFF", INT32_MAX, 0x7FFFFFFFu},
        {"0xFFFFFFFF", {}, UINT32_MAX}, {"FFFFFFFFh", {}, UINT32_MAX}, {"0x100000000", {}, {}},
        {"0000000000000000000000000001", 1, 1u}, {"-0x1", {}, {}}, {"+1h", {}, {}}, {"", {}, {}},
        {"0x", {}, {}}, {"h", {}, {}}, {"-", {}, {}}, {" 1", {}, {}}, {"1 ", {}, {}}, {"1.0", {}, {}},
        {"12a", {}, {}}, {"0x1G", {}, {}}, {"0x1h", {}, {}}, {"1e3", {}, {}}, {"\xD9\xA3", {}, {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        Xml::Document d;
        Xml::Error e;
        ASSERT_TRUE(Xml::Parse("<a v='"s + c.text + "'/>", d, e)) << c.text;
        EXPECT_EQ(d.Root().AttributeInt32("v"), c.int32) << c.text;
        EXPECT_EQ(d.Root().AttributeUInt32(L"v"), c.uint32) << c.text;
        EXPECT_EQ(d.Root().AttributeUtf8("v"), std::optional<std::string>(c.text));
        EXPECT_EQ(d.Root().AttributeInt32("V"), std::nullopt) << "names are case-sensitive";
    }
    Xml::Document d;
    Xml::Error e;
    ASSERT_TRUE(Xml::Parse("<a empty='' \xC3\xA9='\xE2\x82\xAC &#x1F600;'/>", d, e));
    EXPECT_EQ(*d.Root().FindAttribute("empty"), L"");
    EXPECT_EQ(d.Root().FindAttribute("absent"), nullptr);
    EXPECT_EQ(d.Root().AttributeUtf8("\xC3\xA9"), "\xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(d.Root().AttributeUtf8("\xC3"), std::nullopt) << "invalid UTF-8 matches nothing";
}

TEST(XmlReader, PathsChildrenTextAndPositions) {
    Xml::Document d;
    Xml::Error e;
    ASSERT_TRUE(
        Xml::Parse("<config id='r'>\n\t<logging id='l1'>  <c id='c1'/>\r\n<c id='c2'> \t v\xC3\xA9 \n</c>"
                   "</logging><logging id='l2'/></config>",
                   d, e));
    const std::pair<Xml::Key, const char*> paths[] = {
        {"config", "r"}, {"config/logging", "l1"}, {L"config/logging/c", "c1"}, {"config/logging/x", ""},
        {"logging", ""}, {"Config/logging", ""},   {"config//logging", ""},     {"config/", ""},
        {"", ""},        {"/config", ""},          {"config/logging/c/d", ""},  {"config\xFF", ""},
    };
    for (const auto& [path, id] : paths) {
        const Xml::Element* found = d.Find(path);
        EXPECT_EQ(found != nullptr ? *found->AttributeUtf8("id") : "", id) << Xml::ToUtf8(path.Text());
    }
    const Xml::Element& logging = *d.Find("config/logging");
    EXPECT_EQ(logging.Line(), 2);
    EXPECT_EQ(logging.Column(), 9);
    const std::vector<const Xml::Element*> channels = d.Root().Find("logging")->FindChildren("c");
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(channels[1], &logging.Children()[1]);
    EXPECT_EQ(channels[1]->Line(), 3);
    EXPECT_EQ(channels[1]->Text(), L" \t v\xE9 \n");
    EXPECT_EQ(channels[1]->TrimmedText(), L"v\xE9");
    EXPECT_EQ(channels[1]->TextUtf8(), " \t v\xC3\xA9 \n");
    EXPECT_EQ(channels[1]->TrimmedTextUtf8(), "v\xC3\xA9");
    EXPECT_TRUE(logging.Text().empty()) << "whitespace-only runs are dropped";
    EXPECT_TRUE(d.Root().FindChildren("none").empty());
}

TEST(XmlReader, FilesAreReadWhole) {
    TestSupport::TempDir dir;
    const std::wstring good = dir.path() + L"\xE9t\xE9.config";
    TestSupport::WriteFileBytes(good, "\xEF\xBB\xBF<config>\r\n\t<x/>\r\n</config>\r\n");
    TestSupport::WriteFileBytes(dir.path() + L"b.config", "BXML\x01\x02");
    Xml::Document d;
    Xml::Error e;
    EXPECT_TRUE(Xml::ParseFile(good, d, e)) << e.Describe();
    EXPECT_NE(d.Find("config/x"), nullptr);
    EXPECT_TRUE(Xml::ParseFile(Xml::ToUtf8(good), d, e)) << e.Describe();
    EXPECT_FALSE(Xml::ParseFile(dir.path() + L"b.config", d, e));
    EXPECT_EQ(e.Describe(), "line 1, column 1: binary XML (BXML) is not supported");
    EXPECT_FALSE(Xml::ParseFile(dir.path() + L"missing.config", d, e));
    EXPECT_EQ(e.line + e.column, 0);
    EXPECT_FALSE(e.message.empty());
    EXPECT_TRUE(d.Root().Name().empty());
}

// A document cut short anywhere is an error, not a smaller tree.
TEST(XmlReader, NoProperPrefixIsAccepted) {
    const std::string valid =
        "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?>\r\n<!DOCTYPE r [<!ENTITY e 'v'><!-- c -->]>\n"
        "<r a=\"1\" b='&lt;&#x41;'>\n\t<c xml:space='preserve'> t\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 </c>"
        "<![CDATA[<x>]]><?p d?><!-- k -->&amp;&#65;<d/>\r</r>\n<!-- end -->";
    for (size_t length = 0; length < valid.size() - 13; ++length) {
        EXPECT_NE(Outcome(valid.substr(0, length)).find(L':'), std::wstring::npos) << length;
    }
}

}  // namespace
