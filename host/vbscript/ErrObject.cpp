#include "vbscript/ErrObject.h"

#include "vbscript/Conversions.h"

namespace vbs {

namespace {
constexpr const char* kLanguageSource = "VBScript runtime error";
bool Given(const std::vector<Value>& args, size_t n) { return args.size() > n && args[n].vt != VT_ERROR; }
}  // namespace

void ErrObject::set(const RuntimeError& error) {
    mNumber = error.number;
    mDescription = error.description;
    mSource = error.source.empty() ? kLanguageSource : error.source;
}

void ErrObject::clear() {
    mNumber = 0;
    mHelpContext = 0;
    mDescription.clear();
    mSource.clear();
    mHelpFile.clear();
}

Value ErrObject::member(const std::string& name, std::vector<Value>& args) {
    if (name == "raise") {
        if (!Given(args, 0)) throw RuntimeError(kArgumentNotOptional);
        const int32_t number = ToLong(args[0]);
        if (number == 0) throw RuntimeError(kInvalidCall);
        std::string description = Given(args, 2) ? ToUtf8(args[2]) : RuntimeErrorText(number);
        if (description.empty()) description = "Unknown runtime error";
        throw RuntimeError(number, description, Given(args, 1) ? ToUtf8(args[1]) : kLanguageSource);
    }
    if (name == "clear") {
        clear();
        return Value();
    }
    if (!args.empty()) throw RuntimeError(kWrongArguments, name);
    if (name == "number") return Value::Long(mNumber);
    if (name == "description") return Value::Utf8(mDescription);
    if (name == "source") return Value::Utf8(mSource);
    if (name == "helpfile") return Value::Utf8(mHelpFile);
    if (name == "helpcontext") return Value::Long(mHelpContext);
    throw RuntimeError(kNoSuchMember, name);
}

void ErrObject::put(const std::string& name, const Value& value) {
    if (name == "number")
        mNumber = ToLong(value);
    else if (name == "description")
        mDescription = ToUtf8(value);
    else if (name == "source")
        mSource = ToUtf8(value);
    else if (name == "helpfile")
        mHelpFile = ToUtf8(value);
    else if (name == "helpcontext")
        mHelpContext = ToLong(value);
    else
        throw RuntimeError(kNoSuchMember, name);
}

}  // namespace vbs
