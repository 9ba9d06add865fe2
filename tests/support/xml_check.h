#pragma once

#include <objbase.h>
#include <oleauto.h>
// clang-format off
#include <msxml2.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <string>

#include "core/common/handles.h"

namespace TestSupport {

// Why MSXML 6 rejects `document`, read as the bytes a file would hold (so that the parser itself
// decodes them by the declared encoding): its error code, line, column and reason; empty when
// the document is well-formed.
inline std::string XmlParseError(const std::string& document) {
    const Common::ComInitScope com(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    CLSID clsid;
    Common::ComPtr<IXMLDOMDocument> parser;
    if (FAILED(::CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &clsid)) ||
        FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, parser.put_void())) ||
        FAILED(parser->put_async(VARIANT_FALSE))) {
        return "no MSXML 6";
    }
    Common::UniqueVariant bytes;
    V_VT(bytes.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(bytes.get()) = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(document.size()));
    std::memcpy(V_ARRAY(bytes.get())->pvData, document.data(), document.size());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (SUCCEEDED(parser->load(*bytes.get(), &loaded)) && loaded == VARIANT_TRUE) {
        return "";
    }
    Common::ComPtr<IXMLDOMParseError> error;
    long code = 0, line = 0, column = 0;
    Common::UniqueBstr reason;
    if (SUCCEEDED(parser->get_parseError(error.put()))) {
        error->get_errorCode(&code);
        error->get_line(&line);
        error->get_linepos(&column);
        error->get_reason(reason.put());
    }
    char where[64];
    std::snprintf(where, sizeof where, "0x%08lX at %ld:%ld: ", static_cast<unsigned long>(code), line, column);
    std::string text = where;
    for (const wchar_t* unit = reason.get(); unit != nullptr && *unit != 0; ++unit) {
        text.push_back(*unit < 0x80 ? static_cast<char>(*unit) : '?');
    }
    return text;
}

}  // namespace TestSupport
