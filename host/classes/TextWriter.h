// Writing a text file as TextStream writes it: characters encoded in the
// file's code page (ANSI) or as UTF-16LE with a byte order mark (Unicode),
// gathered in blocks. A new or replaced file is written beside its name and
// put in place at close; an appended file grows in place, since appending
// is what several pages do to one log at once and no line may be lost.
#pragma once

#include <memory>
#include <string>

#include "classes/StagedFile.h"
#include "classes/TextReader.h"

namespace classes {

class TextWriter {
public:
    // Writes a new content put in place at close.
    TextWriter(std::unique_ptr<StagedFile> staged, bool unicode, UINT codePage);
    // Appends to `fd` (which it closes); `empty`: the file has no bytes yet.
    TextWriter(int fd, bool empty, bool unicode, UINT codePage);
    // Closes, and puts a staged file in place, when the page did not.
    ~TextWriter();
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;

    void write(const std::u16string& text);
    // Writes what is gathered and puts the file in place; throws.
    void close();
    const TextPosition& position() const { return mPosition; }

private:
    void flush();
    void encode(const std::u16string& text);

    std::unique_ptr<StagedFile> mStaged;
    int mFd = -1;  // the appended file
    bool mUnicode;
    UINT mCodePage;
    std::string mBytes;
    TextPosition mPosition;
};

}  // namespace classes
