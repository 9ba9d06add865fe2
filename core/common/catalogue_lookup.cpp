#include "core/common/catalogue_lookup.h"

#include <algorithm>

namespace Common {

namespace {

struct NormalisationRow {
    const char* prefix;
    const char* result;
};

// Checked top to bottom; the first prefix that matches decides.
constexpr NormalisationRow kNormalisation[] = {
    {"zh_TW", "zh_TW"}, {"zh_HK", "zh_TW"}, {"zh_MO", "zh_TW"}, {"zh_Hant", "zh_TW"},
    {"en_UK", "en_GB"}, {"es_MX", "es_MX"}, {"pt_BR", "pt_BR"}, {"en_GB", "en_GB"},
};

struct FallbackRow {
    const char* locale;
    const char* fallback;
};

constexpr FallbackRow kFallbacks[] = {
    {"zh_TW", "zh"},
    {"es", "es_ES"},
    {"pt_BR", "pt"},
};

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

void AppendOnce(std::vector<std::string>& list, const std::string& item) {
    if (std::find(list.begin(), list.end(), item) == list.end()) {
        list.push_back(item);
    }
}

}  // namespace

std::vector<uint16_t> ParseLanguageIdList(const wchar_t* units, size_t count) {
    std::vector<uint16_t> ids;
    if (units == nullptr) {
        return ids;
    }
    size_t at = 0;
    while (at < count && units[at] != L'\0') {
        uint32_t value = 0;
        bool valid = true;
        for (; at < count && units[at] != L'\0'; ++at) {
            const int digit = HexDigit(units[at]);
            if (digit < 0 || value > 0xFFF) {
                valid = false;
            } else {
                value = value * 16 + static_cast<uint32_t>(digit);
            }
        }
        if (valid) {
            ids.push_back(static_cast<uint16_t>(value));
        }
        ++at;  // past the string's NUL
    }
    return ids;
}

std::string NormaliseLocaleName(const std::string& name) {
    if (name.size() < 2) {
        return std::string();
    }
    for (const auto& row : kNormalisation) {
        if (name.compare(0, std::char_traits<char>::length(row.prefix), row.prefix) == 0) {
            return row.result;
        }
    }
    return name.substr(0, 2);
}

std::vector<std::string> BuildLocaleList(const std::vector<std::string>& names) {
    std::vector<std::string> list;
    for (const auto& name : names) {
        const std::string locale = NormaliseLocaleName(name);
        if (locale.empty()) {
            continue;
        }
        AppendOnce(list, locale);
        for (const auto& row : kFallbacks) {
            if (locale == row.locale) {
                AppendOnce(list, row.fallback);
            }
        }
    }
    if (list.empty()) {
        list.push_back("en");
    }
    return list;
}

std::vector<std::string> LocalisedEntryNames(const std::vector<std::string>& locales, const std::string& name) {
    std::vector<std::string> entries;
    for (const auto& locale : locales) {
        AppendOnce(entries, locale == "en" ? name : locale + "/" + name);
    }
    AppendOnce(entries, name);
    return entries;
}

std::wstring SideArchivePath(const std::wstring& executablePath) {
    // Only a forward slash ends a folder name here. A module file name always ends in ".exe",
    // so the backslashes of a Windows path never matter for the program's own side file.
    const size_t slash = executablePath.rfind(L'/');
    const size_t dot = executablePath.rfind(L'.');
    const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    return executablePath.substr(0, hasExtension ? dot : executablePath.size()) + L".dat";
}

}  // namespace Common
