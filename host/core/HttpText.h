// Text helpers of the host: URL decoding and encoding, HTML escaping and
// JSON strings. Every part of the host uses these, so that there is one
// decoder and one escaper to get right.
#pragma once

#include <string>
#include <string_view>

// Decodes %XX escapes and '+' as a space, as query strings have them. A '%'
// that does not start a valid escape is kept as it stands.
std::string UrlDecode(const std::string& text);
// Percent-encodes every byte outside the unreserved set and '/', so that a
// virtual path becomes a link that names the same file.
std::string UrlEncodePath(const std::string& path);
// Encodes text for a query string or form value: a space as '+', every
// byte outside letters, digits and "-_.*" as %XX.
std::string UrlEncodeForm(const std::string& text);

// Text for HTML element content and attribute values.
std::string HtmlEscape(const std::string& text);
// A JSON string, which is also a string literal of the page language: the
// line separators U+2028 and U+2029, which end a line inside a script's
// string, are escaped as well.
std::string JsonString(const std::string& utf8);
// A JSON string of UTF-16 text: controls, a NUL and lone surrogates as \u escapes.
std::string JsonString(const std::u16string& text);
// The same appended to `out`, without a text of its own per character.
void AppendJsonString(std::string& out, std::u16string_view text);

// The host name of a Host header: without its port, brackets kept off an
// IPv6 address, in lower case.
std::string HostName(const std::string& header);
// Whether a Host header is a host as URLs write it: a name of letters,
// digits, dots and dashes, or an address in brackets, with an optional port.
bool WellFormedHost(const std::string& header);

// ASCII letters in lower case (header names, directive words).
// Whether a header value is one line: a line break would start a header
// of the sender's choosing.
bool SafeHeaderText(const std::string& text);
std::string Lower(std::string text);

// A count of 1 to 18 decimal digits, nothing else (no sign, no blanks).
bool ParseDigits(const std::string& text, long long* value);
// A decimal number that fits a 32-bit signed value, written with digits only
// (a leading '-' allowed when `allowNegative`); false for anything else.
bool ParseInt32(const std::string& text, long* value, bool allowNegative = false);

// Fills `buffer` from the system's random source; throws when it cannot.
void RandomBytes(void* buffer, size_t size);
// Bytes as lower-case hexadecimal digits, two per byte.
std::string HexText(const void* bytes, size_t size);
// A token no one can guess, for cookies: 32 random hexadecimal digits.
std::string RandomToken();
// Whether a Range header can be answered from a file of `size` bytes: its
// first byte range ("bytes=a-b", "bytes=a-", "bytes=-n") is well formed and
// starts inside the file. Other units are ignored (true).
bool RangeSatisfiable(const std::string& header, long long size);
// Whether `token` has the form RandomToken gives.
bool IsRandomToken(const std::string& token);
