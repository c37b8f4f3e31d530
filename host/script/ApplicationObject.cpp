#include "script/ApplicationObject.h"

#include <new>

#include "script/StoreMembers.h"

namespace script {

namespace {

using host::kCall;
using host::kGet;
using host::Member;
using host::MemberArgs;
using host::ReturnObject;

class ApplicationObject final : public StoreMembers<ApplicationObject> {
public:
    ApplicationObject(std::shared_ptr<host::ValueStore> store, std::shared_ptr<StaticObjects> objects)
        : mStore(std::move(store)), mObjects(std::move(objects)) {}
    ~ApplicationObject() override {
        // A page that ends (or fails, or runs out of time) with the lock
        // held does not keep every other page waiting.
        while (mStore->lockedByThisThread()) mStore->unlock();
    }

    const std::vector<Member<ApplicationObject>>& members() const {
        static const std::vector<Member<ApplicationObject>> kMembers =
            StoreTable({{u"Lock", 20, kCall, 0, 0, &ApplicationObject::lock},
                        {u"Unlock", 21, kCall, 0, 0, &ApplicationObject::unlock},
                        {u"StaticObjects", 22, kGet, 0, 0, &ApplicationObject::staticObjects}});
        return kMembers;
    }

private:
    friend class StoreMembers<ApplicationObject>;
    host::ValueStore* store() override { return mStore.get(); }
    HRESULT lock(WORD, const MemberArgs&, VARIANT*) {
        mStore->lock();
        return S_OK;
    }
    HRESULT unlock(WORD, const MemberArgs&, VARIANT*) {
        mStore->unlock();
        return S_OK;
    }
    HRESULT staticObjects(WORD, const MemberArgs&, VARIANT* result) {
        return ReturnObject(result, CreateStaticObjectsCollection(mObjects ? mObjects : NoStaticObjects()));
    }

    std::shared_ptr<host::ValueStore> mStore;
    std::shared_ptr<StaticObjects> mObjects;
};

}  // namespace

IDispatch* CreateApplicationObject(std::shared_ptr<host::ValueStore> store, std::shared_ptr<StaticObjects> objects) {
    return new (std::nothrow) ApplicationObject(std::move(store), std::move(objects));
}

}  // namespace script
