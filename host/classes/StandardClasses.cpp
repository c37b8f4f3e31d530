#include "classes/StandardClasses.h"

#include "classes/ByteStream.h"
#include "classes/Dictionary.h"
#include "classes/FileSystemObject.h"
#include "core/HostClasses.h"

namespace classes {

// One line per class.
void RegisterStandardClasses() {
    host::RegisterHostClass(u"ADODB.Stream", CreateByteStream);
    host::RegisterHostClass(u"Scripting.Dictionary", CreateDictionary);
    host::RegisterHostClass(u"Scripting.FileSystemObject", CreateFileSystemObject);
}

}  // namespace classes
