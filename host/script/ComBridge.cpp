#include "script/ComBridge.h"

#include <duktape.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <map>
#include <ctime>
#include <stdexcept>
#include <vector>

#include "core/RuntimeErrors.h"
#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/System.h"
#include "script/LocalTime.h"
#include "script/ScriptEngine.h"
#include "script/ScriptObjects.h"

namespace script {

namespace {

using platform::ComPtr;

// Hidden keys: a proxy's target keeps its object, an array holder its array.
#define DISPATCH_KEY DUK_HIDDEN_SYMBOL("dispatch")
#define UNKNOWN_KEY DUK_HIDDEN_SYMBOL("unknown")
#define ARRAY_KEY DUK_HIDDEN_SYMBOL("safearray")
#define MEMBER_KEY DUK_HIDDEN_SYMBOL("member")
#define OWNER_KEY DUK_HIDDEN_SYMBOL("owner")
#define ENUM_KEY DUK_HIDDEN_SYMBOL("enum")
#define CURRENT_KEY DUK_HIDDEN_SYMBOL("current")
#define HANDLER_KEY DUK_HIDDEN_SYMBOL("comHandler")

// The language's own error for a name an object does not have (438).
constexpr HRESULT kNoSuchMember = static_cast<HRESULT>(0x800A01B6);

// ---- text -------------------------------------------------------------------

void AppendCesu(std::string& out, char16_t unit) {
    if (unit < 0x80) {
        out += static_cast<char>(unit);
    } else if (unit < 0x800) {
        out += static_cast<char>(0xC0 | (unit >> 6));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (unit >> 12));
        out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    }
}

std::u16string DecodeEngineText(const unsigned char* text, size_t length) {
    std::u16string result;
    result.reserve(length);
    for (size_t i = 0; i < length;) {
        const unsigned char lead = text[i];
        const size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        if (i + extra >= length) {  // a cut sequence: the engine never makes one
            result += u'\uFFFD';
            break;
        }
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) code = (code << 6) | (text[i + k] & 0x3F);
        i += extra + 1;
        if (code > 0xFFFF) {
            code -= 0x10000;
            result += static_cast<char16_t>(0xD800 | (code >> 10));
            result += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
        } else {
            result += static_cast<char16_t>(code);
        }
    }
    return result;
}

std::string Utf8(BSTR text) { return text ? platform::codepage::Utf16ToUtf8(std::u16string(text, SysStringLen(text))) : ""; }

// ---- dates ---------------------------------------------------------------------

bool IsDate(duk_context* context, duk_idx_t index) {
    if (!duk_is_object(context, index)) return false;
    duk_get_global_string(context, "Date");
    const bool date = duk_instanceof(context, index, -1);
    duk_pop(context);
    return date;
}

// ---- objects behind script values ---------------------------------------------

IDispatch* DispatchOf(duk_context* context, duk_idx_t index) {
    if (!duk_is_object(context, index)) return nullptr;
    duk_get_prop_string(context, index, DISPATCH_KEY);
    auto* object = static_cast<IDispatch*>(duk_get_pointer(context, -1));
    duk_pop(context);
    return object;
}

template <class T>
T* HiddenPointer(duk_context* context, duk_idx_t index, const char* key) {
    if (!duk_is_object(context, index)) return nullptr;
    duk_get_prop_string(context, index, key);
    T* pointer = static_cast<T*>(duk_get_pointer(context, -1));
    duk_pop(context);
    return pointer;
}

duk_ret_t ReleaseUnknown(duk_context* context, const char* key) {
    if (auto* object = HiddenPointer<IUnknown>(context, 0, key)) {
        duk_push_pointer(context, nullptr);
        duk_put_prop_string(context, 0, key);
        object->Release();
    }
    return 0;
}

duk_ret_t FinalizeDispatch(duk_context* context) {
    if (HiddenPointer<IUnknown>(context, 0, DISPATCH_KEY)) ScriptEngine::CountObject(context, -1);
    return ReleaseUnknown(context, DISPATCH_KEY);
}
duk_ret_t FinalizeUnknown(duk_context* context) { return ReleaseUnknown(context, UNKNOWN_KEY); }
duk_ret_t FinalizeEnum(duk_context* context) { return ReleaseUnknown(context, ENUM_KEY); }

duk_ret_t FinalizeArray(duk_context* context) {
    if (auto* array = HiddenPointer<SAFEARRAY>(context, 0, ARRAY_KEY)) {
        duk_push_pointer(context, nullptr);
        duk_put_prop_string(context, 0, ARRAY_KEY);
        SafeArrayDestroy(array);
    }
    return 0;
}

// Pushes an object that owns `array`; the language sees it as an opaque
// value that members take back and VBArray reads.
void PushArray(duk_context* context, SAFEARRAY* array) {
    duk_push_object(context);
    duk_push_pointer(context, array);
    duk_put_prop_string(context, -2, ARRAY_KEY);
    duk_push_c_function(context, FinalizeArray, 1);
    duk_set_finalizer(context, -2);
}

// ---- calls ------------------------------------------------------------------------

// EXCEPINFO's strings, freed however the call ends.
struct Exception : EXCEPINFO {
    Exception() : EXCEPINFO{} {}
    ~Exception() {
        SysFreeString(bstrSource);
        SysFreeString(bstrDescription);
        SysFreeString(bstrHelpFile);
    }
    Exception(const Exception&) = delete;
    Exception& operator=(const Exception&) = delete;
};

// The arguments of one call, in the reversed order IDispatch takes them.
class Arguments {
public:
    // The values at [first, first + count) of the stack.
    Arguments(duk_context* context, duk_idx_t first, duk_idx_t count) : mValues(static_cast<size_t>(count)) {
        for (VARIANT& value : mValues) VariantInit(&value);
        for (duk_idx_t i = 0; i < count; ++i) ToArgument(context, first + i, &mValues[static_cast<size_t>(count - 1 - i)]);
    }
    ~Arguments() {
        for (VARIANT& value : mValues) ClearArgument(&value);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    VARIANT* data() { return mValues.data(); }
    UINT size() const { return static_cast<UINT>(mValues.size()); }

private:
    std::vector<VARIANT> mValues;
};

HRESULT Call(IDispatch* object, DISPID member, WORD flags, Arguments& args, VARIANT* result, Exception* exception) {
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.data(), nullptr, args.size(), 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    UINT argError = 0;
    return object->Invoke(member, GUID_NULL, 0, flags, &params, result, exception, &argError);
}

[[noreturn]] void ThrowCallError(duk_context* context, HRESULT hr, const Exception& exception) {
    if (hr == DISP_E_EXCEPTION) {
        const HRESULT raised = exception.scode ? exception.scode : host::RuntimeError(exception.wCode);
        const std::string text = Utf8(exception.bstrDescription);
        ThrowComError(context, raised, text.empty() ? ErrorText(raised) : text, Utf8(exception.bstrSource));
    }
    ThrowComError(context, hr, ErrorText(hr));
}

// Calls the member and pushes its result; a failure throws.
void CallAndPush(duk_context* context, IDispatch* object, DISPID member, WORD flags, duk_idx_t first,
                 duk_idx_t count) {
    Arguments args(context, first, count);
    Exception exception;
    platform::Variant result;
    const HRESULT hr = Call(object, member, flags, args, &result, &exception);
    if (FAILED(hr)) ThrowCallError(context, hr, exception);
    PushVariant(context, result);
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
    if (FAILED(object->GetTypeInfoCount(&count)) || count == 0 || FAILED(object->GetTypeInfo(0, 0, info.put())) || !info)
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
    if (std::none_of(known.types.begin(), known.types.end(), [&](const ComPtr<ITypeInfo>& type) { return type.get() == info.get(); }))
        known.types.push_back(info);
    known.shapes.emplace(key, shape);
    return shape;
}

// ---- the script object of a COM object: a proxy over a callable target -----

// The object and member a callable at `index` stands for.
IDispatch* MemberOf(duk_context* context, duk_idx_t index, DISPID* member) {
    index = duk_normalize_index(context, index);
    duk_get_prop_string(context, index, OWNER_KEY);
    IDispatch* object = DispatchOf(context, -1);
    duk_get_prop_string(context, index, MEMBER_KEY);
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
    duk_put_prop_string(context, -2, OWNER_KEY);
    duk_push_int(context, member);
    duk_put_prop_string(context, -2, MEMBER_KEY);
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
    static const char* const kProbes[] = {"toJSON", "then", "constructor", "prototype", "length", "name",
                                          "inspect", "toLocaleString", "hasOwnProperty"};
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
        Exception exception;
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
    Exception exception;
    const HRESULT hr = Call(object, member, DISPATCH_PROPERTYPUT, args, nullptr, &exception);
    if (FAILED(hr)) ThrowCallError(context, hr, exception);
    duk_push_true(context);
    return 1;
}

// has(target, key)
duk_ret_t TrapHas(duk_context* context) {
    IDispatch* object = DispatchOf(context, 0);
    DISPID member = DISPID_UNKNOWN;
    duk_push_boolean(context, object && !duk_is_symbol(context, 1) && FindMember(object, duk_to_string(context, 1), &member));
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
    if (!duk_get_prop_string(context, -1, HANDLER_KEY)) {
        duk_pop(context);
        duk_push_object(context);
        const duk_function_list_entry traps[] = {
            {"get", TrapGet, 3}, {"set", TrapSet, 4}, {"has", TrapHas, 2}, {"apply", TrapApply, 3}, {nullptr, nullptr, 0}};
        duk_put_function_list(context, -1, traps);
        duk_dup_top(context);
        duk_put_prop_string(context, -3, HANDLER_KEY);
    }
    duk_remove(context, -2);
}

// ---- Enumerator ------------------------------------------------------------------

IEnumVARIANT* EnumOfThis(duk_context* context) {
    duk_push_this(context);
    auto* items = HiddenPointer<IEnumVARIANT>(context, -1, ENUM_KEY);
    duk_pop(context);
    return items;
}

// Fetches the next item into the enumerator's current slot (undefined at the end).
void Advance(duk_context* context, IEnumVARIANT* items) {
    platform::Variant item;
    ULONG fetched = 0;
    duk_push_this(context);
    if (items && items->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        PushVariant(context, item);
        duk_put_prop_string(context, -2, CURRENT_KEY);
        duk_push_false(context);
    } else {
        duk_del_prop_string(context, -1, CURRENT_KEY);
        duk_push_true(context);
    }
    duk_put_prop_string(context, -2, DUK_HIDDEN_SYMBOL("atEnd"));
    duk_pop(context);
}

duk_ret_t EnumeratorConstruct(duk_context* context) {
    if (!duk_is_constructor_call(context)) return DUK_RET_TYPE_ERROR;
    ComPtr<IEnumVARIANT> items;
    if (!duk_is_undefined(context, 0)) {
        IDispatch* collection = DispatchOf(context, 0);
        if (!collection) ThrowComError(context, static_cast<HRESULT>(0x800A01BD), "Object doesn't support this action: Enumerator needs a collection");
        duk_idx_t none = duk_get_top(context);
        CallAndPush(context, collection, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, 0);
        IUnknown* source = DispatchOf(context, -1);
        if (!source) source = HiddenPointer<IUnknown>(context, -1, UNKNOWN_KEY);
        if (!source || FAILED(source->QueryInterface(IID_IEnumVARIANT, items.putVoid())))
            ThrowComError(context, static_cast<HRESULT>(0x800A01BD), "Object doesn't support this action: Enumerator needs a collection");
        duk_pop(context);
    }
    duk_push_this(context);
    duk_push_pointer(context, items.detach());
    duk_put_prop_string(context, -2, ENUM_KEY);
    duk_push_c_function(context, FinalizeEnum, 1);
    duk_set_finalizer(context, -2);
    duk_pop(context);
    Advance(context, EnumOfThis(context));
    return 0;
}

duk_ret_t EnumeratorAtEnd(duk_context* context) {
    duk_push_this(context);
    duk_get_prop_string(context, -1, DUK_HIDDEN_SYMBOL("atEnd"));
    return 1;
}

duk_ret_t EnumeratorItem(duk_context* context) {
    duk_push_this(context);
    duk_get_prop_string(context, -1, CURRENT_KEY);
    return 1;
}

duk_ret_t EnumeratorMoveNext(duk_context* context) {
    Advance(context, EnumOfThis(context));
    return 0;
}

duk_ret_t EnumeratorMoveFirst(duk_context* context) {
    IEnumVARIANT* items = EnumOfThis(context);
    if (items) items->Reset();
    Advance(context, items);
    return 0;
}

// ---- VBArray ------------------------------------------------------------------------

SAFEARRAY* ArrayOfThis(duk_context* context) {
    duk_push_this(context);
    duk_get_prop_string(context, -1, ARRAY_KEY);
    auto* array = HiddenPointer<SAFEARRAY>(context, -1, ARRAY_KEY);
    duk_pop_2(context);
    return array;
}


duk_ret_t VBArrayConstruct(duk_context* context) {
    if (!duk_is_constructor_call(context)) return DUK_RET_TYPE_ERROR;
    if (!HiddenPointer<SAFEARRAY>(context, 0, ARRAY_KEY))
        ThrowComError(context, static_cast<HRESULT>(0x800A13A3), "VBArray expected");
    duk_push_this(context);
    duk_dup(context, 0);  // the holder: the array lives as long as either
    duk_put_prop_string(context, -2, ARRAY_KEY);
    return 0;
}

UINT Dimension(duk_context* context, SAFEARRAY* array) {
    const duk_int_t asked = duk_is_undefined(context, 0) ? 1 : duk_to_int(context, 0);
    if (asked < 1 || static_cast<UINT>(asked) > SafeArrayGetDim(array)) ThrowComError(context, host::kSubscriptOutOfRange, "Subscript out of range");
    return static_cast<UINT>(asked);
}

duk_ret_t VBArrayBound(duk_context* context, bool upper) {
    SAFEARRAY* array = ArrayOfThis(context);
    LONG bound = 0;
    if (!array) return DUK_RET_TYPE_ERROR;
    const UINT dim = Dimension(context, array);
    if (upper) SafeArrayGetUBound(array, dim, &bound);
    else SafeArrayGetLBound(array, dim, &bound);
    duk_push_int(context, bound);
    return 1;
}
duk_ret_t VBArrayUBound(duk_context* context) { return VBArrayBound(context, true); }
duk_ret_t VBArrayLBound(duk_context* context) { return VBArrayBound(context, false); }

duk_ret_t VBArrayDimensions(duk_context* context) {
    SAFEARRAY* array = ArrayOfThis(context);
    if (!array) return DUK_RET_TYPE_ERROR;
    duk_push_uint(context, SafeArrayGetDim(array));
    return 1;
}

// A copy of the element at `element` of an array of `type`.
void ElementValue(SAFEARRAY* array, VARTYPE type, const void* element, VARIANT* value) {
    if (type == VT_VARIANT) {
        VariantCopy(value, static_cast<const VARIANT*>(element));
        return;
    }
    VARIANT view;
    VariantInit(&view);
    view.vt = type;
    std::memcpy(&view.llVal, element, std::min<size_t>(SafeArrayGetElemsize(array), sizeof view.llVal));
    VariantCopy(value, &view);  // a string or an object gets its own copy or reference
}

duk_ret_t VBArrayGetItem(duk_context* context) {
    SAFEARRAY* array = ArrayOfThis(context);
    if (!array) return DUK_RET_TYPE_ERROR;
    const UINT dims = SafeArrayGetDim(array);
    if (static_cast<UINT>(duk_get_top(context)) != dims) ThrowComError(context, host::kSubscriptOutOfRange, "Subscript out of range");
    std::vector<LONG> indices(dims);
    for (UINT d = 0; d < dims; ++d) indices[d] = duk_to_int(context, static_cast<duk_idx_t>(d));
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(array, &type);
    // The element as SafeArrayGetElement copies it, owned by the VARIANT
    // that is handed to the script.
    platform::Variant value;
    void* slot = type == VT_VARIANT ? static_cast<void*>(&value) : static_cast<void*>(&value.llVal);
    if (FAILED(SafeArrayGetElement(array, indices.data(), slot))) ThrowComError(context, host::kSubscriptOutOfRange, "Subscript out of range");
    if (type != VT_VARIANT) value.vt = type;
    PushVariant(context, value);
    return 1;
}

// Every element in storage order, as one script array.
duk_ret_t VBArrayToArray(duk_context* context) {
    SAFEARRAY* array = ArrayOfThis(context);
    if (!array) return DUK_RET_TYPE_ERROR;
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(array, &type);
    size_t count = 1;
    for (UINT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
    duk_push_array(context);
    const auto* bytes = static_cast<const unsigned char*>(array->pvData);
    for (size_t i = 0; i < count; ++i) {
        platform::Variant value;
        ElementValue(array, type, bytes + i * array->cbElements, &value);
        PushVariant(context, value);
        duk_put_prop_index(context, -2, static_cast<duk_uarridx_t>(i));
    }
    return 1;
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
    if (!object) ThrowComError(context, host::kInvalidProcedureCall, "Only an object's member can be assigned to this way.");
    const duk_idx_t first = duk_get_top(context);
    for (duk_idx_t i = 0; i < count; ++i) duk_get_prop_index(context, 1, static_cast<duk_uarridx_t>(i));
    duk_dup(context, 2);
    {
        Arguments args(context, first, count + 1);
        Exception exception;
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
    Exception exception;
    const HRESULT hr = Call(result, DISPID_VALUE, DISPATCH_PROPERTYPUT, value, nullptr, &exception);
    if (FAILED(hr)) ThrowCallError(context, hr, exception);
    return 0;
}

void PushConstructor(duk_context* context, duk_c_function construct, duk_idx_t args,
                     const duk_function_list_entry* methods) {
    duk_push_c_function(context, construct, args);
    duk_push_object(context);
    duk_put_function_list(context, -1, methods);
    duk_put_prop_string(context, -2, "prototype");
}

}  // namespace

void InstallComTypes(duk_context* context) {
    const duk_function_list_entry enumerator[] = {{"atEnd", EnumeratorAtEnd, 0}, {"item", EnumeratorItem, 0},
                                                  {"moveNext", EnumeratorMoveNext, 0},
                                                  {"moveFirst", EnumeratorMoveFirst, 0}, {nullptr, nullptr, 0}};
    PushConstructor(context, EnumeratorConstruct, 1, enumerator);
    duk_put_prop_string(context, -2, "Enumerator");
    const duk_function_list_entry vbarray[] = {{"dimensions", VBArrayDimensions, 0}, {"lbound", VBArrayLBound, 1},
                                               {"ubound", VBArrayUBound, 1}, {"getItem", VBArrayGetItem, DUK_VARARGS},
                                               {"toArray", VBArrayToArray, 0}, {nullptr, nullptr, 0}};
    PushConstructor(context, VBArrayConstruct, 1, vbarray);
    duk_put_prop_string(context, -2, "VBArray");
    duk_push_c_function(context, AssignToCall, 3);
    duk_put_prop_string(context, -2, "__assignToCall");
}

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
    duk_put_prop_string(context, -2, DISPATCH_KEY);
    duk_push_c_function(context, FinalizeDispatch, 1);
    duk_set_finalizer(context, -2);
    PushHandler(context);
    duk_push_proxy(context, 0);
}

void PushVariant(duk_context* context, VARIANT& value) {
    if (value.vt & VT_BYREF) {
        platform::Variant plain;
        if (FAILED(VariantCopyInd(&plain, &value))) plain.vt = VT_EMPTY;
        VariantClear(&value);
        PushVariant(context, plain);
        return;
    }
    if (value.vt & VT_ARRAY) {
        SAFEARRAY* array = value.parray;
        value.vt = VT_EMPTY;  // the holder owns it now
        if (!array) duk_push_null(context);
        else PushArray(context, array);
        return;
    }
    switch (value.vt) {
    case VT_EMPTY: duk_push_undefined(context); break;
    case VT_NULL: duk_push_null(context); break;
    case VT_BOOL: duk_push_boolean(context, value.boolVal != VARIANT_FALSE); break;
    case VT_I1: duk_push_int(context, value.cVal); break;
    case VT_UI1: duk_push_uint(context, value.bVal); break;
    case VT_I2: duk_push_int(context, value.iVal); break;
    case VT_UI2: duk_push_uint(context, value.uiVal); break;
    case VT_I4: case VT_INT: duk_push_int(context, value.lVal); break;
    case VT_UI4: case VT_UINT: duk_push_uint(context, value.ulVal); break;
    case VT_I8: duk_push_number(context, static_cast<double>(value.llVal)); break;
    case VT_UI8: duk_push_number(context, static_cast<double>(value.ullVal)); break;
    case VT_R4: duk_push_number(context, value.fltVal); break;
    case VT_R8: duk_push_number(context, value.dblVal); break;
    case VT_BSTR: PushScriptString(context, value.bstrVal, SysStringLen(value.bstrVal)); break;
    case VT_DATE:
        duk_get_global_string(context, "Date");
        duk_push_number(context, MsFromOleDate(value.date));
        duk_new(context, 1);
        break;
    case VT_ERROR:
        // A parameter left out reads as undefined; other codes as numbers.
        if (value.scode == DISP_E_PARAMNOTFOUND) duk_push_undefined(context);
        else duk_push_int(context, value.scode);
        break;
    case VT_DISPATCH:
        if (!PushWrappedScriptObject(context, value.pdispVal)) PushObject(context, value.pdispVal);
        break;
    case VT_UNKNOWN: {
        ComPtr<IDispatch> object;
        if (value.punkVal && SUCCEEDED(value.punkVal->QueryInterface(IID_IDispatch, object.putVoid()))) {
            PushObject(context, object.get());
        } else if (value.punkVal) {
            duk_push_object(context);
            value.punkVal->AddRef();
            duk_push_pointer(context, value.punkVal);
            duk_put_prop_string(context, -2, UNKNOWN_KEY);
            duk_push_c_function(context, FinalizeUnknown, 1);
            duk_set_finalizer(context, -2);
        } else {
            duk_push_null(context);
        }
        break;
    }
    default: {
        platform::Variant number;
        if (SUCCEEDED(VariantChangeType(&number, &value, 0, VT_R8))) duk_push_number(context, number.dblVal);
        else duk_push_undefined(context);
    }
    }
    VariantClear(&value);
}

void ToArgument(duk_context* context, int index, VARIANT* value) {
    VariantInit(value);
    switch (duk_get_type(context, index)) {
    case DUK_TYPE_UNDEFINED: case DUK_TYPE_NONE: return;
    case DUK_TYPE_NULL: value->vt = VT_NULL; return;
    case DUK_TYPE_BOOLEAN:
        value->vt = VT_BOOL;
        value->boolVal = duk_get_boolean(context, index) ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    case DUK_TYPE_NUMBER: {
        // Whole numbers in range go as VT_I4, as the language passes them.
        const double number = duk_get_number(context, index);
        if (std::floor(number) == number && number >= -2147483648.0 && number <= 2147483647.0 &&
            !(number == 0 && std::signbit(number))) {
            value->vt = VT_I4;
            value->lVal = static_cast<LONG>(number);
        } else {
            value->vt = VT_R8;
            value->dblVal = number;
        }
        return;
    }
    case DUK_TYPE_STRING: {
        const std::u16string text = ScriptString(context, index);
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return;
    }
    default: break;
    }
    if (IDispatch* object = DispatchOf(context, index)) {
        object->AddRef();
        value->vt = VT_DISPATCH;
        value->pdispVal = object;
        return;
    }
    if (auto* array = HiddenPointer<SAFEARRAY>(context, index, ARRAY_KEY)) {
        VARTYPE type = VT_VARIANT;
        SafeArrayGetVartype(array, &type);
        value->vt = static_cast<VARTYPE>(VT_ARRAY | type);
        value->parray = array;  // lent: ClearArgument gives it back untouched
        return;
    }
    if (auto* unknown = HiddenPointer<IUnknown>(context, index, UNKNOWN_KEY)) {
        unknown->AddRef();
        value->vt = VT_UNKNOWN;
        value->punkVal = unknown;
        return;
    }
    if (IsDate(context, index)) {
        duk_get_prop_string(context, index, "getTime");
        duk_dup(context, index);
        duk_call_method(context, 0);
        value->vt = VT_DATE;
        value->date = OleDateFromMs(duk_get_number(context, -1));
        duk_pop(context);
        return;
    }
    // A script object, array or function goes as an object, as JScript
    // passes its own.
    value->vt = VT_DISPATCH;
    value->pdispVal = WrapScriptObject(context, index);
}

void ClearArgument(VARIANT* value) {
    if (value->vt & VT_ARRAY) {
        VariantInit(value);
        return;
    }
    VariantClear(value);
}

std::u16string ScriptString(duk_context* context, int index) {
    duk_size_t length = 0;
    const char* text = duk_is_string(context, index) ? duk_get_lstring(context, index, &length) : nullptr;
    if (!text) {
        duk_dup(context, index);
        text = duk_safe_to_lstring(context, -1, &length);
        std::u16string result = DecodeEngineText(reinterpret_cast<const unsigned char*>(text), length);
        duk_pop(context);
        return result;
    }
    return DecodeEngineText(reinterpret_cast<const unsigned char*>(text), length);
}

void PushScriptString(duk_context* context, const char16_t* text, size_t length) {
    std::string encoded;
    encoded.reserve(length);
    for (size_t i = 0; i < length; ++i) AppendCesu(encoded, text[i]);
    duk_push_lstring(context, encoded.data(), encoded.size());
}

void ThrowComError(duk_context* context, HRESULT hr, const std::string& description, const std::string& source) {
    // No C file and line: the error is placed at the page's line that called the member.
    duk_push_error_object_raw(context, DUK_ERR_ERROR, nullptr, 0, "%s", description.c_str());
    if (!source.empty()) {
        duk_push_string(context, source.c_str());
        duk_put_prop_string(context, -2, "source");
    }
    duk_push_int(context, static_cast<duk_int_t>(static_cast<int32_t>(hr)));
    duk_put_prop_string(context, -2, "number");
    duk_push_string(context, description.c_str());
    duk_put_prop_string(context, -2, "description");
    (void)duk_throw(context);
    throw std::logic_error("unreachable");  // duk_throw does not return
}

std::string ErrorText(HRESULT hr) {
    char text[512];
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(hr), 0,
                       text, sizeof text, nullptr)) {
        std::string message = text;
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
            message.pop_back();
        return message;
    }
    char code[32];
    std::snprintf(code, sizeof code, "Error 0x%08X", static_cast<unsigned>(hr));
    return code;
}

}  // namespace script
