// Classes the server itself offers to pages by ProgID: Server.CreateObject
// finds them before the registry's classes.
#pragma once

#include <functional>
#include <string>

#include "platform/Com.h"

namespace host {

// Makes one object of the class with one reference for the caller; null when it cannot.
using HostClassFactory = std::function<IDispatch*()>;

// Adds (or replaces) the class of `progId`, compared without regard to case.
void RegisterHostClass(const std::u16string& progId, HostClassFactory factory);
// A new object of the host's class of `progId`; null when there is no such class.
IDispatch* CreateHostObject(const std::u16string& progId);
// A new object of `progId` as Server.CreateObject makes it: the host's class
// of that ProgID, else the registry's.
HRESULT CreateObjectOfClass(const std::u16string& progId, IDispatch** object);

}  // namespace host
