// The per-request objects the host hands to the component: the object
// context with its "Request" and "Server" properties.
#pragma once

#include "core/ObjectContext.h"
#include "core/RequestObject.h"
#include "core/ServerObject.h"
#include "core/VirtualPaths.h"
