// Reading a text file a block at a time, as TextStream reads it: a line,
// a few characters or a skip costs the blocks it reaches, never the whole
// file. ANSI files are in a code page, Unicode files UTF-16LE (a byte order
// mark at the start is skipped); lines end with CR LF, LF or CR.
#pragma once

#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace classes {

// Where a stream stands: line and column from 1, a line ending after CR
// LF, LF or CR (CR LF counts once).
struct TextPosition {
    LONG line = 1;
    LONG column = 1;
    bool afterCr = false;
    void advance(const char16_t* text, size_t count);
};

enum class TextFormat { kAnsi, kUnicode, kByMark };  // kByMark: Unicode when the file starts with FF FE

class TextReader {
public:
    // Reads `fd` (which it closes).
    TextReader(int fd, TextFormat format, UINT codePage);
    ~TextReader();
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    bool atEnd();
    bool atEndOfLine();
    // Up to `count` characters (fewer at the end).
    std::u16string read(size_t count);
    std::u16string readLine();
    std::u16string readAll();
    void skip(size_t count);
    void skipLine();
    const TextPosition& position() const { return mPosition; }

private:
    // Decodes the next block after what is left; false at the end of the file.
    bool fill();
    void decode(std::string_view bytes);
    // Moves past `count` characters, appending them to `out` when given.
    void take(size_t count, std::u16string* out);
    void takeLine(std::u16string* out);

    int mFd;
    TextFormat mFormat;
    UINT mCodePage;
    bool mEof = false;
    bool mStarted = false;      // the format is known
    bool mMarkChecked = false;  // the first character was looked at
    std::string mBytes;         // read, not yet decoded
    std::u16string mText;       // decoded; mText[mPos] is the next character
    size_t mPos = 0;
    TextPosition mPosition;
};

}  // namespace classes
