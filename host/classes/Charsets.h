// The character sets a text stream reads and writes in, by the names pages
// give them ("Unicode", "utf-8", "iso-8859-1", "windows-1252", ...), on the
// platform's code pages; UTF-16 in either byte order is converted here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace classes {

constexpr UINT kUtf16Little = 1200, kUtf16Big = 1201;

// The code page of a character set name, compared without regard to case;
// false for a name the platform cannot convert.
bool FindCharset(const std::u16string& name, UINT* codePage);

// The name an answer's Content-Type gives the text of a code page the
// platform converts ("windows-1252", "iso-8859-1", "shift_jis"); "" for
// any other.
std::string CharsetName(UINT codePage);

std::string EncodeText(UINT codePage, std::u16string_view text);
// Bytes that are no text in the code page become U+FFFD.
std::u16string DecodeText(UINT codePage, std::string_view bytes);

// The byte order mark written before text at the start of a stream:
// UTF-16 and UTF-8 have one, other code pages none.
std::string_view ByteOrderMark(UINT codePage);

// The bytes a code unit takes at least: 2 for UTF-16, else 1. Line
// separators are searched for at multiples of it.
size_t UnitBytes(UINT codePage);

// How many of the bytes the first `units` UTF-16 code units decoded from
// them take (all of them when they hold fewer); a character is never split.
size_t BytesOfUnits(UINT codePage, std::string_view bytes, size_t units);

}  // namespace classes
