// The members Application and Session share: their values by name, the
// collection view of them, and the objects the site declares for them.
#pragma once

#include <initializer_list>
#include <vector>

#include "core/Collections.h"
#include "core/NamedMembers.h"
#include "script/StaticObjects.h"

namespace script {

// The members Application and Session share: their values by name (the
// default member, so that Session("name") reads and writes a value), and
// the collection view of them.
template <class Self>
class StoreMembers : public host::NamedMembers<Self, IDispatch> {
protected:
    virtual host::ValueStore* store() = 0;

    // Why there is no store: a session the shared store could not give.
    virtual HRESULT unavailable() { return E_UNEXPECTED; }

    HRESULT value(WORD use, const host::MemberArgs& args, VARIANT* result) {
        host::ValueStore* values = store();
        if (!values) return unavailable();
        LONG index = 0;
        const bool numbered = host::IsNumber(args[0]) && host::ArgLong(args[0], &index);
        const std::u16string name = numbered ? values->key(static_cast<size_t>(index - 1)) : host::ArgText(args[0]);
        if (use != host::kPut) return values->get(name, result);
        const HRESULT hr = values->put(name, *args.back());
        return hr == E_INVALIDARG
                   ? this->Fail(hr, "Only texts, numbers, booleans, dates and null can be kept between requests.")
                   : hr;
    }
    HRESULT count(WORD, const host::MemberArgs&, VARIANT* result) {
        if (!store()) return unavailable();
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(store()->count());
        return S_OK;
    }
    HRESULT key(WORD, const host::MemberArgs& args, VARIANT* result) {
        if (!store()) return unavailable();
        LONG index = 0;
        if (!host::ArgLong(args[0], &index) || index < 1) return DISP_E_BADINDEX;
        return host::ReturnText(result, store()->key(static_cast<size_t>(index - 1)));
    }
    HRESULT removeOne(WORD, const host::MemberArgs& args, VARIANT*) {
        if (!store()) return unavailable();
        store()->remove(host::ArgText(args[0]));
        return S_OK;
    }
    HRESULT removeAll(WORD, const host::MemberArgs&, VARIANT*) {
        if (!store()) return unavailable();
        store()->removeAll();
        return S_OK;
    }
    HRESULT contents(WORD, const host::MemberArgs&, VARIANT* result) {
        this->AddRef();
        return host::ReturnObject(result, static_cast<IDispatch*>(this));
    }
    HRESULT newEnum(WORD, const host::MemberArgs&, VARIANT* result) {
        if (!store()) return unavailable();
        std::vector<VARIANT> names;
        const size_t count = store()->count();
        for (size_t i = 0; i < count; ++i) names.push_back(host::TextVariant(store()->key(i)));
        return host::ReturnEnumerator(result, std::move(names));
    }

    // The members of every store, in front of the object's own.
    static std::vector<host::Member<Self>> StoreTable(std::initializer_list<host::Member<Self>> own) {
        std::vector<host::Member<Self>> members = {
            {u"Value", DISPID_VALUE, host::kCall | host::kGet | host::kPut, 1, 1, &Self::value},
            {u"Item", DISPID_VALUE, host::kCall | host::kGet | host::kPut, 1, 1, &Self::value},
            {u"Contents", 1, host::kGet, 0, 0, &Self::contents},
            {u"Count", 2, host::kGet, 0, 0, &Self::count},
            {u"Key", 3, host::kCall | host::kGet, 1, 1, &Self::key},
            {u"Remove", 4, host::kCall, 1, 1, &Self::removeOne},
            {u"RemoveAll", 5, host::kCall, 0, 0, &Self::removeAll},
            {u"_NewEnum", DISPID_NEWENUM, host::kCall | host::kGet, 0, 0, &Self::newEnum},
        };
        members.insert(members.end(), own);
        return members;
    }
};

}  // namespace script
