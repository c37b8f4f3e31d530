#include "classes/StandardClasses.h"

#include "classes/FileSystemObject.h"
#include "core/HostClasses.h"

namespace classes {

// One line per class.
void RegisterStandardClasses() {
    host::RegisterHostClass(u"Scripting.FileSystemObject", CreateFileSystemObject);
}

}  // namespace classes
