// Late binding as a script does it: objects created by ProgID and used
// through IDispatch by member name.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ComPtr.h"

// A failed call: the HRESULT and, for members that raised an exception,
// its source and description.
struct ScriptError {
    HRESULT hr = S_OK;
    std::string source;
    std::string description;
};

// DISPIDs by member name, for many objects of one kind (a form's items):
// objects that give one and the same type information have the same
// members, so each name is looked up once per type rather than per call.
class MemberIds {
public:
    // The DISPID of `name` among the members `type` describes, asked of
    // `object` (which `type` describes) the first time.
    HRESULT find(IDispatch* object, ITypeInfo* type, const std::string& name, DISPID* id);

private:
    // A form's objects are of a few types: each type's names are found by
    // a search of that short list, then by their hash.
    struct TypeIds {
        platform::ComPtr<ITypeInfo> type;  // held, so that no other type can take its address
        std::unordered_map<std::string, DISPID> ids;
    };
    std::vector<TypeIds> mTypes;
};

class DispatchObject {
public:
    DispatchObject() = default;
    explicit DispatchObject(IDispatch* object);  // takes one reference

    // CreateObject(progId); check ok() and error().
    static DispatchObject Create(const std::string& progId);

    bool ok() const { return static_cast<bool>(mObject) && mError.hr == S_OK; }
    const ScriptError& error() const { return mError; }
    IDispatch* get() const { return mObject.get(); }

    // Each returns false (with error() set) when the call fails.
    bool get(const std::string& name, VARIANT* result, std::vector<VARIANT> args = {});
    bool put(const std::string& name, const VARIANT& value);
    bool call(const std::string& name, std::vector<VARIANT> args = {}, VARIANT* result = nullptr);

    // An object a member gives (a collection, an item); an empty object,
    // with error() set, when the call fails or gives no object. Called on
    // such an empty object it passes that first failure on.
    DispatchObject getObject(const std::string& name, std::vector<VARIANT> args = {});

    // Looks member names up through `ids` (which must outlive this object and
    // the objects its members give, which share it).
    void shareIds(MemberIds* ids) { mIds = ids; }

    // Convenience reads.
    long getLong(const std::string& name);
    bool getBool(const std::string& name);
    std::string getString(const std::string& name);

private:
    bool invoke(const std::string& name, WORD flags, std::vector<VARIANT>& args, VARIANT* result);
    HRESULT findId(const std::string& name, DISPID* id);

    platform::ComPtr<IDispatch> mObject;
    ScriptError mError;
    MemberIds* mIds = nullptr;
    platform::ComPtr<ITypeInfo> mType;  // asked for once, when ids are shared
    bool mTypeAsked = false;
};

VARIANT MakeLong(long value);
VARIANT MakeBool(bool value);
VARIANT MakeString(const std::string& utf8);  // the caller's VARIANT owns the BSTR
std::string VariantText(const VARIANT& value);
