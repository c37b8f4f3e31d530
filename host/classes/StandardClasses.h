// The helper classes pages create by ProgID beside the page objects
// (Server.CreateObject("Scripting.Dictionary")), offered by the server
// itself as host classes.
#pragma once

namespace classes {

// Registers every standard class with RegisterHostClass; calling it again
// registers them again, which changes nothing.
void RegisterStandardClasses();

}  // namespace classes
