#include "core/Collections.h"

#include <new>

#include "core/HttpText.h"
#include "core/NamedMembers.h"
#include "core/RuntimeErrors.h"
#include "platform/CodePage.h"
#include "platform/Enumerator.h"

namespace host {

namespace {

using platform::codepage::CompareNoCase;
using platform::codepage::Utf8ToUtf16;

class ValueList final : public NamedMembers<ValueList, IDispatch> {
public:
    explicit ValueList(std::vector<std::u16string> values) : mValues(std::move(values)) {}

    const std::vector<Member<ValueList>>& members() const {
        static const std::vector<Member<ValueList>> kMembers = {
            {u"Item", DISPID_VALUE, kCall | kGet, 0, 1, &ValueList::item},
            {u"Count", 1, kGet, 0, 0, &ValueList::count},
            {u"_NewEnum", DISPID_NEWENUM, kCall | kGet, 0, 0, &ValueList::newEnum},
            {u"HasKeys", 2, kGet, 0, 0, &ValueList::hasKeys},
        };
        return kMembers;
    }

private:
    HRESULT item(WORD, const MemberArgs& args, VARIANT* result) {
        if (!args[0]) {
            // All values joined, as the list reads where a text is wanted;
            // nothing at all when the name was absent.
            if (mValues.empty()) return S_OK;
            std::u16string joined;
            for (size_t i = 0; i < mValues.size(); ++i) joined += (i ? u", " : u"") + mValues[i];
            return ReturnText(result, joined);
        }
        if (!IsNumber(args[0])) return ReturnText(result, keyValue(ArgText(args[0])));
        LONG index = 0;
        if (!ArgLong(args[0], &index) || index < 1 || static_cast<size_t>(index) > mValues.size())
            return Fail(host::kSubscriptOutOfRange, "The index is not that of a value of this list (from 1 to " +
                                                        std::to_string(mValues.size()) + ").");
        return ReturnText(result, mValues[static_cast<size_t>(index - 1)]);
    }
    // A value of keys, as a cookie of keys comes ("k1=v1&k2=v2"): the
    // value of one key by name (Request.Cookies("a")("k1")), "" when absent.
    std::u16string keyValue(const std::u16string& key) const {
        if (mValues.size() != 1) return {};
        const NamedValues keys = NamedValues::FromUrlEncoded(platform::codepage::Utf16ToUtf8(mValues[0]));
        const std::vector<std::u16string>* found = keys.find(key);
        return found && !found->empty() ? found->front() : std::u16string();
    }
    HRESULT hasKeys(WORD, const MemberArgs&, VARIANT* result) {
        return ReturnBool(result, mValues.size() == 1 && mValues[0].find(u'=') != std::u16string::npos);
    }
    HRESULT count(WORD, const MemberArgs&, VARIANT* result) {
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(mValues.size());
        return S_OK;
    }
    HRESULT newEnum(WORD, const MemberArgs&, VARIANT* result) {
        std::vector<VARIANT> items;
        for (const std::u16string& value : mValues) items.push_back(TextVariant(value));
        return ReturnEnumerator(result, std::move(items));
    }

    std::vector<std::u16string> mValues;
};

class NamedValuesObject final : public NamedMembers<NamedValuesObject, IDispatch> {
public:
    explicit NamedValuesObject(std::shared_ptr<const NamedValues> values) : mValues(std::move(values)) {}

    const std::vector<Member<NamedValuesObject>>& members() const {
        static const std::vector<Member<NamedValuesObject>> kMembers = {
            {u"Item", DISPID_VALUE, kCall | kGet, 0, 1, &NamedValuesObject::item},
            {u"Count", 1, kGet, 0, 0, &NamedValuesObject::count},
            {u"Key", 2, kCall | kGet, 1, 1, &NamedValuesObject::key},
            {u"_NewEnum", DISPID_NEWENUM, kCall | kGet, 0, 0, &NamedValuesObject::newEnum},
        };
        return kMembers;
    }

private:
    // The position of a numeric index (from 1), or npos.
    size_t position(const VARIANT* arg) const {
        LONG index = 0;
        return ArgLong(arg, &index) && index >= 1 && static_cast<size_t>(index) <= mValues->size()
                   ? static_cast<size_t>(index - 1)
                   : std::string::npos;
    }
    HRESULT item(WORD, const MemberArgs& args, VARIANT* result) {
        if (!args[0]) {
            // The whole collection as text: the query string or form as
            // sent, still encoded; other collections joined the same way.
            if (mValues->text()) return ReturnText(result, *mValues->text());
            std::u16string text;
            for (size_t i = 0; i < mValues->size(); ++i)
                for (const std::u16string& value : mValues->values(i))
                    text += (text.empty() ? u"" : u"&") + mValues->name(i) + u"=" + value;
            return ReturnText(result, text);
        }
        if (IsNumber(args[0])) {
            const size_t at = position(args[0]);
            if (at == std::string::npos) return Fail(host::kSubscriptOutOfRange, "There is no item with that number.");
            return ReturnObject(result, CreateValueList(mValues->values(at)));
        }
        const std::vector<std::u16string>* values = mValues->find(ArgText(args[0]));
        return ReturnObject(result, CreateValueList(values ? *values : std::vector<std::u16string>()));
    }
    HRESULT count(WORD, const MemberArgs&, VARIANT* result) {
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(mValues->size());
        return S_OK;
    }
    HRESULT key(WORD, const MemberArgs& args, VARIANT* result) {
        const size_t at = position(args[0]);
        if (at == std::string::npos) return Fail(host::kSubscriptOutOfRange, "There is no item with that number.");
        return ReturnText(result, mValues->name(at));
    }
    HRESULT newEnum(WORD, const MemberArgs&, VARIANT* result) {
        std::vector<VARIANT> items;
        for (size_t i = 0; i < mValues->size(); ++i) items.push_back(TextVariant(mValues->name(i)));
        return ReturnEnumerator(result, std::move(items));
    }

    std::shared_ptr<const NamedValues> mValues;
};

}  // namespace

// ---- argument helpers (NamedMembers.h) -----------------------------------------

std::u16string ArgText(const VARIANT* arg) {
    if (!arg || arg->vt == VT_NULL || arg->vt == VT_EMPTY) return {};
    platform::Variant text;
    if (FAILED(VariantChangeType(&text, arg, 0, VT_BSTR)) || !text.bstrVal) return {};
    return std::u16string(text.bstrVal, SysStringLen(text.bstrVal));
}

bool IsNumber(const VARIANT* arg) {
    if (!arg) return false;
    const VARTYPE type = arg->vt == (VT_BYREF | VT_VARIANT) ? arg->pvarVal->vt : arg->vt;
    return type == VT_I2 || type == VT_I4 || type == VT_R4 || type == VT_R8 || type == VT_UI1 || type == VT_INT;
}

bool ArgLong(const VARIANT* arg, LONG* value) {
    if (!arg) return false;
    platform::Variant number;
    if (FAILED(VariantChangeType(&number, arg, 0, VT_I4))) return false;
    *value = number.lVal;
    return true;
}

HRESULT ReturnText(VARIANT* result, const std::u16string& text) {
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return result->bstrVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT ReturnText(VARIANT* result, const std::string& utf8) { return ReturnText(result, Utf8ToUtf16(utf8)); }

VARIANT TextVariant(const std::u16string& text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return value;
}

HRESULT ReturnEnumerator(VARIANT* result, std::vector<VARIANT> items) {
    IEnumVARIANT* enumerator = nullptr;
    const HRESULT hr = CreateVariantEnumerator(std::move(items), &enumerator);
    if (FAILED(hr)) return hr;
    result->vt = VT_UNKNOWN;
    result->punkVal = enumerator;
    return S_OK;
}

HRESULT ReturnLong(VARIANT* result, LONG value) {
    result->vt = VT_I4;
    result->lVal = value;
    return S_OK;
}

HRESULT ReturnBool(VARIANT* result, bool value) {
    result->vt = VT_BOOL;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT ReturnObject(VARIANT* result, IDispatch* object) {
    if (!object) return E_OUTOFMEMORY;
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
    return S_OK;
}

// ---- NamedValues -------------------------------------------------------------------

void NamedValues::add(const std::u16string& name, std::u16string value) {
    for (auto& [existing, values] : mEntries)
        if (CompareNoCase(existing, name) == 0) {
            values.push_back(std::move(value));
            return;
        }
    mEntries.emplace_back(name, std::vector<std::u16string>{std::move(value)});
}

const std::vector<std::u16string>* NamedValues::find(const std::u16string& name) const {
    for (const auto& [existing, values] : mEntries)
        if (CompareNoCase(existing, name) == 0) return &values;
    return nullptr;
}

NamedValues NamedValues::FromUrlEncoded(const std::string& text, UINT codePage) {
    const auto decode = [codePage](const std::string& bytes) {
        return codePage == CP_UTF8 ? Utf8ToUtf16(bytes) : platform::codepage::ToUtf16(bytes, codePage);
    };
    NamedValues result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(start, end - start);
        if (!pair.empty()) {
            const size_t equals = pair.find('=');
            result.add(decode(UrlDecode(pair.substr(0, equals))),
                       equals == std::string::npos ? std::u16string() : decode(UrlDecode(pair.substr(equals + 1))));
        }
        start = end + 1;
    }
    result.mText = decode(text);
    return result;
}

IDispatch* CreateValueList(std::vector<std::u16string> values) {
    return new (std::nothrow) ValueList(std::move(values));
}

IDispatch* CreateNamedValuesObject(std::shared_ptr<const NamedValues> values) {
    return new (std::nothrow) NamedValuesObject(std::move(values));
}

// ---- ValueStore ---------------------------------------------------------------------

std::unique_lock<std::mutex> ValueStore::access() {
    std::unique_lock<std::mutex> guard(mMutex);
    mUnlocked.wait(guard, [this] { return mDepth == 0 || mOwner == std::this_thread::get_id(); });
    return guard;
}

HRESULT ValueStore::get(const std::u16string& name, VARIANT* value) {
    auto guard = access();
    VariantInit(value);
    for (auto& [key, stored] : mValues)
        if (CompareNoCase(key, name) == 0) return VariantCopy(value, stored.get());
    return S_OK;  // an absent name reads as nothing
}

HRESULT ValueStore::put(const std::u16string& name, const VARIANT& value) {
    auto copy = std::make_unique<platform::Variant>();
    HRESULT hr = VariantCopyInd(copy.get(), &value);
    if (FAILED(hr)) return hr;
    const VARTYPE type = copy->vt;
    if (type == VT_DISPATCH || type == VT_UNKNOWN || (type & VT_ARRAY)) return E_INVALIDARG;
    auto guard = access();
    for (auto& [key, stored] : mValues)
        if (CompareNoCase(key, name) == 0) {
            stored = std::move(copy);
            return S_OK;
        }
    mValues.emplace_back(name, std::move(copy));
    return S_OK;
}

void ValueStore::remove(const std::u16string& name) {
    auto guard = access();
    for (auto it = mValues.begin(); it != mValues.end(); ++it)
        if (CompareNoCase(it->first, name) == 0) {
            mValues.erase(it);
            return;
        }
}

void ValueStore::removeAll() {
    auto guard = access();
    mValues.clear();
}

size_t ValueStore::count() {
    auto guard = access();
    return mValues.size();
}

std::u16string ValueStore::key(size_t index) {
    auto guard = access();
    return index < mValues.size() ? mValues[index].first : std::u16string();
}

void ValueStore::lock() {
    auto guard = access();
    mOwner = std::this_thread::get_id();
    ++mDepth;
}

void ValueStore::unlock() {
    std::lock_guard<std::mutex> guard(mMutex);
    if (mDepth == 0 || mOwner != std::this_thread::get_id()) return;
    if (--mDepth == 0) {
        mOwner = {};
        mUnlocked.notify_all();
    }
}

bool ValueStore::lockedByThisThread() {
    std::lock_guard<std::mutex> guard(mMutex);
    return mDepth > 0 && mOwner == std::this_thread::get_id();
}

}  // namespace host
