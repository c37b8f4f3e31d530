#include "classes/Dictionary.h"

#include <list>
#include <new>
#include <unordered_map>
#include <vector>

#include "classes/DictionaryKeys.h"
#include "core/NamedMembers.h"
#include "core/RuntimeErrors.h"

namespace classes {

namespace {

using host::kCall;
using host::kGet;
using host::kPut;
using host::MemberArgs;
using host::RuntimeError;

// What a dictionary may hold: its keys and items are copies, and one object
// a page fills in a loop must not take the server's memory. An entry costs
// its VARIANTs, list node and hash slot beside the texts and arrays it holds.
constexpr size_t kMaxHeldBytes = 256u << 20;
constexpr size_t kEntryBytes = 128;

// Gives `source`'s value to `target`, whose own value is cleared; `source` is left Empty.
void MoveInto(VARIANT* target, VARIANT* source) {
    VariantClear(target);
    *target = *source;
    VariantInit(source);
}

// HashVal gives the key's hash in the range pages have always seen.
constexpr size_t kHashValRange = 1201;

class Dictionary final : public host::NamedMembers<Dictionary, IDispatch> {
public:
    Dictionary() : mIndex(16, KeyHash{&mTextMode}, KeyEqual{&mTextMode}) {}

    const std::vector<host::Member<Dictionary>>& members() const {
        using Self = Dictionary;
        static const std::vector<host::Member<Self>> kMembers = {
            {u"Item", DISPID_VALUE, kCall | kGet | kPut, 1, 1, &Self::item},
            {u"Add", 1, kCall, 2, 2, &Self::add},
            {u"Count", 2, kGet, 0, 0, &Self::count},
            {u"Exists", 3, kCall, 1, 1, &Self::exists},
            {u"Items", 4, kCall, 0, 0, &Self::items},
            {u"Key", 5, kPut, 1, 1, &Self::rename},
            {u"Keys", 6, kCall, 0, 0, &Self::keys},
            {u"Remove", 7, kCall, 1, 1, &Self::remove},
            {u"RemoveAll", 8, kCall, 0, 0, &Self::removeAll},
            {u"CompareMode", 9, kGet | kPut, 0, 0, &Self::compareMode},
            {u"_NewEnum", DISPID_NEWENUM, kCall | kGet, 0, 0, &Self::newEnum},
            {u"HashVal", 10, kCall | kGet, 1, 1, &Self::hashVal},
        };
        return kMembers;
    }

private:
    struct Entry {
        platform::Variant key;
        platform::Variant item;
    };
    using Entries = std::list<Entry>;
    using Index = std::unordered_map<const VARIANT*, Entries::iterator, KeyHash, KeyEqual>;

    // A key argument as the index compares it: `value`, which is the
    // argument itself or, for a value by reference, `holder`.
    struct KeyArg {
        platform::Variant holder;
        const VARIANT* value = nullptr;
    };
    // Fails for an array, which cannot be a key.
    HRESULT keyOf(const VARIANT* arg, KeyArg* key) {
        if (!arg) {
            key->value = &key->holder;  // an argument left out is Empty
            return S_OK;
        }
        if ((arg->vt & VT_BYREF) && FAILED(VariantCopyInd(&key->holder, arg))) return typeMismatch();
        key->value = (arg->vt & VT_BYREF) ? &key->holder : arg;
        return CanBeKey(*key->value) ? S_OK : typeMismatch();
    }
    Entries::iterator find(const VARIANT* key) {
        const auto found = mIndex.find(key);
        return found == mIndex.end() ? mEntries.end() : found->second;
    }

    // Adds an entry at the end; `item` null adds Empty.
    HRESULT insert(const VARIANT& key, const VARIANT* item) {
        const size_t bytes = kEntryBytes + HeldBytes(key) + (item ? HeldBytes(*item) : 0);
        if (bytes > kMaxHeldBytes - mHeldBytes) return outOfMemory();
        Entry& entry = mEntries.emplace_back();
        HRESULT hr = VariantCopyInd(&entry.key, &key);
        if (SUCCEEDED(hr) && item) hr = VariantCopyInd(&entry.item, item);
        if (FAILED(hr)) {
            mEntries.pop_back();
            return hr;
        }
        mIndex.emplace(&entry.key, std::prev(mEntries.end()));
        mHeldBytes += bytes;
        return S_OK;
    }
    HRESULT replaceItem(Entry& entry, const VARIANT& item) {
        const size_t before = HeldBytes(entry.item), after = HeldBytes(item);
        if (after > before && after - before > kMaxHeldBytes - mHeldBytes) return outOfMemory();
        platform::Variant copy;
        const HRESULT hr = VariantCopyInd(&copy, &item);
        if (FAILED(hr)) return hr;
        MoveInto(&entry.item, &copy);
        mHeldBytes = mHeldBytes - before + after;
        return S_OK;
    }

    // Item(key): reading a key that is not there adds it with an Empty
    // item, as pages written for the classic object rely on (a test with
    // Item instead of Exists leaves the key behind).
    HRESULT item(WORD use, const MemberArgs& args, VARIANT* result) {
        KeyArg key;
        if (HRESULT hr = keyOf(args[0], &key); FAILED(hr)) return hr;
        const auto found = find(key.value);
        if (use == kPut)
            return found == mEntries.end() ? insert(*key.value, args.back()) : replaceItem(*found, *args.back());
        if (found == mEntries.end()) return insert(*key.value, nullptr);
        return VariantCopy(result, &found->item);
    }
    HRESULT add(WORD, const MemberArgs& args, VARIANT*) {
        KeyArg key;
        if (HRESULT hr = keyOf(args[0], &key); FAILED(hr)) return hr;
        if (find(key.value) != mEntries.end())
            return Fail(RuntimeError(457), "This key is already associated with an element of this collection");
        static const VARIANT kEmpty{};
        return insert(*key.value, args[1] ? args[1] : &kEmpty);
    }
    // Key(old) = new: the entry keeps its place and its item.
    HRESULT rename(WORD, const MemberArgs& args, VARIANT*) {
        KeyArg oldKey, newKey;
        if (HRESULT hr = keyOf(args[0], &oldKey); FAILED(hr)) return hr;
        if (HRESULT hr = keyOf(args.back(), &newKey); FAILED(hr)) return hr;
        const auto entry = find(oldKey.value);
        if (entry == mEntries.end()) return notFound();
        const auto other = find(newKey.value);
        if (other != mEntries.end() && other != entry)
            return Fail(RuntimeError(457), "This key is already associated with an element of this collection");
        platform::Variant copy;
        if (HRESULT hr = VariantCopyInd(&copy, newKey.value); FAILED(hr)) return hr;
        mIndex.erase(&entry->key);
        mHeldBytes = mHeldBytes - HeldBytes(entry->key) + HeldBytes(copy);
        MoveInto(&entry->key, &copy);
        mIndex.emplace(&entry->key, entry);
        return S_OK;
    }
    HRESULT exists(WORD, const MemberArgs& args, VARIANT* result) {
        KeyArg key;
        if (HRESULT hr = keyOf(args[0], &key); FAILED(hr)) return hr;
        return host::ReturnBool(result, find(key.value) != mEntries.end());
    }
    HRESULT remove(WORD, const MemberArgs& args, VARIANT*) {
        KeyArg key;
        if (HRESULT hr = keyOf(args[0], &key); FAILED(hr)) return hr;
        const auto entry = find(key.value);
        if (entry == mEntries.end()) return notFound();
        mHeldBytes -= kEntryBytes + HeldBytes(entry->key) + HeldBytes(entry->item);
        mIndex.erase(&entry->key);
        mEntries.erase(entry);
        return S_OK;
    }
    HRESULT removeAll(WORD, const MemberArgs&, VARIANT*) {
        mIndex.clear();
        mEntries.clear();
        mHeldBytes = 0;
        return S_OK;
    }
    HRESULT count(WORD, const MemberArgs&, VARIANT* result) {
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(mEntries.size());
        return S_OK;
    }
    // Keys() and Items(): an array of VARIANTs from 0, in the order of the entries.
    HRESULT keys(WORD, const MemberArgs&, VARIANT* result) { return returnArray(&Entry::key, result); }
    HRESULT items(WORD, const MemberArgs&, VARIANT* result) { return returnArray(&Entry::item, result); }
    HRESULT returnArray(platform::Variant Entry::*member, VARIANT* result) {
        SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(mEntries.size()));
        if (!array) return outOfMemory();
        auto* elements = static_cast<VARIANT*>(array->pvData);
        for (const Entry& entry : mEntries) {
            if (FAILED(VariantCopy(elements++, &(entry.*member)))) {
                SafeArrayDestroy(array);
                return outOfMemory();
            }
        }
        result->vt = VT_ARRAY | VT_VARIANT;
        result->parray = array;
        return S_OK;
    }
    // 0 compares keys by their code units, any other mode (1 text, 2
    // database, or a locale) without regard to case; set only while empty.
    HRESULT compareMode(WORD use, const MemberArgs& args, VARIANT* result) {
        if (use != kPut) {
            result->vt = VT_I4;
            result->lVal = mCompareMode;
            return S_OK;
        }
        LONG mode = 0;
        if (!host::ArgLong(args.back(), &mode)) return typeMismatch();
        if (mode < 0 || !mEntries.empty()) return Fail(RuntimeError(5), "Invalid procedure call or argument");
        mCompareMode = mode;
        mTextMode = mode != 0;
        return S_OK;
    }
    HRESULT newEnum(WORD, const MemberArgs&, VARIANT* result) {
        std::vector<VARIANT> keys(mEntries.size());
        size_t at = 0;
        for (const Entry& entry : mEntries) {
            VariantInit(&keys[at]);
            VariantCopy(&keys[at++], &entry.key);
        }
        return host::ReturnEnumerator(result, std::move(keys));
    }
    // The same number for keys the dictionary takes for one.
    HRESULT hashVal(WORD, const MemberArgs& args, VARIANT* result) {
        KeyArg key;
        if (HRESULT hr = keyOf(args[0], &key); FAILED(hr)) return hr;
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(KeyHash{&mTextMode}(key.value) % kHashValRange);
        return S_OK;
    }

    HRESULT typeMismatch() { return Fail(RuntimeError(13), "Type mismatch"); }
    HRESULT notFound() { return Fail(RuntimeError(32811), "Element not found"); }
    HRESULT outOfMemory() { return Fail(RuntimeError(7), "Out of memory"); }

    bool mTextMode = false;
    LONG mCompareMode = 0;
    size_t mHeldBytes = 0;
    Entries mEntries;
    Index mIndex;
};

}  // namespace

IDispatch* CreateDictionary() { return new (std::nothrow) Dictionary(); }

}  // namespace classes
