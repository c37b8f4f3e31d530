// The registry entries of the four classes, written at registration and
// removed at unregistration (the key CLSID itself always stays):
//   HKCR\<versioned ProgID>            = description, \CLSID = {clsid}
//   HKCR\<version-independent ProgID>  = description, \CLSID = {clsid}, \CurVer = <versioned ProgID>
//   HKCR\CLSID\{clsid}                 = description, \ProgID, \VersionIndependentProgID, \Programmable,
//                                        \InprocServer32 = <module path> (ThreadingModel = "Both"), \TypeLib = {libid}
#pragma once

#include "Formix4.h"

struct ClassScript {
    const char* name;
    const CLSID* clsid;
    const IID* iid;
    const char* progId;
    const char* versionIndependentProgId;
    const char* description;
};

inline constexpr ClassScript kClassScripts[] = {
    {"XForm", &CLSID_XForm, &IID_IXForm, "Formix4.XForm.4", "Formix4.XForm", "XForm Class"},
    {"XField", &CLSID_XField, &IID_IXField, "Formix4.XField.4", "Formix4.XField", "XField Class"},
    {"XFields", &CLSID_XFields, &IID_IXFields, "Formix4.XFields.4", "Formix4.XFields", "XFields Class"},
    {"XProgress", &CLSID_XProgress, &IID_IXProgress, "Formix4.XProgress.4", "Formix4.XProgress", "XProgress Class"},
};

inline constexpr const char* kThreadingModel = "Both";
