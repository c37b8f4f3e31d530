// The form as a page sees it: its fields by name, each name's joined value,
// and every item's members, with the bytes of its data, raw data and
// resource fork given by length and SHA-256. Everything is read by member
// name through IDispatch, as a script would; the report is then written as
// JSON (the document formix4-inspect prints) or shown by a page.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/ItemReport.h"
#include "client/Script.h"

// A member call that failed while the report was built.
struct MemberFailure {
    ScriptError error;
};

struct FieldReport {
    std::string name;
    long count = 0;
    // The joined value of all items as JSON, unless it is the one item's
    // Content, which is then not held twice.
    std::string value = "null";
    bool valueIsContent = false;
    size_t valueCut = 0;  // characters of the joined value left out
    std::vector<ItemReport> items;

    std::string_view valueJson() const { return valueIsContent ? items.front().value("Content") : value; }
};

struct FormReport {
    bool multipart = false;
    long count = 0;
    std::vector<FieldReport> fields;
};

struct ReportOptions {
    // Content of items that are files; off, their Content is null, and so is
    // the joined Value of a field with a file among its items.
    bool fileContent = true;
    // Data, RawData and Resource of items that are files, read through the
    // members (each a copy of the bytes); off, `extras` must add them.
    bool fileBytes = true;
    // Texts (an item's Content, a field's joined Value) longer than this many
    // characters are cut to it, and "ContentCut" or "ValueCut" says how many
    // were left out, so that a field of 200 MB is not copied whole into the
    // answer several times. 0: texts whole.
    size_t maxTextLength = 0;
    // Hands the bytes of a text longer than maxTextLength to `piece`, in
    // order, so that they are never held whole; false when it cannot, and
    // they are then read whole (Data). Unset: read whole. May throw
    // MemberFailure.
    std::function<bool(DispatchObject& field, const std::function<void(const uint8_t*, size_t)>& piece)> longTextBytes;
    // Adds members to an item after the standard ones; may throw MemberFailure.
    std::function<void(DispatchObject& field, ItemReport& item)> extras;
};

// Reads the report of a form that has read its body. Throws MemberFailure.
FormReport ReadFormReport(DispatchObject& form, const ReportOptions& options = {});

// The report value of some bytes: {"Length": n, "SHA256": "..."}.
std::string BytesValue(const uint8_t* data, size_t length);
// The value of no bytes (an item without a resource fork), made once.
const std::string& NoBytesValue();
// The same from a length and a digest made elsewhere.
std::string DigestValue(uint64_t length, const std::string& digest);
// The report value of a member that gives bytes (Data, RawData, Resource).
std::string MemberBytes(DispatchObject& field, const std::string& name);
// Adds Data, RawData and Resource to an item whose MacBinary member is read;
// `dataValue`, when given, is the value of the item's Data, made already.
// Without a MacBinary header the raw bytes are the data and there is no
// resource fork: the bytes are read once.
void AddItemBytes(DispatchObject& field, ItemReport& item, const std::string* dataValue = nullptr);

// {"Multipart": ..., "Count": ..., "Fields": [...]}
std::string FormReportJson(const FormReport& report);
// The same document as pieces in order, which view the report's own texts
// and `between` (filled with the text between them): an answer of tens of
// megabytes is sent from them without being copied into one text. The
// views hold while the report and `between` are unchanged.
std::vector<std::string_view> FormReportJsonPieces(const FormReport& report, std::string* between);

// {"Error": {"HRESULT": "0x........", "Source": ..., "Description": ...}}
std::string ScriptErrorJson(const ScriptError& error);
// The object inside that document: {"HRESULT": ..., "Source": ..., "Description": ...}
std::string ScriptErrorFieldsJson(const ScriptError& error);
