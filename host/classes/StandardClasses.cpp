#include "classes/StandardClasses.h"

#include "classes/ByteStream.h"
#include "classes/Dictionary.h"
#include "core/HostClasses.h"

namespace classes {

void RegisterStandardClasses() {
    host::RegisterHostClass(u"ADODB.Stream", CreateByteStream);
    host::RegisterHostClass(u"Scripting.Dictionary", CreateDictionary);
}

}  // namespace classes
