#include "script/PageSource.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <regex>

#include "core/CaseBlindPaths.h"
#include "core/HttpText.h"
#include "core/SiteCodePage.h"
#include "platform/CodePage.h"

namespace script {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxIncludeDepth = 16;

// "/dir/page.asp" for a path below the root.
std::string PageName(const fs::path& root, const fs::path& file) {
    return "/" + file.lexically_relative(root).generic_string();
}

bool Inside(const fs::path& root, const fs::path& path) {
    const std::string base = root.generic_string();
    const std::string full = path.generic_string();
    return full.size() > base.size() && full.compare(0, base.size(), base) == 0 && full[base.size()] == '/';
}

// The code page of a page's <%@ CodePage=N %> directive; 0 when it names none.
UINT DirectiveCodePage(const std::string& text, const SourceLine& where) {
    const size_t open = text.find("<%@");
    const size_t close = open == std::string::npos ? open : text.find("%>", open);
    if (close == std::string::npos) return 0;
    static const std::regex kCodePage(R"(\bcodepage\s*=\s*"?\s*([0-9]+))", std::regex::icase);
    std::smatch match;
    const std::string directive = text.substr(open, close - open);
    if (!std::regex_search(directive, match, kCodePage)) return 0;
    const unsigned long number = match[1].length() > 9 ? 0 : std::stoul(match[1].str());
    if (!number || !IsValidCodePage(static_cast<UINT>(number)))
        throw PageError(where, "The page names the code page " + match[1].str() + ", which this server does not know.");
    return static_cast<UINT>(number);
}

bool IsUtf8(const std::string& text) {
    return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<INT>(text.size()),
                                               nullptr, 0) > 0;
}

// A page file's bytes as UTF-8: a byte order mark says UTF-8 (and is not
// text of the page); else the page's directive decides; else UTF-8 when the
// bytes are, the site's code page when not.
std::string DecodePageFile(std::string bytes, UINT directiveCodePage) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return bytes.substr(3);
    UINT codePage = directiveCodePage;
    if (!codePage) codePage = IsUtf8(bytes) ? CP_UTF8 : SiteCodePage();
    if (codePage == CP_UTF8) return bytes;
    return platform::codepage::Utf16ToUtf8(platform::codepage::ToUtf16(bytes, codePage));
}

// The page text with its includes in place, and where each stretch of it
// came from.
class Expansion {
public:
    explicit Expansion(fs::path root) : mRoot(std::move(root)) {}

    void add(const fs::path& file, int depth, const SourceLine& includedFrom) {
        if (depth > kMaxIncludeDepth)
            throw PageError(includedFrom,
                            "Includes are nested more than " + std::to_string(kMaxIncludeDepth) + " deep.");
        std::ifstream in(file, std::ios::binary);
        if (!in) throw PageError(includedFrom, "The file " + PageName(mRoot, file) + " cannot be read.");
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        mSources.push_back(file);
        const std::string name = PageName(mRoot, file);
        // The page's directive sets the code page of its includes too.
        if (depth == 0) mCodePage = DirectiveCodePage(bytes, SourceLine{name, 1});
        const std::string text = DecodePageFile(std::move(bytes), mCodePage);
        static const std::regex kInclude(R"re(^<!--\s*#include\s+(file|virtual)\s*=\s*"([^"]*)"\s*-->)re",
                                         std::regex::icase);
        size_t at = 0, copied = 0;
        int line = 1;
        mark(name, line);
        while ((at = text.find("<!--", at)) != std::string::npos) {
            const size_t close = text.find("-->", at);
            if (close == std::string::npos) break;
            std::smatch match;
            const std::string comment = text.substr(at, close + 3 - at);
            if (!std::regex_search(comment, match, kInclude)) {
                at += 4;
                continue;
            }
            line += static_cast<int>(
                std::count(text.begin() + static_cast<long>(copied), text.begin() + static_cast<long>(at), '\n'));
            mText.append(text, copied, at - copied);
            const SourceLine here{name, line};
            add(resolve(file, Lower(match[1]), match[2], here), depth + 1, here);
            line += static_cast<int>(std::count(comment.begin(), comment.end(), '\n'));
            at = copied = close + 3;
            mark(name, line);
        }
        mText.append(text, copied, std::string::npos);
    }

    const std::string& text() const { return mText; }
    const std::vector<fs::path>& sources() const { return mSources; }
    UINT codePage() const { return mCodePage; }

    // Where the byte at `offset` of the text came from.
    SourceLine originAt(size_t offset) const {
        auto mark = std::upper_bound(mMarks.begin(), mMarks.end(), offset,
                                     [](size_t value, const Mark& m) { return value < m.offset; });
        if (mark == mMarks.begin()) return {};
        --mark;
        const auto newlines = std::count(mText.begin() + static_cast<long>(mark->offset),
                                         mText.begin() + static_cast<long>(std::min(offset, mText.size())), '\n');
        return {mark->origin.file, mark->origin.line + static_cast<int>(newlines)};
    }

private:
    struct Mark {
        size_t offset;
        SourceLine origin;
    };

    void mark(const std::string& name, int line) { mMarks.push_back({mText.size(), {name, line}}); }

    // file= is relative to the including file, virtual= to the document
    // root; neither may leave the root.
    fs::path resolve(const fs::path& from, const std::string& kind, const std::string& target,
                     const SourceLine& here) const {
        const fs::path wanted = kind == "virtual" ? mRoot / fs::path(target).relative_path()
                                                  : from.parent_path() / fs::path(target);
        const fs::path resolved = fs::weakly_canonical(FindWithoutCase(mRoot.string(), fs::weakly_canonical(wanted).string()));
        if (!Inside(mRoot, resolved))
            throw PageError(here, "The include file \"" + target + "\" is outside the document root.");
        if (!fs::is_regular_file(resolved))
            throw PageError(here, "The include file \"" + target + "\" was not found.");
        return resolved;
    }

    fs::path mRoot;
    UINT mCodePage = 0;
    std::string mText;
    std::vector<Mark> mMarks;
    std::vector<fs::path> mSources;
};

std::string RewriteCallAssignments(std::string code);

// The program, line by line with the origin of each line.
class Program {
public:
    explicit Program(const Expansion& source) : mSource(source) { mPage.lines.push_back(source.originAt(0)); }

    // Code copied from the text at [begin, end): each of its lines keeps its origin.
    void code(size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            mPage.program += mSource.text()[i];
            if (mSource.text()[i] == '\n') mPage.lines.push_back(mSource.originAt(i + 1));
        }
    }
    // Code as written, with its assignments to calls made into calls; the
    // made code has the same line ends, each traced to its own.
    void statements(size_t begin, size_t end) {
        std::vector<size_t> lineEnds;
        for (size_t i = begin; i < end; ++i)
            if (mSource.text()[i] == '\n') lineEnds.push_back(i);
        size_t next = 0;
        for (char c : RewriteCallAssignments(mSource.text().substr(begin, end - begin))) {
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
    const Expansion& mSource;
    CompiledPage mPage;
};

// Which bytes of page code are code, not strings or comments.
std::vector<bool> CodeMask(const std::string& code) {
    std::vector<bool> isCode(code.size(), true);
    for (size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        size_t end = i;
        if (c == '"' || c == '\'') {
            end = i + 1;
            while (end < code.size() && code[end] != c && code[end] != '\n') end += code[end] == '\\' ? 2 : 1;
        } else if (c == '/' && i + 1 < code.size() && code[i + 1] == '/') {
            end = code.find('\n', i);
            if (end == std::string::npos) end = code.size();
            --end;
        } else if (c == '/' && i + 1 < code.size() && code[i + 1] == '*') {
            end = code.find("*/", i + 2);
            end = end == std::string::npos ? code.size() - 1 : end + 1;
        } else {
            continue;
        }
        end = std::min(end, code.size() - 1);
        for (size_t k = i; k <= end; ++k) isCode[k] = false;
        i = end;
    }
    return isCode;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '.'; }

// Assignments to a call, as pages write them for objects' default members
// (Session("visits") = 1, Response.Cookies("name") = "value"), which the
// language itself refuses, become calls that write the member:
// __assignToCall(Session, ["visits"], 1). The statement keeps its lines.
// The '(' that the ')' at `close` closes; npos when there is none.
size_t MatchingOpen(const std::string& code, const std::vector<bool>& isCode, size_t close) {
    int depth = 0;
    for (size_t i = close + 1; i-- > 0;) {
        if (!isCode[i]) continue;
        if (code[i] == ')') ++depth;
        else if (code[i] == '(' && --depth == 0) return i;
    }
    return std::string::npos;
}

std::string RewriteCallAssignments(std::string code) {
    const std::vector<bool> isCode = CodeMask(code);
    std::vector<size_t> open;
    struct Assignment { size_t callee, argsOpen, argsClose, equals, end; };
    std::vector<Assignment> found;
    for (size_t i = 0; i < code.size(); ++i) {
        if (!isCode[i]) continue;
        if (code[i] == '(') open.push_back(i);
        if (code[i] != ')' || open.empty()) continue;
        const size_t argsOpen = open.back();
        open.pop_back();
        size_t eq = code.find_first_not_of(" \t", i + 1);
        if (eq == std::string::npos || code[eq] != '=' || (eq + 1 < code.size() && (code[eq + 1] == '=' || code[eq + 1] == '>')))
            continue;
        size_t calleeEnd = argsOpen;
        while (calleeEnd > 0 && (code[calleeEnd - 1] == ' ' || code[calleeEnd - 1] == '\t')) --calleeEnd;
        // The callee is a name (Session, Response.Cookies) or a call of one
        // (Response.Cookies("prefs") in Response.Cookies("prefs")("color") = v).
        size_t callee = calleeEnd;
        while (callee > 0 && isCode[callee - 1]) {
            if (IsNameChar(code[callee - 1])) {
                --callee;
            } else if (code[callee - 1] == ')') {
                const size_t opening = MatchingOpen(code, isCode, callee - 1);
                if (opening == std::string::npos) break;
                callee = opening;
            } else {
                break;
            }
        }
        if (callee == calleeEnd || std::isdigit(static_cast<unsigned char>(code[callee])) || code[callee] == '.') continue;
        size_t before = callee;
        while (before > 0 && (code[before - 1] == ' ' || code[before - 1] == '\t')) --before;
        if (before > 0 && std::string(";{}\n\r)").find(code[before - 1]) == std::string::npos) continue;
        // The value runs to the statement's end: ';', a line end or a '}' outside brackets.
        int depth = 0;
        size_t end = eq + 1;
        for (; end < code.size(); ++end) {
            if (!isCode[end]) continue;
            const char c = code[end];
            if (c == '(' || c == '[' || c == '{') ++depth;
            else if ((c == ')' || c == ']' || c == '}') && depth-- == 0) break;
            else if (depth == 0 && (c == ';' || c == '\n')) break;
        }
        found.push_back({callee, argsOpen, i, eq, end});
    }
    size_t limit = code.size();
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        if (it->end > limit) continue;
        const std::string rewritten = "__assignToCall(" + code.substr(it->callee, it->argsOpen - it->callee) + ", [" +
                                      code.substr(it->argsOpen + 1, it->argsClose - it->argsOpen - 1) + "], " +
                                      code.substr(it->equals + 1, it->end - it->equals - 1) + ")";
        code.replace(it->callee, it->end - it->callee, rewritten);
        limit = it->callee;
    }
    return code;
}

// The Language of a <%@ ... %> directive or of a <script> tag's
// attributes; "" when it names none.
std::string DirectiveLanguage(const std::string& directive) {
    static const std::regex kLanguage(R"(\blanguage\s*=\s*["']?([A-Za-z0-9_.-]*))", std::regex::icase);
    std::smatch match;
    return std::regex_search(directive, match, kLanguage) ? match[1].str() : "";
}

void CheckLanguage(const std::string& language, const SourceLine& where) {
    if (language.empty()) return;
    for (const std::string& supported : SupportedLanguages())
        if (Lower(language) == Lower(supported)) return;
    std::string list;
    for (const std::string& supported : SupportedLanguages()) list += (list.empty() ? "" : ", ") + supported;
    throw PageError(where, "The page " + where.file + " is written in " + language +
                               ", which this server does not run. Supported languages: " + list + ".");
}

// A <script runat="server"> block: its code runs on the server and none of
// it is sent.
struct ServerScript {
    size_t tagStart = std::string::npos;  // npos: none
    size_t codeBegin = 0, codeEnd = 0;    // the code between the tags
    size_t after = 0;                     // past the closing tag
    std::string language;                 // "" when the tag names none
};

// The first server script block at or after `from` in `text` (`lower`: the
// same text in lower case). A <script> tag without runat="server" is the
// browser's and stays text.
ServerScript FindServerScript(const std::string& text, const std::string& lower, size_t from, const Expansion& source) {
    static const std::regex kRunAtServer(R"(\brunat\s*=\s*["']?server\b)", std::regex::icase);
    for (size_t tag = lower.find("<script", from); tag != std::string::npos; tag = lower.find("<script", tag + 7)) {
        const size_t tagEnd = text.find('>', tag);
        if (tagEnd == std::string::npos) break;
        const std::string attributes = text.substr(tag + 7, tagEnd - tag - 7);
        if (!std::regex_search(attributes, kRunAtServer)) continue;
        ServerScript found;
        found.tagStart = tag;
        found.codeBegin = tagEnd + 1;
        found.codeEnd = lower.find("</script", found.codeBegin);
        const size_t close = found.codeEnd == std::string::npos ? found.codeEnd : text.find('>', found.codeEnd);
        if (close == std::string::npos)
            throw PageError(source.originAt(tag), "A <script runat=\"server\"> block has no </script>.");
        found.after = close + 1;
        found.language = DirectiveLanguage(attributes);
        return found;
    }
    return {};
}

}  // namespace

SourceLine CompiledPage::origin(int programLine) const {
    if (programLine < 1 || lines.empty()) return {};
    return lines[std::min(static_cast<size_t>(programLine), lines.size()) - 1];
}

const std::vector<std::string>& SupportedLanguages() {
    static const std::vector<std::string> kLanguages = {"JScript", "JavaScript", "ECMAScript"};
    return kLanguages;
}

CompiledPage CompilePage(const fs::path& root, const fs::path& page) {
    const fs::path canonicalRoot = fs::weakly_canonical(root);
    const fs::path canonicalPage = fs::weakly_canonical(page);
    Expansion source(canonicalRoot);
    source.add(canonicalPage, 0, SourceLine{PageName(canonicalRoot, canonicalPage), 0});
    const std::string& text = source.text();
    const std::string lower = Lower(text);
    Program program(source);
    // Server script blocks run after the rest of the page, as classic servers
    // run blocks in the page's own language; their functions, declared
    // for the whole program, can be called from anywhere in it.
    std::vector<ServerScript> deferred;
    ServerScript script = FindServerScript(text, lower, 0, source);
    size_t at = 0;
    while (at < text.size()) {
        size_t open = text.find("<%", at);
        if (script.tagStart != std::string::npos && script.tagStart < at)
            script = FindServerScript(text, lower, at, source);
        const bool scriptFirst = script.tagStart != std::string::npos && (open == std::string::npos || script.tagStart < open);
        if (scriptFirst) open = script.tagStart;
        const size_t textEnd = open == std::string::npos ? text.size() : open;
        if (textEnd > at) {
            // Text: written as it stands, on one line of the program.
            program.made("Response.Write(" + JsonString(text.substr(at, textEnd - at)) + ");");
            program.newline(textEnd);
        }
        if (open == std::string::npos) break;
        if (scriptFirst) {
            CheckLanguage(script.language, source.originAt(script.tagStart));
            deferred.push_back(script);
            at = script.after;
            script = FindServerScript(text, lower, at, source);
            continue;
        }
        const size_t close = text.find("%>", open + 2);
        if (close == std::string::npos)
            throw PageError(source.originAt(open), "A script block opened with <% has no %>.");
        const char kind = open + 2 < close ? text[open + 2] : ' ';
        if (kind == '@') {
            // A directive is checked; nothing of it runs.
            CheckLanguage(DirectiveLanguage(text.substr(open + 3, close - open - 3)), source.originAt(open));
        } else if (kind == '=') {
            // The expression's own line ends stay; the call closes on a line
            // of its own, so that a comment at the end cannot swallow it.
            program.made("Response.Write(");
            program.code(open + 3, close);
            program.newline(close);
            program.made(");");
        } else {
            program.statements(open + 2, close);
        }
        program.newline(close + 2);
        at = close + 2;
    }
    for (const ServerScript& block : deferred) {
        program.newline(block.codeBegin);
        program.code(block.codeBegin, block.codeEnd);
    }
    CompiledPage compiled = program.take();
    compiled.sources = source.sources();
    compiled.codePage = source.codePage();
    return compiled;
}

}  // namespace script
