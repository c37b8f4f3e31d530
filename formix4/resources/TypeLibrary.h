#pragma once

#include "Formix4.h"
#include "platform/TypeLibrary.h"

// The component's type library table (resource 1 of the module).
const platform::typelib::LibraryInfo& Formix4TypeLibrary();
