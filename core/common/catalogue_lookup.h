#pragma once

// Where the catalogue comes from: how the user's interface languages become the ordered list
// of catalogue locales, which archive entries a locale list tries, and where the archive file
// lies. Pure logic: the platform calls that feed it live in message_catalogue.cpp.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Common {

// Splits a multi-string of hexadecimal language identifiers (as the preferred-languages
// call returns them) into numbers, in order. Strings that are not a hexadecimal number of
// at most 16 bits are skipped; `count` bounds the scan in UTF-16 units.
std::vector<uint16_t> ParseLanguageIdList(const wchar_t* units, size_t count);

// The catalogue locale of one language name: zh_HK gives zh_TW, de_DE gives de, a name of
// fewer than 2 characters gives "".
std::string NormaliseLocaleName(const std::string& name);

// The final list from the names of the preferred languages, in order: normalised, each
// followed by its fallback (zh_TW → zh, es → es_ES, pt_BR → pt), without repeats; just
// "en" when no name gives a locale.
std::vector<std::string> BuildLocaleList(const std::vector<std::string>& names);

// The archive entries to try for `name`, in order: "<locale>/<name>" for each locale and the
// plain name for "en", then the plain name, each entry once.
std::vector<std::string> LocalisedEntryNames(const std::vector<std::string>& locales, const std::string& name);

// The side file that may carry the archive instead of the executable: the executable's path
// with its extension (what follows the last "." after the last "/") replaced by ".dat", or
// ".dat" appended when there is none.
std::wstring SideArchivePath(const std::wstring& executablePath);

}  // namespace Common
