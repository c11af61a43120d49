// The language files name the languages they serve by Windows language identifiers
// (LANGIDs such as 0x0409 or 0x0804). Linux has none, so the user's locale is mapped.
#pragma once

#include <QString>

#include <cstdint>

namespace restovo {

// The identifier of a locale name as QLocale or $LANG spell it ("de_DE", "zh-CN",
// "pt_BR.UTF-8", "ca_ES@valencia"); a territory the table does not know falls back to
// the language's main identifier ("de_BE" gives 0x0407). 0 for an unknown language.
std::uint16_t LangIdForLocale(const QString& localeName);

// Four upper-case hexadecimal digits, as the files write them: 0x0804 gives "0804".
QString LangIdText(std::uint16_t langId);

}  // namespace restovo
