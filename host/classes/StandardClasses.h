// The helper classes the server offers every page by ProgID, as the page
// host of the sites' servers did (Server.CreateObject finds them).
#pragma once

namespace classes {

// Registers each class with host::RegisterHostClass; calling it again
// changes nothing.
void RegisterStandardClasses();

}  // namespace classes
