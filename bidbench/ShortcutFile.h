// Internet shortcut files: INI text whose [InternetShortcut] section holds
// the address under the key URL. Plain C++ so that any bytes can be fuzzed.
#pragma once

#include <string>

namespace ShortcutFile {

// The value of `key` in `section` of INI text, as a profile-string read
// gives it: names compared without letter case, blanks around the value
// removed and one pair of enclosing quotes dropped; "" when absent. Lines
// end at CR LF, LF or CR; lines starting with ';' are comments.
std::string ProfileString(const std::string& text, const std::string& section, const std::string& key);

// The address of a shortcut file's text.
inline std::string Url(const std::string& text) { return ProfileString(text, "InternetShortcut", "URL"); }

// The text of a shortcut file for `url` (CR LF line ends).
std::string Text(const std::string& url);

}  // namespace ShortcutFile
