// The Err object: the last error an On Error Resume Next let pass, its
// Number, Description and Source, Raise and Clear.
#pragma once

#include <string>
#include <vector>

#include "vbscript/RuntimeError.h"
#include "vbscript/Value.h"

namespace vbs {

class ErrObject {
public:
    // The error a statement raised, kept while the program goes on.
    void set(const RuntimeError& error);
    void clear();
    // Err.<name>(args): a property read or a method (Raise throws).
    Value member(const std::string& name, std::vector<Value>& args);
    // Err.<name> = value.
    void put(const std::string& name, const Value& value);

    int32_t number() const { return mNumber; }

private:
    int32_t mNumber = 0;
    std::string mDescription, mSource, mHelpFile;
    int32_t mHelpContext = 0;
};

}  // namespace vbs
