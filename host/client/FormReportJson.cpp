// The report as the JSON document formix4-inspect prints, whole or in
// pieces, and script errors as JSON.
#include "client/FormReport.h"

#include <cstdio>

#include "core/Page.h"

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
        [&](std::string_view text) {
            pieces.push_back({false, 0, text});
        });
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
