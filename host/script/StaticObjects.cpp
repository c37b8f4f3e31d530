#include "script/StaticObjects.h"

#include "core/Collections.h"
#include "core/HostClasses.h"
#include "core/HttpText.h"
#include "core/NamedMembers.h"
#include "script/ComBridge.h"
#include "platform/CodePage.h"

namespace script {

using host::kCall;
using host::kGet;
using host::Member;
using host::MemberArgs;
using platform::codepage::Utf16ToUtf8;
using platform::codepage::Utf8ToUtf16;

platform::ComPtr<IDispatch> StaticObjects::get(size_t n, std::string* error) {
    std::lock_guard<std::mutex> guard(mMutex);
    if (n >= mDeclared.size()) return {};
    if (mMade[n]) return mMade[n];
    mMade[n] = MakeDeclaredObject(mDeclared[n], error);
    return mMade[n];
}

std::shared_ptr<StaticObjects> NoStaticObjects() {
    static const auto kNone = std::make_shared<StaticObjects>(std::vector<ObjectTag>{});
    return kNone;
}

platform::ComPtr<IDispatch> MakeDeclaredObject(const ObjectTag& tag, std::string* error) {
    IDispatch* made = nullptr;
    const HRESULT hr = host::CreateObjectOfClass(Utf8ToUtf16(tag.progId), &made);
    if (SUCCEEDED(hr) && made) return platform::ComPtr<IDispatch>(made);
    *error = "The object " + tag.id + " declared in " + tag.where.file + ", line " + std::to_string(tag.where.line) +
             ", cannot be made: " + ErrorText(FAILED(hr) ? hr : E_FAIL) + ".";
    return {};
}

size_t StaticObjects::find(const std::u16string& id) const {
    const std::string wanted = Lower(Utf16ToUtf8(id));
    for (size_t n = 0; n < mDeclared.size(); ++n)
        if (Lower(mDeclared[n].id) == wanted) return n;
    return mDeclared.size();
}

void StaticObjects::clear() {
    std::vector<platform::ComPtr<IDispatch>> going(mDeclared.size());
    {
        std::lock_guard<std::mutex> guard(mMutex);
        going.swap(mMade);
    }
    // Released here, outside the lock: an object's end may take its time.
}

namespace {

class StaticObjectsCollection final : public host::NamedMembers<StaticObjectsCollection, IDispatch> {
public:
    explicit StaticObjectsCollection(std::shared_ptr<StaticObjects> objects) : mObjects(std::move(objects)) {}

    const std::vector<Member<StaticObjectsCollection>>& members() const {
        static const std::vector<Member<StaticObjectsCollection>> kMembers = {
            {u"Item", DISPID_VALUE, kCall | kGet, 1, 1, &StaticObjectsCollection::item},
            {u"Count", 1, kGet, 0, 0, &StaticObjectsCollection::count},
            {u"Key", 2, kCall | kGet, 1, 1, &StaticObjectsCollection::key},
            {u"_NewEnum", DISPID_NEWENUM, kCall | kGet, 0, 0, &StaticObjectsCollection::newEnum},
        };
        return kMembers;
    }

private:
    // The number an argument names, by ID or by position from 1.
    size_t numbered(const VARIANT* arg) const {
        LONG index = 0;
        if (host::IsNumber(arg))
            return host::ArgLong(arg, &index) && index >= 1 ? static_cast<size_t>(index - 1) : SIZE_MAX;
        return mObjects->find(host::ArgText(arg));
    }
    HRESULT item(WORD, const MemberArgs& args, VARIANT* result) {
        const size_t n = numbered(args[0]);
        if (n >= mObjects->declared().size()) return S_OK;  // an ID not declared: nothing, as for any collection
        std::string error;
        platform::ComPtr<IDispatch> object = mObjects->get(n, &error);
        if (!object) return Fail(E_FAIL, error);
        return host::ReturnObject(result, object.detach());
    }
    HRESULT count(WORD, const MemberArgs&, VARIANT* result) {
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(mObjects->declared().size());
        return S_OK;
    }
    HRESULT key(WORD, const MemberArgs& args, VARIANT* result) {
        LONG index = 0;
        if (!host::ArgLong(args[0], &index) || index < 1 || static_cast<size_t>(index) > mObjects->declared().size())
            return DISP_E_BADINDEX;
        return host::ReturnText(result, mObjects->declared()[static_cast<size_t>(index - 1)].id);
    }
    HRESULT newEnum(WORD, const MemberArgs&, VARIANT* result) {
        std::vector<VARIANT> ids;
        for (const ObjectTag& tag : mObjects->declared()) ids.push_back(host::TextVariant(Utf8ToUtf16(tag.id)));
        return host::ReturnEnumerator(result, std::move(ids));
    }

    std::shared_ptr<StaticObjects> mObjects;
};

}  // namespace

IDispatch* CreateStaticObjectsCollection(std::shared_ptr<StaticObjects> objects) {
    return new (std::nothrow) StaticObjectsCollection(std::move(objects));
}

}  // namespace script
