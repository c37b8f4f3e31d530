// The in-memory form of one registry file and its REGEDIT4 text.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace platform::registry {

struct Value {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct Key {
    std::string name;                                      // as created: names keep their case
    std::vector<Value> values;                             // in the order they were first set
    std::map<std::string, std::unique_ptr<Key>> children;  // by folded name

    Key* child(const std::string& childName) const;
    Key* addChild(const std::string& childName);
    Value* value(const std::string& valueName);
    bool removeValue(const std::string& valueName);
};

// Folds a name for comparison without regard to case.
std::string FoldName(const std::string& name);

// Parses REGEDIT4 text whose keys all lie under `rootName`. On failure
// returns nullptr and describes the first problem (with its line) in *error.
std::unique_ptr<Key> ParseRegFile(const std::string& text, const std::string& rootName, std::string* error);
std::string FormatRegFile(const Key& root, const std::string& rootName);

// Whether a key or value name can be stored in the text form.
bool IsStorableName(const std::string& name, bool isKeyName);

}  // namespace platform::registry
