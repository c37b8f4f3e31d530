#include "classes/ObjectCollection.h"

#include <memory>
#include <new>

#include "classes/FileSystemErrors.h"
#include "platform/RefCounted.h"

namespace classes {

namespace {

using SharedItems = std::shared_ptr<const CollectionItems>;

// An IEnumVARIANT over the names that makes each object as Next reaches it.
class ItemEnumerator final : public platform::RefCounted<IEnumVARIANT> {
public:
    ItemEnumerator(SharedItems items, size_t position) : mItems(std::move(items)), mPosition(position) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == IID_IEnumVARIANT ? static_cast<IEnumVARIANT*>(this) : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    HRESULT Next(ULONG count, VARIANT* out, ULONG* fetched) override {
        if (!out && count) return E_POINTER;
        ULONG done = 0;
        for (; done < count && mPosition < mItems->names.size(); ++done, ++mPosition) {
            IDispatch* item = nullptr;
            try {
                item = mItems->make(mItems->names[mPosition]);
            } catch (const std::bad_alloc&) {}
            if (!item) {
                for (ULONG i = 0; i < done; ++i) VariantClear(&out[i]);
                if (fetched) *fetched = 0;
                return E_OUTOFMEMORY;
            }
            VariantInit(&out[done]);
            out[done].vt = VT_DISPATCH;
            out[done].pdispVal = item;
        }
        if (fetched) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        const size_t left = mItems->names.size() - mPosition;
        mPosition += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        mPosition = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) ItemEnumerator(mItems, mPosition);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    SharedItems mItems;
    size_t mPosition;
};

class ObjectCollection final : public FileSystemMembers<ObjectCollection> {
public:
    explicit ObjectCollection(SharedItems items) : mItems(std::move(items)) {}

    const std::vector<host::Member<ObjectCollection>>& members() const {
        using Self = ObjectCollection;
        static const std::vector<host::Member<Self>> kMembers = {
            {u"Item", DISPID_VALUE, host::kCall | host::kGet, 1, 1, &Self::item},
            {u"Count", 1, host::kGet, 0, 0, &Self::count},
            {u"_NewEnum", DISPID_NEWENUM, host::kCall | host::kGet, 0, 0, &Self::newEnum},
        };
        return kMembers;
    }

private:
    HRESULT item(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            const std::string name = PathArg(args[0]);
            if (name.empty()) Throw(kInvalidCall);
            return host::ReturnObject(result, mItems->find(name));
        });
    }
    HRESULT count(WORD, const host::MemberArgs&, VARIANT* result) {
        return ReturnLong(result, static_cast<LONG>(mItems->names.size()));
    }
    HRESULT newEnum(WORD, const host::MemberArgs&, VARIANT* result) {
        IEnumVARIANT* enumerator = new (std::nothrow) ItemEnumerator(mItems, 0);
        if (!enumerator) return E_OUTOFMEMORY;
        result->vt = VT_UNKNOWN;
        result->punkVal = enumerator;
        return S_OK;
    }

    SharedItems mItems;
};

}  // namespace

IDispatch* CreateObjectCollection(CollectionItems items) {
    return new (std::nothrow) ObjectCollection(std::make_shared<const CollectionItems>(std::move(items)));
}

}  // namespace classes
