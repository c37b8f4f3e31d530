#include "platform/Enumerator.h"

#include <atomic>
#include <memory>
#include <new>

#include "platform/OleAuto.h"
#include "platform/RefCounted.h"

namespace {

struct SharedItems {
    std::vector<VARIANT> items;
    ~SharedItems() {
        for (VARIANT& item : items) VariantClear(&item);
    }
};

class VariantEnumerator final : public platform::RefCounted<IEnumVARIANT> {
public:
    VariantEnumerator(std::shared_ptr<SharedItems> items, size_t position)
        : mItems(std::move(items)), mPosition(position) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IEnumVARIANT) {
            *ppv = static_cast<IEnumVARIANT*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT Next(ULONG count, VARIANT* out, ULONG* fetched) override {
        if (!out && count) return E_POINTER;
        ULONG done = 0;
        for (; done < count && mPosition < mItems->items.size(); ++done, ++mPosition) {
            VariantInit(&out[done]);
            const HRESULT hr = VariantCopy(&out[done], &mItems->items[mPosition]);
            if (FAILED(hr)) {
                for (ULONG i = 0; i < done; ++i) VariantClear(&out[i]);
                if (fetched) *fetched = 0;
                return hr;
            }
        }
        if (fetched) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        const size_t left = mItems->items.size() - mPosition;
        mPosition += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        mPosition = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) VariantEnumerator(mItems, mPosition);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~VariantEnumerator() override = default;
    std::shared_ptr<SharedItems> mItems;
    size_t mPosition;
};

}  // namespace

HRESULT CreateVariantEnumerator(std::vector<VARIANT> items, IEnumVARIANT** enumerator) {
    if (!enumerator) return E_POINTER;
    auto shared = std::make_shared<SharedItems>();
    shared->items = std::move(items);
    *enumerator = new (std::nothrow) VariantEnumerator(std::move(shared), 0);
    return *enumerator ? S_OK : E_OUTOFMEMORY;
}
