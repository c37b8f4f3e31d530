#include "script/Locales.h"

#include "core/NamedMembers.h"
#include "platform/CodePage.h"

namespace script {

namespace {

using enum DateOrder;

// Each locale's own conventions; French, Swedish and Russian group digits
// with a no-break space (U+00A0).
constexpr Locale kLocales[] = {
    {1033, "en-US", ".", ",", MonthDayYear, "/", "$"},
    {2057, "en-GB", ".", ",", DayMonthYear, "/", "\xC2\xA3"},
    {1031, "de-DE", ",", ".", DayMonthYear, ".", "\xE2\x82\xAC"},
    {1036, "fr-FR", ",", "\xC2\xA0", DayMonthYear, "/", "\xE2\x82\xAC"},
    {1040, "it-IT", ",", ".", DayMonthYear, "/", "\xE2\x82\xAC"},
    {1034, "es-ES", ",", ".", DayMonthYear, "/", "\xE2\x82\xAC"},  // traditional sort
    {3082, "es-ES", ",", ".", DayMonthYear, "/", "\xE2\x82\xAC"},  // international sort
    {1043, "nl-NL", ",", ".", DayMonthYear, "-", "\xE2\x82\xAC"},
    {1053, "sv-SE", ",", "\xC2\xA0", YearMonthDay, "-", "kr"},
    {1041, "ja-JP", ".", ",", YearMonthDay, "/", "\xC2\xA5"},
    {2052, "zh-CN", ".", ",", YearMonthDay, "/", "\xC2\xA5"},
    {1049, "ru-RU", ",", "\xC2\xA0", DayMonthYear, ".", "\xE2\x82\xBD"},
    {1046, "pt-BR", ",", ".", DayMonthYear, "/", "R$"},
};

}  // namespace

const Locale* FindLocale(LONG lcid) {
    for (const Locale& locale : kLocales)
        if (static_cast<LONG>(locale.id) == lcid) return &locale;
    return nullptr;
}

std::string CodePageRefusal(const VARIANT* given, LONG* value) {
    if (!host::ArgLong(given, value)) return "CodePage takes a number.";
    if (*value <= 0 || !IsValidCodePage(static_cast<UINT>(*value)))
        return "The code page " + std::to_string(*value) + " is not one this server can write text in.";
    return "";
}

std::string LcidRefusal(const VARIANT* given, LONG* value) {
    if (!host::ArgLong(given, value)) return "LCID takes a number.";
    if (!FindLocale(*value))
        return "The locale identifier (LCID) " + std::to_string(*value) + " is not one this server knows.";
    return "";
}

}  // namespace script
