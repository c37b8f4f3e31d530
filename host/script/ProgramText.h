// The text of a page's program as a language's maker writes it, line by
// line with the origin of each line in the page's files: code copied from
// the page keeps its line ends, made text (a Response.Write of the page's
// HTML) stays on the line it is made on.
#pragma once

#include <string>
#include <vector>

#include "script/PageProgram.h"

namespace script {

class ProgramText {
public:
    explicit ProgramText(const PageParts& source) : mSource(source) { mPage.lines.push_back(source.originAt(0)); }

    // Code copied from the text at [begin, end): each of its lines keeps its origin.
    void code(size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            mPage.program += mSource.text[i];
            if (mSource.text[i] == '\n') mPage.lines.push_back(mSource.originAt(i + 1));
        }
    }
    // Code made of the text at [begin, end) with the same line ends, each
    // traced to its own.
    void rewritten(size_t begin, size_t end, const std::string& made) {
        std::vector<size_t> lineEnds;
        for (size_t i = begin; i < end; ++i)
            if (mSource.text[i] == '\n') lineEnds.push_back(i);
        size_t next = 0;
        for (char c : made) {
            mPage.program += c;
            if (c == '\n' && next < lineEnds.size()) mPage.lines.push_back(mSource.originAt(lineEnds[next++] + 1));
        }
    }
    // Made text, without line ends of its own.
    void made(const std::string& text) { mPage.program += text; }
    // Ends a line; the next belongs to the text at `at`.
    void newline(size_t at) {
        mPage.program += '\n';
        mPage.lines.push_back(mSource.originAt(at));
    }
    CompiledPage take() { return std::move(mPage); }

private:
    const PageParts& mSource;
    CompiledPage mPage;
};

}  // namespace script
