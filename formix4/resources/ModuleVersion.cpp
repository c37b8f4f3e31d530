// The module's version block: file and product version 4.0.0.1, and the
// mark that tells registration tools the module registers itself.
extern "C" __attribute__((visibility("default"))) const char kFormixFileVersion[] = "4.0.0.1";
extern "C" __attribute__((visibility("default"))) const char kFormixProductVersion[] = "4.0.0.1";
extern "C" __attribute__((visibility("default"))) const char OLESelfRegister[] = "";
