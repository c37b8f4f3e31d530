// Builds the report of a form through late binding.
#include "client/FormReport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/Page.h"
#include "client/Sha256.h"
#include "platform/CodePage.h"

namespace {

std::u16string_view TextOf(const platform::Variant& value) {
    return value.vt == VT_BSTR && value.bstrVal ? std::u16string_view(value.bstrVal, SysStringLen(value.bstrVal))
                                                : std::u16string_view();
}

// Whether a text holds a NUL character; eight units at a time, since every
// text field's content is searched.
bool HasNul(std::u16string_view text) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= text.size(); i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(units, zero))) return true;
    }
#endif
    return text.substr(i).find(u'\0') != std::u16string_view::npos;
}

// Appends a member's value as JSON to `json`.
void AppendMember(DispatchObject& object, const std::string& name, std::string& json, std::vector<VARIANT> args = {}) {
    platform::Variant value;
    if (!object.get(name, &value, std::move(args))) throw MemberFailure{object.error()};
    if (value.vt == VT_BOOL) {
        json += value.boolVal ? "true" : "false";
    } else if (value.vt == VT_I4) {
        // Counts, lengths and sizes, five of an item's members: written as
        // they are rather than through a text of the system's.
        json += std::to_string(value.lVal);
    } else if (value.vt == VT_BSTR) {
        AppendJsonString(json, TextOf(value));
    } else {
        json += VariantText(value);
    }
}

// A member's value as JSON.
std::string Get(DispatchObject& object, const std::string& name, std::vector<VARIANT> args = {}) {
    std::string json;
    AppendMember(object, name, json, std::move(args));
    return json;
}

DispatchObject GetObject(DispatchObject& object, const std::string& name, std::vector<VARIANT> args) {
    DispatchObject result = object.getObject(name, std::move(args));
    if (!result.ok()) throw MemberFailure{result.error()};
    return result;
}

std::vector<std::string> Names(DispatchObject& form) {
    platform::Variant value;
    if (!form.get("_NewEnum", &value)) throw MemberFailure{form.error()};
    platform::ComPtr<IEnumVARIANT> names;
    if (value.vt != VT_UNKNOWN || !value.punkVal ||
        FAILED(value.punkVal->QueryInterface(IID_IEnumVARIANT, names.putVoid())))
        throw MemberFailure{{E_NOINTERFACE, "", "_NewEnum gave no enumerator"}};
    std::vector<std::string> result;
    for (;;) {
        platform::Variant name;
        ULONG fetched = 0;
        if (names->Next(1, &name, &fetched) != S_OK || fetched != 1) break;
        result.push_back(VariantText(name));
    }
    return result;
}

// A text cut to `maxLength` characters (0: whole) without splitting a
// surrogate pair; the characters left out in `cut`.
std::u16string_view CutText(std::u16string_view text, size_t maxLength, size_t* cut) {
    *cut = 0;
    if (maxLength && text.size() > maxLength) {
        size_t keep = maxLength;
        if (text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF) --keep;
        *cut = text.size() - keep;
        text = text.substr(0, keep);
    }
    return text;
}


// Reads a member that gives text (Content, a field's joined Item) into
// `value`, where it stays as it came (a BSTR).
void ReadText(DispatchObject& object, const std::string& name, platform::Variant* value, std::vector<VARIANT> args = {}) {
    if (!object.get(name, value, std::move(args))) throw MemberFailure{object.error()};
    if (value->vt != VT_BSTR && FAILED(VariantChangeType(value, value, 0, VT_BSTR))) VariantClear(value);
}

// Where the complete characters of some bytes of the system code page end:
// before a UTF-8 sequence that the end cuts; anywhere in other pages.
size_t CompleteEnd(const uint8_t* bytes, size_t length) {
    if (GetACP() != CP_UTF8) return length;
    for (size_t back = 1; back <= std::min<size_t>(4, length); ++back) {
        const uint8_t lead = bytes[length - back];
        if ((lead & 0xC0) == 0x80) continue;
        const size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        return need > back ? length - back : length;
    }
    return length;
}

// What the report needs of the bytes of a text longer than it shows,
// gathered as they come in pieces: their length and digest, the characters
// they make in the system code page, whether a NUL is among them, and the
// first bytes, which are shown.
class LongText {
public:
    explicit LongText(size_t headBytes) : mHeadBytes(headBytes) {}

    void add(const uint8_t* bytes, size_t length) {
        mLength += length;
        mDigest.add(bytes, length);
        mHasNul = mHasNul || std::memchr(bytes, 0, length) != nullptr;
        if (mHead.size() < mHeadBytes)
            mHead.append(reinterpret_cast<const char*>(bytes), std::min(length, mHeadBytes - mHead.size()));
        // Counted 256 KB at a time: the decoded text of each stays small.
        for (size_t start = 0; start < length; start += kCountedBytes)
            count(bytes + start, std::min(kCountedBytes, length - start));
    }
    // Counts a character the last piece left unfinished (bytes that make
    // none count as the replacement characters they decode to).
    void finish() {
        mCharacters += Characters(mCarry.data(), mCarry.size());
        mCarry.clear();
    }

    uint64_t length() const { return mLength; }
    std::string digest() { return mDigest.hex(); }
    size_t characters() const { return mCharacters; }
    bool hasNul() const { return mHasNul; }
    const std::string& head() const { return mHead; }

private:
    static constexpr size_t kCountedBytes = 256 * 1024;

    static size_t Characters(const char* bytes, size_t length) {
        return length ? platform::codepage::ToUtf16(std::string_view(bytes, length)).size() : 0;
    }
    // A character cut by the end of the last piece is finished with the
    // first bytes of this one.
    void count(const uint8_t* bytes, size_t length) {
        while (!mCarry.empty() && length > 0) {
            mCarry += static_cast<char>(*bytes++);
            --length;
            if (mCarry.size() == 4 || CompleteEnd(reinterpret_cast<const uint8_t*>(mCarry.data()), mCarry.size()) == mCarry.size())
                finish();
        }
        const size_t end = CompleteEnd(bytes, length);
        mCharacters += Characters(reinterpret_cast<const char*>(bytes), end);
        mCarry.assign(reinterpret_cast<const char*>(bytes) + end, length - end);
    }

    const size_t mHeadBytes;
    uint64_t mLength = 0;
    Sha256 mDigest;
    size_t mCharacters = 0;
    bool mHasNul = false;
    std::string mHead;
    std::string mCarry;
};

// What reading an item tells of its field's joined value: when the item's
// Content is all its bytes as text (no MacBinary header, no NUL, which ends
// an item's part of the joined value), a field of that one item has it as
// its joined value, which then need not be read (and copied) again.
struct ItemText {
    bool isFile = false;
    bool contentIsJoined = false;
    size_t contentCut = 0;
};

void ReadBytes(DispatchObject& field, const std::string& name, platform::Variant* value) {
    if (!field.get(name, value)) throw MemberFailure{field.error()};
    if (value->vt != (VT_ARRAY | VT_UI1) || !value->parray) throw MemberFailure{{E_UNEXPECTED, "", name + " gave no bytes"}};
}

// A text longer than the report shows: its bytes are read in pieces
// through `longTextBytes`, else whole as Data, and the first characters are
// decoded in the system code page as Content decodes them, so that a text of
// 200 MB is never held as 400 MB of UTF-16 and copied again. Adds Content
// and ContentCut; gives the value of Data.
std::string AddLongContent(DispatchObject& field, const ReportOptions& options, ItemReport& item, ItemText* facts) {
    // The system code page read once for the whole text: each piece and
    // each character cut between two asks for it, and it is in the registry.
    const platform::codepage::PinnedAcp systemCodePage;
    // No character takes more than three bytes of a page or two units.
    const size_t headBytes = 3 * options.maxTextLength;
    std::optional<LongText> text(std::in_place, headBytes);
    const auto piece = [&](const uint8_t* bytes, size_t length) { text->add(bytes, length); };
    if (!options.longTextBytes || !options.longTextBytes(field, piece)) {
        text.emplace(headBytes);
        platform::Variant data;
        ReadBytes(field, "Data", &data);
        piece(static_cast<const uint8_t*>(data.parray->pvData), data.parray->rgsabound[0].cElements);
    }
    text->finish();
    const std::string& head = text->head();
    const auto* headStart = reinterpret_cast<const uint8_t*>(head.data());
    const size_t shownBytes = head.size() < text->length() ? CompleteEnd(headStart, head.size()) : head.size();
    const std::u16string shown = platform::codepage::ToUtf16(std::string_view(head.data(), shownBytes));
    size_t cutOfHead = 0;
    item.addText("Content", CutText(shown, options.maxTextLength, &cutOfHead));
    facts->contentCut = text->characters() - (shown.size() - cutOfHead);
    facts->contentIsJoined = !text->hasNul();
    if (facts->contentCut) item.add("ContentCut", std::to_string(facts->contentCut));
    return DigestValue(text->length(), text->digest());
}

ItemReport ReadItem(DispatchObject& field, const ReportOptions& options, ItemText* facts) {
    // Read first: whether the item is a file decides what else is read, its
    // length whether its text is read whole.
    const std::string fileExists = Get(field, "FileExists");
    facts->isFile = fileExists == "true";
    const bool wantContent = !facts->isFile || options.fileContent;
    std::optional<std::string> length;
    uint64_t textBytes = 0;
    std::optional<std::string> dataValue;
    if (wantContent && options.maxTextLength) {
        length = Get(field, "Length");
        textBytes = std::stoull(*length);
    }
    const bool longText = textBytes > options.maxTextLength;  // 0 unless read
    // A text has at most as many characters as bytes.
    ItemReport item;
    item.reserve(std::min<uint64_t>(textBytes, options.maxTextLength));
    facts->contentIsJoined = false;
    const char* const kMembers[] = {"Name", "Content", "Length", "FileExists", "SafeFileName", "FileType",
                                    "FileName", "MIMEType", "MacBinary", "RawFilePath", "RawFileName",
                                    "RawFileType", "RawLength", "ImageType", "ImageWidth", "ImageHeight"};
    for (const char* member : kMembers) {
        const std::string_view name = member;
        if (name == "FileExists") {
            item.add(member, fileExists);
        } else if (name == "Content" && !wantContent) {
            item.add(member, "null");
        } else if (name == "Content" && longText) {
            dataValue = AddLongContent(field, options, item, facts);
        } else if (name == "Length" && length) {
            item.add(member, *length);
        } else if (name == "Content") {
            platform::Variant text;
            ReadText(field, member, &text);
            facts->contentIsJoined = !HasNul(TextOf(text));
            item.addText(member, CutText(TextOf(text), options.maxTextLength, &facts->contentCut));
            if (facts->contentCut) item.add("ContentCut", std::to_string(facts->contentCut));
        } else {
            item.addWritten(member, [&](std::string& json) { AppendMember(field, member, json); });
        }
    }
    facts->contentIsJoined = facts->contentIsJoined && item.value("MacBinary") == "false";
    if (options.fileBytes || !facts->isFile) AddItemBytes(field, item, dataValue ? &*dataValue : nullptr);
    if (options.extras) options.extras(field, item);
    return item;
}

}  // namespace

void ItemReport::startMember(const char* name) {
    mJson += mMembers.empty() ? "\"" : ", \"";
    mJson += name;
    mJson += "\": ";
    mMembers.push_back({name, mJson.size(), 0});
}

void ItemReport::add(const char* name, std::string_view json) {
    addWritten(name, [json](std::string& itemJson) { itemJson += json; });
}

void ItemReport::addText(const char* name, std::u16string_view text) {
    // Room for the text and the members after it at once: a block grown by
    // doubling would be copied several times per item.
    mJson.reserve(mJson.size() + text.size() + kMembersBytes);
    startMember(name);
    AppendJsonString(mJson, text);
    mMembers.back().length = mJson.size() - mMembers.back().start;
}

const ItemReport::Member* ItemReport::find(const char* name) const {
    for (const Member& member : mMembers)
        if (member.name == name || std::strcmp(member.name, name) == 0) return &member;
    return nullptr;
}

void ItemReport::set(const char* name, std::string_view json) {
    const Member* found = find(name);
    if (!found) return;
    const size_t start = found->start, oldLength = found->length;
    mJson.replace(start, oldLength, json);
    for (Member& member : mMembers) {
        if (member.start > start) member.start = member.start - oldLength + json.size();
    }
    const_cast<Member*>(found)->length = json.size();
}

std::string_view ItemReport::value(const char* name) const {
    const Member* found = find(name);
    return found ? std::string_view(mJson).substr(found->start, found->length) : std::string_view();
}

std::string BytesValue(const uint8_t* data, size_t length) { return DigestValue(length, Sha256Hex(data, length)); }

const std::string& NoBytesValue() {
    static const std::string kValue = BytesValue(nullptr, 0);
    return kValue;
}

std::string DigestValue(uint64_t length, const std::string& digest) {
    return "{\"Length\": " + std::to_string(length) + ", \"SHA256\": \"" + digest + "\"}";
}

std::string MemberBytes(DispatchObject& field, const std::string& name) {
    platform::Variant value;
    if (!field.get(name, &value)) throw MemberFailure{field.error()};
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray) throw MemberFailure{{E_UNEXPECTED, "", name + " gave no bytes"}};
    return BytesValue(static_cast<const uint8_t*>(value.parray->pvData), value.parray->rgsabound[0].cElements);
}

void AddItemBytes(DispatchObject& field, ItemReport& item, const std::string* dataValue) {
    const std::string data = dataValue ? *dataValue : MemberBytes(field, "Data");
    item.add("Data", data);
    if (item.value("MacBinary") == "true") {
        item.add("RawData", MemberBytes(field, "RawData"));
        item.add("Resource", MemberBytes(field, "Resource"));
    } else {
        item.add("RawData", data);
        item.add("Resource", NoBytesValue());
    }
}

namespace {

// The characters of the JSON string that starts at `json` (its opening
// quote), as AppendJsonString and JsonString write them: the escapes back
// to UTF-16, then UTF-8 (a lone surrogate as U+FFFD).
std::string JsonStringText(std::string_view json) {
    std::u16string units;
    for (size_t i = 1; i < json.size() && json[i] != '"';) {
        if (json[i] != '\\') {
            size_t run = i;
            while (run < json.size() && json[run] != '\\' && json[run] != '"') ++run;
            units += platform::codepage::Utf8ToUtf16(std::string(json.substr(i, run - i)));
            i = run;
        } else if (i + 1 < json.size() && json[i + 1] == 'u') {
            units += static_cast<char16_t>(std::stoul(std::string(json.substr(i + 2, 4)), nullptr, 16));
            i += 6;
        } else if (i + 1 < json.size()) {
            const char escaped = json[i + 1];
            units += escaped == 'n' ? u'\n' : escaped == 'r' ? u'\r' : escaped == 't' ? u'\t' : static_cast<char16_t>(escaped);
            i += 2;
        } else {
            break;
        }
    }
    return platform::codepage::Utf16ToUtf8(units);
}

// The JSON value that follows `"key": ` in an object the report wrote.
std::string_view ObjectMember(std::string_view json, std::string_view key) {
    std::string marker = "\"";
    marker.append(key).append("\": ");
    const size_t at = json.find(marker);
    return at == std::string_view::npos ? std::string_view() : json.substr(at + marker.size());
}

}  // namespace

std::string ReportText(std::string_view json) {
    if (json == "null") return "";
    if (!json.empty() && json[0] == '"') return JsonStringText(json);
    if (json.empty() || json[0] != '{') return std::string(json);
    const std::string_view digest = ObjectMember(json, "SHA256");
    if (!digest.empty()) {
        const std::string_view length = ObjectMember(json, "Length");
        return std::string(length.substr(0, length.find(','))) + " bytes, SHA-256 " + JsonStringText(digest);
    }
    const std::string_view description = ObjectMember(json, "Description");
    return description.empty() ? std::string(json) : JsonStringText(description);
}

FormReport ReadFormReport(DispatchObject& formObject, const ReportOptions& options) {
    // Every item has the same members: their names are looked up once.
    MemberIds ids;
    DispatchObject form = formObject;
    form.shareIds(&ids);
    FormReport report;
    report.multipart = Get(form, "Multipart") == "true";
    report.count = std::stol(Get(form, "Count"));
    for (const std::string& name : Names(form)) {
        DispatchObject fields = GetObject(form, "Item", {MakeString(name)});
        FieldReport field;
        field.name = name;
        field.count = std::stol(Get(fields, "Count"));
        bool hasFile = false;
        ItemText facts;
        for (long n = 1; n <= field.count; ++n) {
            DispatchObject item = GetObject(fields, "Item", {MakeLong(n)});
            field.items.push_back(ReadItem(item, options, &facts));
            hasFile = hasFile || facts.isFile;
        }
        // The joined value holds every file's bytes as text: read only when
        // the content of files is wanted.
        if (field.count == 1 && facts.contentIsJoined && (options.fileContent || !hasFile)) {
            field.valueIsContent = true;
            field.valueCut = facts.contentCut;
        } else if (options.fileContent || !hasFile) {
            platform::Variant joined;
            ReadText(fields, "Item", &joined);
            field.value.clear();
            AppendJsonString(field.value, CutText(TextOf(joined), options.maxTextLength, &field.valueCut));
        }
        report.fields.push_back(std::move(field));
    }
    return report;
}

namespace {
// An upper bound of the document's length, so that it is made in one block:
// a report of 10,000 fields is tens of megabytes, and each doubling of a
// growing text would copy it and fault in new memory.
size_t JsonLengthBound(const FormReport& report) {
    size_t length = 128;
    for (const FieldReport& field : report.fields) {
        length += 6 * field.name.size() + field.valueJson().size() + 128;
        for (const ItemReport& item : field.items) length += item.json().size() + 4;
    }
    return length;
}
}  // namespace

namespace {
// Writes the document in order: the text between the report's own texts to
// `between` (made for the call), the report's texts (the fields' values,
// the items' members) to `kept`.
template <class Between, class Kept>
void WriteReportJson(const FormReport& report, Between&& between, Kept&& kept) {
    between(std::string("{\"Multipart\": ") + (report.multipart ? "true" : "false") +
            ", \"Count\": " + std::to_string(report.count) + ", \"Fields\": [");
    for (size_t f = 0; f < report.fields.size(); ++f) {
        const FieldReport& field = report.fields[f];
        between(f ? ", {\"Name\": " : "{\"Name\": ");
        between(JsonString(field.name));
        between(", \"Count\": " + std::to_string(field.count) + ", \"Value\": ");
        kept(field.valueJson());
        if (field.valueCut) between(", \"ValueCut\": " + std::to_string(field.valueCut));
        between(", \"Items\": [");
        for (size_t i = 0; i < field.items.size(); ++i) {
            between(i ? ", {" : "{");
            kept(field.items[i].json());
            between("}");
        }
        between("]}");
    }
    between("]}");
}
}  // namespace

std::string FormReportJson(const FormReport& report) {
    // Appended piece by piece: a value is never copied into a temporary text.
    std::string json;
    json.reserve(JsonLengthBound(report));
    const auto append = [&](std::string_view piece) { json += piece; };
    WriteReportJson(report, append, append);
    return json;
}

std::vector<std::string_view> FormReportJsonPieces(const FormReport& report, std::string* between) {
    // Where each piece lies: in `between` (an offset, as it grows) or in the report.
    struct Piece {
        bool between;
        size_t offset;
        std::string_view kept;
    };
    std::vector<Piece> pieces;
    between->clear();
    WriteReportJson(
        report,
        [&](std::string_view text) {
            if (pieces.empty() || !pieces.back().between) pieces.push_back({true, between->size(), {}});
            *between += text;
        },
        [&](std::string_view text) { pieces.push_back({false, 0, text}); });
    // Each piece between ends where the next begins: read from the end.
    std::vector<std::string_view> views(pieces.size());
    size_t end = between->size();
    for (size_t i = pieces.size(); i-- > 0;) {
        if (!pieces[i].between) {
            views[i] = pieces[i].kept;
            continue;
        }
        views[i] = std::string_view(*between).substr(pieces[i].offset, end - pieces[i].offset);
        end = pieces[i].offset;
    }
    return views;
}

std::string ScriptErrorFieldsJson(const ScriptError& error) {
    char hr[16];
    std::snprintf(hr, sizeof hr, "0x%08x", static_cast<unsigned>(error.hr));
    return std::string("{\"HRESULT\": \"") + hr + "\", \"Source\": " + JsonString(error.source) +
           ", \"Description\": " + JsonString(error.description) + "}";
}

std::string ScriptErrorJson(const ScriptError& error) { return "{\"Error\": " + ScriptErrorFieldsJson(error) + "}"; }
