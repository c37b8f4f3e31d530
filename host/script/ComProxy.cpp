#include "script/ComProxy.h"

#include <duktape.h>

#include <algorithm>
#include <cstring>
#include <strings.h>
#include <map>
#include <string>
#include <vector>

#include "core/RuntimeErrors.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "script/ComCalls.h"
#include "script/ComErrors.h"
#include "script/ComHolders.h"
#include "script/ScriptEngine.h"
#include "script/ScriptValues.h"

namespace script {

namespace {

using platform::ComPtr;

// Hidden key: the proxy handler, kept in the heap's stash.
constexpr const char* kHandlerKey = DUK_HIDDEN_SYMBOL("comHandler");

// The language's own error for a name an object does not have (438).
constexpr HRESULT kNoSuchMember = static_cast<HRESULT>(0x800A01B6);

duk_ret_t FinalizeDispatch(duk_context* context) {
    if (HiddenPointer<IUnknown>(context, 0, kDispatchKey)) ScriptEngine::CountObject(context, -1);
    return ReleaseUnknown(context, kDispatchKey);
}

bool FindMember(IDispatch* object, const char* name, DISPID* member) {
    const std::u16string wide = platform::codepage::Utf8ToUtf16(name);
    LPOLESTR names[] = {const_cast<LPOLESTR>(wide.c_str())};
    return SUCCEEDED(object->GetIDsOfNames(GUID_NULL, names, 1, 0, member));
}

// How a member is used when it is named without a call.
enum class Shape { Value, Callable, Unknown };

// From the type information: a property without parameters is a value
// read at once; methods and properties with parameters are callables (a
// form's Item takes an index). Unknown when the type does not describe it.
Shape ShapeInTypes(ITypeInfo* info, DISPID member) {
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes)) || !attributes) return Shape::Unknown;
    const WORD functions = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    Shape shape = Shape::Unknown;
    for (UINT i = 0; i < functions && shape == Shape::Unknown; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc)) || !desc) continue;
        if (desc->memid == member && !(desc->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF))) {
            int inputs = 0;
            for (SHORT p = 0; p < desc->cParams; ++p)
                if (!(desc->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) ++inputs;
            shape = desc->invkind == INVOKE_PROPERTYGET && inputs == 0 ? Shape::Value : Shape::Callable;
        }
        info->ReleaseFuncDesc(desc);
    }
    return shape;
}

// The shape of an object's member, found once per type and member on each
// thread. The cache holds a reference to each type it knows, so that no
// other type can come to have the same address.
Shape MemberShape(IDispatch* object, DISPID member) {
    UINT count = 0;
    ComPtr<ITypeInfo> info;
    if (FAILED(object->GetTypeInfoCount(&count)) || count == 0 || FAILED(object->GetTypeInfo(0, 0, info.put())) ||
        !info)
        return Shape::Unknown;
    struct Known {
        std::map<std::pair<ITypeInfo*, DISPID>, Shape> shapes;
        std::vector<ComPtr<ITypeInfo>> types;
    };
    thread_local Known known;
    const auto key = std::make_pair(info.get(), member);
    const auto found = known.shapes.find(key);
    if (found != known.shapes.end()) return found->second;
    if (known.shapes.size() >= 4096) known = Known();  // bounded: types a server meets are few
    const Shape shape = ShapeInTypes(info.get(), member);
    if (std::none_of(known.types.begin(), known.types.end(),
                     [&](const ComPtr<ITypeInfo>& type) { return type.get() == info.get(); }))
        known.types.push_back(info);
    known.shapes.emplace(key, shape);
    return shape;
}

// ---- the script object of a COM object: a proxy over a callable target -----

// The object and member a callable at `index` stands for.
IDispatch* MemberOf(duk_context* context, duk_idx_t index, DISPID* member) {
    index = duk_normalize_index(context, index);
    duk_get_prop_string(context, index, kOwnerKey);
    IDispatch* object = DispatchOf(context, -1);
    duk_get_prop_string(context, index, kMemberKey);
    *member = static_cast<DISPID>(duk_get_int(context, -1));
    duk_pop_2(context);
    return object;
}

duk_ret_t CallMember(duk_context* context) {
    const duk_idx_t count = duk_get_top(context);
    duk_push_current_function(context);
    DISPID member = DISPID_UNKNOWN;
    IDispatch* object = MemberOf(context, -1, &member);
    duk_pop(context);
    if (!object) ThrowComError(context, E_POINTER, ErrorText(E_POINTER));
    CallAndPush(context, object, member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, count);
    return 1;
}

// A callable member named without a call reads as its value where the
// language wants one ("" + form.Item gives the form's default).
duk_ret_t MemberValue(duk_context* context) {
    duk_push_this(context);
    DISPID member = DISPID_UNKNOWN;
    IDispatch* object = MemberOf(context, -1, &member);
    duk_pop(context);
    if (!object) ThrowComError(context, E_POINTER, ErrorText(E_POINTER));
    CallAndPush(context, object, member, DISPATCH_PROPERTYGET, 0, 0);
    return 1;
}

// Pushes the callable for `member` of the object whose proxy target is at `target`.
void PushCallable(duk_context* context, duk_idx_t target, DISPID member) {
    target = duk_normalize_index(context, target);
    duk_push_c_function(context, CallMember, DUK_VARARGS);
    duk_dup(context, target);
    duk_put_prop_string(context, -2, kOwnerKey);
    duk_push_int(context, member);
    duk_put_prop_string(context, -2, kMemberKey);
    duk_push_c_function(context, MemberValue, 0);
    duk_put_prop_string(context, -2, "valueOf");
    duk_push_c_function(context, MemberValue, 0);
    duk_put_prop_string(context, -2, "toString");
}

// The object's default value, for valueOf and toString of objects that
// have neither as a member.
duk_ret_t DefaultValue(duk_context* context) {
    duk_push_this(context);
    IDispatch* object = DispatchOf(context, -1);
    duk_pop(context);
    if (!object) ThrowComError(context, E_POINTER, ErrorText(E_POINTER));
    CallAndPush(context, object, DISPID_VALUE, DISPATCH_PROPERTYGET, 0, 0);
    return 1;
}

// Names the language itself asks of any object (for conversions, JSON,
// promises): an object without such a member answers undefined to them.
bool IsLanguageProbe(const char* name) {
    static const char* const kProbes[] = {"toJSON", "then",    "constructor",    "prototype",     "length",
                                          "name",   "inspect", "toLocaleString", "hasOwnProperty"};
    for (const char* probe : kProbes)
        if (std::strcmp(name, probe) == 0) return true;
    return false;
}

// get(target, key, receiver)
duk_ret_t TrapGet(duk_context* context) {
    if (duk_is_symbol(context, 1)) return 0;
    const char* name = duk_to_string(context, 1);
    IDispatch* object = DispatchOf(context, 0);
    if (!object) return 0;
    DISPID member = DISPID_UNKNOWN;
    if (!FindMember(object, name, &member)) {
        if (std::strcmp(name, "valueOf") == 0 || std::strcmp(name, "toString") == 0) {
            duk_push_c_function(context, DefaultValue, 0);
            return 1;
        }
        if (IsLanguageProbe(name)) return 0;
        ThrowComError(context, kNoSuchMember, std::string("Object doesn't support this property or method: ") + name);
    }
    Shape shape = MemberShape(object, member);
    // A collection's Item, its default member, takes the index or name it
    // is called with (collection.Item("a")); read without a call it still
    // gives its value. Other default members (a file's Path) are values.
    if (shape == Shape::Unknown && member == DISPID_VALUE && strcasecmp(name, "Item") == 0) shape = Shape::Callable;
    if (shape == Shape::Unknown) {
        // Without types the member is read as a property; one that wants a
        // call or arguments says so, and becomes a callable.
        Arguments none(context, 0, 0);
        platform::ExcepInfo exception;
        platform::Variant result;
        const HRESULT hr = Call(object, member, DISPATCH_PROPERTYGET, none, &result, &exception);
        if (SUCCEEDED(hr)) {
            PushVariant(context, result);
            return 1;
        }
        if (hr != DISP_E_MEMBERNOTFOUND && hr != DISP_E_BADPARAMCOUNT && hr != DISP_E_PARAMNOTOPTIONAL)
            ThrowCallError(context, hr, exception);
        shape = Shape::Callable;
    }
    if (shape == Shape::Callable) {
        PushCallable(context, 0, member);
        return 1;
    }
    CallAndPush(context, object, member, DISPATCH_PROPERTYGET, 0, 0);
    return 1;
}

// set(target, key, value, receiver)
duk_ret_t TrapSet(duk_context* context) {
    IDispatch* object = DispatchOf(context, 0);
    const char* name = duk_is_symbol(context, 1) ? "" : duk_to_string(context, 1);
    DISPID member = DISPID_UNKNOWN;
    if (!object || !FindMember(object, name, &member))
        ThrowComError(context, kNoSuchMember, std::string("Object doesn't support this property or method: ") + name);
    Arguments args(context, 2, 1);
    platform::ExcepInfo exception;
    const HRESULT hr = Call(object, member, DISPATCH_PROPERTYPUT, args, nullptr, &exception);
    if (FAILED(hr)) ThrowCallError(context, hr, exception);
    duk_push_true(context);
    return 1;
}

// has(target, key)
duk_ret_t TrapHas(duk_context* context) {
    IDispatch* object = DispatchOf(context, 0);
    DISPID member = DISPID_UNKNOWN;
    duk_push_boolean(context,
                     object && !duk_is_symbol(context, 1) && FindMember(object, duk_to_string(context, 1), &member));
    return 1;
}

// apply(target, this, arguments): the object called is its default member.
duk_ret_t TrapApply(duk_context* context) {
    IDispatch* object = DispatchOf(context, 0);
    if (!object) ThrowComError(context, E_POINTER, ErrorText(E_POINTER));
    const duk_idx_t first = duk_get_top(context);
    const auto count = static_cast<duk_idx_t>(duk_get_length(context, 2));
    for (duk_idx_t i = 0; i < count; ++i) duk_get_prop_index(context, 2, static_cast<duk_uarridx_t>(i));
    CallAndPush(context, object, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, first, count);
    return 1;
}

duk_ret_t NotCallable(duk_context*) { return DUK_RET_TYPE_ERROR; }

// The proxy handler, made once per heap and kept in its stash.
void PushHandler(duk_context* context) {
    duk_push_heap_stash(context);
    if (!duk_get_prop_string(context, -1, kHandlerKey)) {
        duk_pop(context);
        duk_push_object(context);
        const duk_function_list_entry traps[] = {{"get", TrapGet, 3},
                                                 {"set", TrapSet, 4},
                                                 {"has", TrapHas, 2},
                                                 {"apply", TrapApply, 3},
                                                 {nullptr, nullptr, 0}};
        duk_put_function_list(context, -1, traps);
        duk_dup_top(context);
        duk_put_prop_string(context, -3, kHandlerKey);
    }
    duk_remove(context, -2);
}

// __assignToCall(target, [arguments], value): what a page's
// `target(arguments) = value` means for an object. The target is an object
// (its default member is written) or one of its members; a member that
// cannot be written with arguments is called with them, and the default
// member of what it gives is written (Response.Cookies("name") = "value").
duk_ret_t AssignToCall(duk_context* context) {
    const auto count = static_cast<duk_idx_t>(duk_get_length(context, 1));
    IDispatch* object = DispatchOf(context, 0);
    DISPID member = DISPID_VALUE;
    if (!object && duk_is_function(context, 0)) object = MemberOf(context, 0, &member);
    if (!object)
        ThrowComError(context, host::kInvalidProcedureCall, "Only an object's member can be assigned to this way.");
    const duk_idx_t first = duk_get_top(context);
    for (duk_idx_t i = 0; i < count; ++i) duk_get_prop_index(context, 1, static_cast<duk_uarridx_t>(i));
    duk_dup(context, 2);
    {
        Arguments args(context, first, count + 1);
        platform::ExcepInfo exception;
        const HRESULT hr = Call(object, member, DISPATCH_PROPERTYPUT, args, nullptr, &exception);
        if (SUCCEEDED(hr)) return 0;
        if (hr != DISP_E_MEMBERNOTFOUND && hr != DISP_E_BADPARAMCOUNT) ThrowCallError(context, hr, exception);
    }
    duk_pop(context);  // the value
    CallAndPush(context, object, member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, first, count);
    IDispatch* result = DispatchOf(context, -1);
    if (!result) ThrowComError(context, host::kInvalidProcedureCall, "The member's value cannot be assigned to.");
    duk_dup(context, 2);
    Arguments value(context, -1, 1);
    platform::ExcepInfo exception;
    const HRESULT hr = Call(result, DISPID_VALUE, DISPATCH_PROPERTYPUT, value, nullptr, &exception);
    if (FAILED(hr)) ThrowCallError(context, hr, exception);
    return 0;
}

}  // namespace

void PushObject(duk_context* context, IDispatch* object) {
    if (!object) {
        duk_push_null(context);
        return;
    }
    // The target is a function so that the object can be called (its
    // default member); the proxy's apply trap does the call.
    duk_push_c_function(context, NotCallable, DUK_VARARGS);
    object->AddRef();
    ScriptEngine::CountObject(context, +1);
    duk_push_pointer(context, object);
    duk_put_prop_string(context, -2, kDispatchKey);
    duk_push_c_function(context, FinalizeDispatch, 1);
    duk_set_finalizer(context, -2);
    PushHandler(context);
    duk_push_proxy(context, 0);
}

void InstallAssignToCall(duk_context* context) {
    duk_push_c_function(context, AssignToCall, 3);
    duk_put_prop_string(context, -2, "__assignToCall");
}

}  // namespace script
