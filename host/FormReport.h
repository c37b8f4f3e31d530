// The form as a page sees it, written as one JSON document: its fields by
// name, each name's joined value, and every item's members, with the bytes
// of its data, raw data and resource fork given by length and SHA-256.
// Everything is read by member name through IDispatch, as a script would.
#pragma once

#include <functional>
#include <string>

#include "Script.h"

// A member call that failed while the report was built.
struct MemberFailure {
    ScriptError error;
};

// Further members a caller adds to each item, written as
// ", \"Name\": value" pairs; may throw MemberFailure.
using ItemExtras = std::function<std::string(DispatchObject& field)>;

// {"Multipart": ..., "Count": ..., "Fields": [...]} of a form that has read
// its body. Throws MemberFailure.
std::string FormReportJson(DispatchObject& form, const ItemExtras& extras = {});

// {"Error": {"HRESULT": "0x........", "Source": ..., "Description": ...}}
std::string ScriptErrorJson(const ScriptError& error);
