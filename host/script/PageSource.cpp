#include "script/PageSource.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>

#include "core/CaseBlindPaths.h"
#include "core/HttpText.h"
#include "core/SiteCodePage.h"
#include "platform/CodePage.h"
#include "script/PageLanguages.h"

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
    return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                               static_cast<INT>(text.size()), nullptr, 0) > 0;
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

// Puts the page's text, with its includes in place, into `parts`, marking
// where each stretch of it came from.
class Expansion {
public:
    Expansion(fs::path root, PageParts& parts) : mRoot(std::move(root)), mParts(parts) {}

    void add(const fs::path& file, int depth, const SourceLine& includedFrom) {
        if (depth > kMaxIncludeDepth)
            throw PageError(includedFrom,
                            "Includes are nested more than " + std::to_string(kMaxIncludeDepth) + " deep.");
        std::ifstream in(file, std::ios::binary);
        if (!in) throw PageError(includedFrom, "The file " + PageName(mRoot, file) + " cannot be read.");
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        mParts.sources.push_back(file);
        const std::string name = PageName(mRoot, file);
        // The page's directive sets the code page of its includes too.
        if (depth == 0) mParts.codePage = DirectiveCodePage(bytes, SourceLine{name, 1});
        const std::string text = DecodePageFile(std::move(bytes), mParts.codePage);
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
            mParts.text.append(text, copied, at - copied);
            const SourceLine here{name, line};
            add(resolve(file, Lower(match[1]), match[2], here), depth + 1, here);
            line += static_cast<int>(std::count(comment.begin(), comment.end(), '\n'));
            at = copied = close + 3;
            mark(name, line);
        }
        mParts.text.append(text, copied, std::string::npos);
    }

private:
    void mark(const std::string& name, int line) { mParts.marks.push_back({mParts.text.size(), {name, line}}); }

    // file= is relative to the including file, virtual= to the document
    // root; neither may leave the root.
    fs::path resolve(const fs::path& from, const std::string& kind, const std::string& target,
                     const SourceLine& here) const {
        const fs::path wanted =
            kind == "virtual" ? mRoot / fs::path(target).relative_path() : from.parent_path() / fs::path(target);
        const fs::path resolved =
            fs::weakly_canonical(FindWithoutCase(mRoot.string(), fs::weakly_canonical(wanted).string()));
        if (!Inside(mRoot, resolved))
            throw PageError(here, "The include file \"" + target + "\" is outside the document root.");
        if (!fs::is_regular_file(resolved)) throw PageError(here, "The include file \"" + target + "\" was not found.");
        return resolved;
    }

    fs::path mRoot;
    PageParts& mParts;
};

// The value of the attribute `name` in a tag's attributes; "" when absent.
std::string Attribute(const std::string& attributes, const std::string& name) {
    const std::regex pattern("\\b" + name + R"re(\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>"']*)))re", std::regex::icase);
    std::smatch match;
    if (!std::regex_search(attributes, match, pattern)) return "";
    return match[1].matched ? match[1].str() : match[2].matched ? match[2].str() : match[3].str();
}

bool RunsAtServer(const std::string& attributes) { return Lower(Attribute(attributes, "runat")) == "server"; }

// The engine of the language a directive or tag names; `otherwise` when it
// names none. Throws PageError for a language no engine runs.
std::string EngineNamed(const std::string& attributes, const std::string& otherwise, const SourceLine& where) {
    const std::string language = Attribute(attributes, "language");
    if (language.empty()) return otherwise;
    const std::string engine = LanguageEngine(language);
    if (!engine.empty()) return engine;
    std::string list;
    for (const std::string& supported : SupportedLanguages()) list += (list.empty() ? "" : ", ") + supported;
    throw PageError(where, "The page " + where.file + " is written in " + language +
                               ", which this server does not run. Supported languages: " + list + ".");
}

// A tag that runs at the server: <script runat="server"> or <object runat="server">.
struct ServerTag {
    bool isScript = false;
    size_t start = std::string::npos;  // npos: none
    size_t contentBegin = 0, contentEnd = 0;
    size_t after = 0;  // past the closing tag
    std::string attributes;
};

// The first server tag at or after `from` in `text` (`lower`: the same text
// in lower case). A <script> or <object> tag without runat="server" is the
// browser's and stays text.
ServerTag FindServerTag(const std::string& text, const std::string& lower, size_t from, const PageParts& parts) {
    for (size_t tag = lower.find('<', from); tag != std::string::npos; tag = lower.find('<', tag + 1)) {
        const bool isScript = lower.compare(tag, 7, "<script") == 0;
        if (!isScript && lower.compare(tag, 7, "<object") != 0) continue;
        const size_t tagEnd = text.find('>', tag);
        if (tagEnd == std::string::npos) break;
        const std::string attributes = text.substr(tag + 7, tagEnd - tag - 7);
        if (!RunsAtServer(attributes)) continue;
        const std::string closing = isScript ? "</script" : "</object";
        ServerTag found{isScript, tag, tagEnd + 1, lower.find(closing, tagEnd + 1), 0, attributes};
        const size_t close =
            found.contentEnd == std::string::npos ? found.contentEnd : text.find('>', found.contentEnd);
        if (close == std::string::npos)
            throw PageError(parts.originAt(tag),
                            "A <" + closing.substr(2) + " runat=\"server\"> tag has no " + closing + ">.");
        found.after = close + 1;
        return found;
    }
    return {};
}

ObjectTag ReadObjectTag(const ServerTag& tag, const PageParts& parts) {
    ObjectTag object{Attribute(tag.attributes, "id"), Attribute(tag.attributes, "progid"),
                     Lower(Attribute(tag.attributes, "scope")), parts.originAt(tag.start)};
    if (object.scope.empty()) object.scope = "page";
    static const std::regex kName(R"([A-Za-z_][A-Za-z0-9_]*)");
    if (!std::regex_match(object.id, kName))
        throw PageError(object.where,
                        "An <object runat=\"server\"> tag needs an ID that is a name, not \"" + object.id + "\".");
    if (object.progId.empty())
        throw PageError(object.where, "The <object runat=\"server\"> tag " + object.id +
                                          " needs a ProgID (objects named by ClassID alone are not made).");
    if (object.scope != "page" && object.scope != "session" && object.scope != "application")
        throw PageError(object.where, "The <object runat=\"server\"> tag " + object.id + " has the scope \"" +
                                          object.scope + "\"; the scopes are Page, Session and Application.");
    return object;
}

// Cuts the text into blocks: text, <% %> and server tags in page order,
// server script blocks put aside for the end.
class Cutter {
public:
    Cutter(PageParts& parts, const std::string& defaultLanguage)
        : mParts(parts), mText(parts.text), mLower(Lower(parts.text)), mDefault(defaultLanguage) {}

    void cut() {
        mParts.language = mDefault;
        std::vector<PageBlock> scripts;
        ServerTag tag = FindServerTag(mText, mLower, 0, mParts);
        size_t at = 0;
        while (at < mText.size()) {
            if (tag.start != std::string::npos && tag.start < at) tag = FindServerTag(mText, mLower, at, mParts);
            size_t open = mText.find("<%", at);
            const bool tagFirst = tag.start != std::string::npos && (open == std::string::npos || tag.start < open);
            if (tagFirst) open = tag.start;
            const size_t textEnd = open == std::string::npos ? mText.size() : open;
            if (textEnd > at) add(PageBlock::Kind::Text, at, textEnd);
            if (open == std::string::npos) break;
            if (tagFirst) {
                if (tag.isScript)
                    scripts.push_back({PageBlock::Kind::ServerScript, tag.contentBegin, tag.contentEnd,
                                       EngineNamed(tag.attributes, "", mParts.originAt(tag.start))});
                else
                    mParts.objects.push_back(ReadObjectTag(tag, mParts));
                at = tag.after;
                continue;
            }
            at = inlineBlock(open);
        }
        // A block that names no language is in the page's, which its
        // directive may set anywhere in the page.
        for (std::vector<PageBlock>* list : {&mParts.blocks, &scripts})
            for (PageBlock& block : *list)
                if (block.language.empty()) block.language = mParts.language;
        std::stable_partition(scripts.begin(), scripts.end(),
                              [this](const PageBlock& block) { return block.language != mParts.language; });
        auto ownLanguage = std::find_if(scripts.begin(), scripts.end(),
                                        [this](const PageBlock& block) { return block.language == mParts.language; });
        mParts.blocks.insert(mParts.blocks.begin(), scripts.begin(), ownLanguage);
        mParts.blocks.insert(mParts.blocks.end(), ownLanguage, scripts.end());
    }

private:
    void add(PageBlock::Kind kind, size_t begin, size_t end) { mParts.blocks.push_back({kind, begin, end, ""}); }

    // The <% %> block at `open`; returns where the text goes on.
    size_t inlineBlock(size_t open) {
        const size_t close = mText.find("%>", open + 2);
        if (close == std::string::npos)
            throw PageError(mParts.originAt(open), "A script block opened with <% has no %>.");
        const char kind = open + 2 < close ? mText[open + 2] : ' ';
        if (kind == '@')
            mParts.language =
                EngineNamed(mText.substr(open + 3, close - open - 3), mParts.language, mParts.originAt(open));
        else if (kind == '=')
            add(PageBlock::Kind::Expression, open + 3, close);
        else
            add(PageBlock::Kind::Code, open + 2, close);
        return close + 2;
    }

    PageParts& mParts;
    const std::string& mText;
    const std::string mLower;
    const std::string mDefault;
};

}  // namespace

SourceLine PageParts::originAt(size_t offset) const {
    auto mark = std::upper_bound(marks.begin(), marks.end(), offset,
                                 [](size_t value, const Mark& m) { return value < m.offset; });
    if (mark == marks.begin()) return {};
    --mark;
    const auto newlines = std::count(text.begin() + static_cast<long>(mark->offset),
                                     text.begin() + static_cast<long>(std::min(offset, text.size())), '\n');
    return {mark->origin.file, mark->origin.line + static_cast<int>(newlines)};
}

PageParts ReadPage(const fs::path& root, const fs::path& page, const std::string& defaultLanguage) {
    const fs::path canonicalRoot = fs::weakly_canonical(root);
    const fs::path canonicalPage = fs::weakly_canonical(page);
    PageParts parts;
    Expansion(canonicalRoot, parts).add(canonicalPage, 0, SourceLine{PageName(canonicalRoot, canonicalPage), 0});
    Cutter(parts, defaultLanguage).cut();
    return parts;
}

}  // namespace script
