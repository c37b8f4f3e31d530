// The Files, SubFolders and Drives collections: the names found when the
// collection was made, Count, Item(name), and enumeration (`new
// Enumerator(x)`), which makes each item's object only when it is reached,
// so that a folder of 100,000 files costs its names, not 100,000 objects.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Com.h"

namespace classes {

struct CollectionItems {
    std::vector<std::string> names;
    // The object of a listed name (one reference for the caller).
    std::function<IDispatch*(const std::string& name)> make;
    // Item(name): the object of any name that is one now; throws when not.
    std::function<IDispatch*(const std::string& name)> find;
};

IDispatch* CreateObjectCollection(CollectionItems items);

}  // namespace classes
