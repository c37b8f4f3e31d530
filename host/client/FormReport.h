// The form as a page sees it: its fields by name, each name's joined value,
// and every item's members, with the bytes of its data, raw data and
// resource fork given by length and SHA-256. Everything is read by member
// name through IDispatch, as a script would; the report is then written as
// JSON (the document formix4-inspect prints) or shown by a page.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/Script.h"

// A member call that failed while the report was built.
struct MemberFailure {
    ScriptError error;
};

// One member's value as JSON. Its plain text to show is read from the JSON
// when asked (a form of 10,000 fields would otherwise hold each text twice),
// unless the value shows otherwise (a digest, an error).
struct ReportValue {
    std::string json;
    std::optional<std::string> shown;

    // `shown`, else what the JSON reads as: a string's characters, "" for
    // null, a number or a boolean as written.
    std::string text() const;
};

struct ItemReport {
    // In report order; the names are static texts (the member names).
    std::vector<std::pair<const char*, ReportValue>> members;

    void add(const char* name, ReportValue value) { members.emplace_back(name, std::move(value)); }
    // Gives a member added before its value.
    void set(const char* name, ReportValue value);
    // The member's plain text; "" when absent.
    std::string text(const char* name) const;
};

struct FieldReport {
    std::string name;
    long count = 0;
    ReportValue value;  // the joined value of all items
    size_t valueCut = 0;  // characters of the joined value left out
    std::vector<ItemReport> items;
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
    // Adds members to an item after the standard ones; may throw MemberFailure.
    std::function<void(DispatchObject& field, ItemReport& item)> extras;
};

// Reads the report of a form that has read its body. Throws MemberFailure.
FormReport ReadFormReport(DispatchObject& form, const ReportOptions& options = {});

// The report value of some bytes: {"Length": n, "SHA256": "..."}.
ReportValue BytesValue(const uint8_t* data, size_t length);
// The same from a length and a digest made elsewhere.
ReportValue DigestValue(uint64_t length, const std::string& digest);
// The report value of a member that gives bytes (Data, RawData, Resource).
ReportValue MemberBytes(DispatchObject& field, const std::string& name);
// Adds Data, RawData and Resource to an item whose MacBinary member is read;
// `data`, when given, is the item's Data already read. Without a MacBinary
// header the raw bytes are the data and there is no resource fork: the
// bytes are read once.
void AddItemBytes(DispatchObject& field, ItemReport& item, const VARIANT* data = nullptr);

// {"Multipart": ..., "Count": ..., "Fields": [...]}
std::string FormReportJson(const FormReport& report);

// {"Error": {"HRESULT": "0x........", "Source": ..., "Description": ...}}
std::string ScriptErrorJson(const ScriptError& error);
// The object inside that document: {"HRESULT": ..., "Source": ..., "Description": ...}
std::string ScriptErrorFieldsJson(const ScriptError& error);
