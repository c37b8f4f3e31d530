// Builds the report of a form through late binding.
#include "client/FormReport.h"

#include <algorithm>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/Page.h"
#include "client/LongText.h"
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
void ReadText(DispatchObject& object, const std::string& name, platform::Variant* value,
              std::vector<VARIANT> args = {}) {
    if (!object.get(name, value, std::move(args))) throw MemberFailure{object.error()};
    if (value->vt != VT_BSTR && FAILED(VariantChangeType(value, value, 0, VT_BSTR))) VariantClear(value);
}

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
    if (value->vt != (VT_ARRAY | VT_UI1) || !value->parray)
        throw MemberFailure{{E_UNEXPECTED, "", name + " gave no bytes"}};
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
    const char* const kMembers[] = {"Name",         "Content",     "Length",      "FileExists",
                                    "SafeFileName", "FileType",    "FileName",    "MIMEType",
                                    "MacBinary",    "RawFilePath", "RawFileName", "RawFileType",
                                    "RawLength",    "ImageType",   "ImageWidth",  "ImageHeight"};
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
