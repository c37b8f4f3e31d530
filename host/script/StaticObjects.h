// The objects a site's global.asa declares for the whole application or
// for each session (<object runat="server" scope="Application"|"Session">):
// each is made by its ProgID the first time a page of the scope uses it,
// then kept for the scope's life and given to every page of it under its
// ID. Application objects are used by many requests at once: the classes
// declared so must be free-threaded, as classic servers ask too.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ComPtr.h"
#include "script/PageSource.h"

namespace script {

class StaticObjects {
public:
    explicit StaticObjects(std::vector<ObjectTag> declared) : mDeclared(std::move(declared)), mMade(mDeclared.size()) {}

    const std::vector<ObjectTag>& declared() const { return mDeclared; }
    // The object declared `n`th, made when it is not yet; null with the
    // failure's text.
    platform::ComPtr<IDispatch> get(size_t n, std::string* error);
    // The number of the object declared under `id` (without regard to case);
    // declared().size() when none is.
    size_t find(const std::u16string& id) const;
    // Lets every object go (the scope's end).
    void clear();

private:
    std::vector<ObjectTag> mDeclared;
    std::mutex mMutex;
    std::vector<platform::ComPtr<IDispatch>> mMade;
};

// The objects of a scope the site declares none for.
std::shared_ptr<StaticObjects> NoStaticObjects();

// Makes the object an <object runat="server"> tag declares; null with the
// failure's text.
platform::ComPtr<IDispatch> MakeDeclaredObject(const ObjectTag& tag, std::string* error);

// The StaticObjects collection of Application and Session: Item(ID or
// number) gives an object (made now when it is not yet), Count, Key(number)
// and enumeration over the IDs.
IDispatch* CreateStaticObjectsCollection(std::shared_ptr<StaticObjects> objects);

}  // namespace script
