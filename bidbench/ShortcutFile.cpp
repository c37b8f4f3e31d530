#include "ShortcutFile.h"

#include <cctype>

namespace ShortcutFile {
namespace {

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string ProfileString(const std::string& text, const std::string& section, const std::string& key) {
    bool inSection = false;
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find_first_of("\r\n", position);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(position, end - position));
        position = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            inSection = close != std::string::npos && SameName(Trim(line.substr(1, close - 1)), section);
            continue;
        }
        const size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos || !SameName(Trim(line.substr(0, equals)), key)) continue;
        std::string value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return "";
}

std::string Text(const std::string& url) {
    std::string oneLine;  // a line break in the address would start a new entry
    for (char c : url)
        if (c != '\r' && c != '\n') oneLine += c;
    return "[InternetShortcut]\r\nURL=" + oneLine + "\r\n";
}

}  // namespace ShortcutFile
