// A type library declared as a table in C++ instead of compiled IDL.
//
// A component describes its library, interfaces, members, parameters and
// enumerations with the structures below and exports the description from its
// module as the symbol named by kTypeLibraryExport. The platform builds
// ITypeLib/ITypeInfo from it and offers the generic IDispatch behaviour
// (ITypeInfo::GetIDsOfNames and ITypeInfo::Invoke) that dual interfaces
// forward to. Each member carries a typed thunk that converts the dispatch
// arguments to the member's C++ parameter types and calls the vtable slot.
#pragma once

#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/OleAuto.h"

namespace platform::typelib {

// A thunk receives the interface pointer and the member's arguments already
// converted to their declared types (in declaration order, retval excluded),
// and stores the retval in *result (VT_EMPTY when the member has none).
using Thunk = HRESULT (*)(void* instance, VARIANT* args, VARIANT* result);

struct ParamInfo {
    const char* name;
    VARTYPE type;                 // VT_I4, VT_BSTR, VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_DISPATCH ...
    USHORT flags;                 // PARAMFLAG_*
    const char16_t* defaultText;  // default of an optional BSTR parameter, or nullptr
    const char* typeName;         // user-defined type name (an enumeration alias), or nullptr
};

struct MemberInfo {
    DISPID id;
    INVOKEKIND kind;
    const char* name;
    const ParamInfo* params;  // in slot order, retval last
    int paramCount;
    WORD flags;  // FUNCFLAG_*
    const char* help;
    Thunk thunk;
};

struct InterfaceInfo {
    const char* name;
    const IID* iid;
    const char* help;
    const MemberInfo* members;  // in vtable slot order after IDispatch
    int memberCount;
};

struct CoclassInfo {
    const char* name;
    const CLSID* clsid;
    const char* help;
    const InterfaceInfo* defaultInterface;
};

struct EnumValueInfo {
    const char* name;
    int32_t value;
};

struct EnumInfo {
    const char* name;  // published alias
    const EnumValueInfo* values;
    int valueCount;
};

struct LibraryInfo {
    const char* name;
    const GUID* libid;
    const char* help;
    WORD majorVersion;
    WORD minorVersion;
    const InterfaceInfo* const* interfaces;
    int interfaceCount;
    const CoclassInfo* coclasses;
    int coclassCount;
    const EnumInfo* enums;
    int enumCount;
};

// Exported by a module that carries a type library: returns the library with
// the given resource number, or nullptr.
using TypeLibraryExport = const LibraryInfo* (*)(int resourceId);
inline constexpr const char* kTypeLibraryExport = "PlatformGetTypeLibrary";

// Builds the type library object for a table (kept alive by the caller's reference).
HRESULT CreateTypeLib(const LibraryInfo* info, const char16_t* path, ITypeLib** library);

// ---- thunk generation ------------------------------------------------------

namespace detail {

template <class T>
struct ArgTraits;
template <>
struct ArgTraits<LONG> {
    static LONG get(VARIANT& v) { return v.lVal; }
};
template <>
struct ArgTraits<BSTR> {
    static BSTR get(VARIANT& v) { return v.bstrVal; }
};
template <>
struct ArgTraits<VARIANT_BOOL> {
    static VARIANT_BOOL get(VARIANT& v) { return v.boolVal; }
};
template <>
struct ArgTraits<VARIANT> {
    static VARIANT get(VARIANT& v) { return v; }
};

template <class T>
struct RetvalTraits {
    static_assert(std::is_enum_v<T>, "unsupported retval type");
    static void put(VARIANT* r, T x) {
        r->vt = VT_I4;
        r->lVal = static_cast<LONG>(x);
    }
};
template <>
struct RetvalTraits<LONG> {
    static void put(VARIANT* r, LONG x) {
        r->vt = VT_I4;
        r->lVal = x;
    }
};
template <>
struct RetvalTraits<BSTR> {
    static void put(VARIANT* r, BSTR x) {
        r->vt = VT_BSTR;
        r->bstrVal = x;
    }
};
template <>
struct RetvalTraits<VARIANT_BOOL> {
    static void put(VARIANT* r, VARIANT_BOOL x) {
        r->vt = VT_BOOL;
        r->boolVal = x;
    }
};
template <>
struct RetvalTraits<VARIANT> {
    static void put(VARIANT* r, VARIANT x) { *r = x; }
};
template <>
struct RetvalTraits<IUnknown*> {
    static void put(VARIANT* r, IUnknown* x) {
        r->vt = VT_UNKNOWN;
        r->punkVal = x;
    }
};

// The last parameter is the retval when it is a pointer other than a BSTR.
template <class... A>
struct LastIsRetval : std::false_type {};
template <class A>
struct LastIsRetval<A> : std::bool_constant<std::is_pointer_v<A> && !std::is_same_v<A, BSTR>> {};
template <class A, class B, class... C>
struct LastIsRetval<A, B, C...> : LastIsRetval<B, C...> {};

template <auto Method>
struct ThunkImpl;

template <class I, class... A, HRESULT (I::*Method)(A...)>
struct ThunkImpl<Method> {
    using Params = std::tuple<A...>;
    template <std::size_t K>
    using Param = std::remove_cv_t<std::tuple_element_t<K, Params>>;

    template <std::size_t... K>
    static HRESULT callIn(I* self, VARIANT* args, std::index_sequence<K...>) {
        return (self->*Method)(ArgTraits<Param<K>>::get(args[K])...);
    }

    template <std::size_t... K>
    static HRESULT callOut(I* self, VARIANT* args, VARIANT* result, std::index_sequence<K...>) {
        using Retval = std::remove_pointer_t<Param<sizeof...(A) - 1>>;
        Retval value{};
        HRESULT hr = (self->*Method)(ArgTraits<Param<K>>::get(args[K])..., &value);
        // Also after a failure: a value given with it belongs to the result,
        // which the dispatch then clears.
        RetvalTraits<Retval>::put(result, value);
        return hr;
    }

    static HRESULT call(void* instance, VARIANT* args, VARIANT* result) {
        I* self = static_cast<I*>(instance);
        if constexpr (LastIsRetval<A...>::value) {
            return callOut(self, args, result, std::make_index_sequence<sizeof...(A) - 1>{});
        } else {
            (void)result;
            return callIn(self, args, std::make_index_sequence<sizeof...(A)>{});
        }
    }
};

}  // namespace detail

// The thunk that calls interface member Method, e.g. thunkOf<&IXForm::get_Count>.
template <auto Method>
inline constexpr Thunk thunkOf = &detail::ThunkImpl<Method>::call;

}  // namespace platform::typelib
