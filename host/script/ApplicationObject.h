// The Application object: values shared by every page of the server, with
// a lock, and the site's application objects.
#pragma once

#include <memory>

#include "core/Collections.h"
#include "script/StaticObjects.h"

namespace script {

// The Application object: `store` is shared by every page; a lock the page
// still holds when the object goes is released. `objects` are the site's
// application objects (null: none).
IDispatch* CreateApplicationObject(std::shared_ptr<host::ValueStore> store,
                                   std::shared_ptr<StaticObjects> objects = nullptr);

}  // namespace script
