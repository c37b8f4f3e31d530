// Registration of the built component by the registration tool, checked
// in real registry files and the real event log file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"

using namespace testing_support;
using platform::registry::ReadString;

namespace {

int Regsvr(const std::string& arguments) {
    const std::string command = std::string(REGSVR_PATH) + " " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Value(HKEY root, const std::string& path, const char* name = "") {
    std::string value;
    return ReadString(root, path, name, &value) ? value : "<missing>";
}

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

struct ClassEntry {
    const char* clsid;
    const char* progId;
    const char* independent;
    const char* description;
};

const ClassEntry kClasses[] = {
    {"{FC94A924-0EC0-4066-BE5A-80E775ECB5EF}", "Formix4.XForm.4", "Formix4.XForm", "XForm Class"},
    {"{2FD633A1-643D-4360-912A-CC3D5FE78665}", "Formix4.XField.4", "Formix4.XField", "XField Class"},
    {"{5176198E-2316-40A4-A475-362EA43FABBF}", "Formix4.XFields.4", "Formix4.XFields", "XFields Class"},
    {"{A4438725-0B80-48DA-A4E6-3028B49BD15C}", "Formix4.XProgress.4", "Formix4.XProgress", "XProgress Class"},
};
constexpr const char* kLibid = "{337B8704-3730-4764-8673-531147ADFF17}";
const std::string kModule = FORMIX4_MODULE;

}  // namespace

TEST(Registration, WritesEveryEntryAndLogsSuccess) {
    TempRegistry registry;
    ASSERT_EQ(Regsvr(kModule), 0);
    for (const ClassEntry& c : kClasses) {
        SCOPED_TRACE(c.progId);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, c.progId), c.description);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, std::string(c.progId) + "\\CLSID"), c.clsid);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, c.independent), c.description);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, std::string(c.independent) + "\\CLSID"), c.clsid);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, std::string(c.independent) + "\\CurVer"), c.progId);
        const std::string key = std::string("CLSID\\") + c.clsid;
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key), c.description);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + "\\ProgID"), c.progId);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + "\\VersionIndependentProgID"), c.independent);
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + "\\Programmable"));
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + "\\InprocServer32"), kModule);
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel"), "Both");
        EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + "\\TypeLib"), kLibid);
    }
    const std::string lib = std::string("TypeLib\\") + kLibid + "\\4.0";
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, lib), "Formix ASP Extension");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, lib + "\\0\\win32"), kModule);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, lib + "\\FLAGS"), "0");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, lib + "\\HELPDIR"), kModule.substr(0, kModule.rfind('/')));
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "Interface\\{FE25F5F6-408B-4959-AE53-4E332F193B43}"), "IXForm");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "Interface\\{FE25F5F6-408B-4959-AE53-4E332F193B43}\\TypeLib", "Version"), "4.0");

    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix\\4.0", "ModulePath"), kModule);
    const std::string source = std::string(kEventLogApplicationKey) + "\\Formix";
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, source, "CategoryMessageFile"), kModule);
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, source, "EventMessageFile"), kModule);
    EXPECT_NE(registry.file("HKEY_LOCAL_MACHINE")
                  .find("\"CategoryCount\"=dword:00000001\n"
                        "\"CategoryMessageFile\"=\"" +
                        kModule +
                        "\"\n"
                        "\"EventMessageFile\"=\"" +
                        kModule +
                        "\"\n"
                        "\"TypesSupported\"=dword:00000007\n"),
              std::string::npos);
    const auto events = registry.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0][1], "Information");
    EXPECT_EQ(events[0][2], "Formix");
    EXPECT_EQ(events[0][3], "1");
    EXPECT_EQ(events[0][4], "4096");
    EXPECT_EQ(events[0][5], "Formix Registered Successfully");
}

TEST(Registration, IsIdempotentAndUnregistrationKeepsTheClsidKey) {
    TempRegistry registry;
    ASSERT_EQ(Regsvr(kModule), 0);
    const std::string classes = registry.file("HKEY_CLASSES_ROOT");
    const std::string machine = registry.file("HKEY_LOCAL_MACHINE");
    ASSERT_EQ(Regsvr(kModule), 0);
    EXPECT_EQ(registry.file("HKEY_CLASSES_ROOT"), classes);
    EXPECT_EQ(registry.file("HKEY_LOCAL_MACHINE"), machine);
    EXPECT_EQ(registry.events().size(), 2u);

    platform::registry::WriteString(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-000000000001}", "", "other");
    ASSERT_EQ(Regsvr("-u " + kModule), 0);
    for (const ClassEntry& c : kClasses) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, c.progId));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, c.independent));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("CLSID\\") + c.clsid));
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-000000000001}"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLibid));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Interface\\{FE25F5F6-408B-4959-AE53-4E332F193B43}"));
    // ModulePath and the event source stay.
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix\\4.0", "ModulePath"), kModule);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kEventLogApplicationKey) + "\\Formix"));
    EXPECT_EQ(Regsvr("-u " + kModule), 0);  // nothing left to remove is no failure
}

TEST(Registration, FailuresStopBeforeTheLaterSteps) {
    TempRegistry registry;
    WriteFile(registry.registryDir() / "HKEY_CLASSES_ROOT.reg", "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Broken\n");
    EXPECT_EQ(Regsvr(kModule), 1);
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix\\4.0", "ModulePath"), "<missing>");
    EXPECT_TRUE(registry.events().empty());
    EXPECT_EQ(registry.file("HKEY_CLASSES_ROOT"), "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Broken\n");

    EXPECT_EQ(Regsvr(""), 2);
    EXPECT_EQ(Regsvr("/nonexistent/module.so"), 1);
    EXPECT_EQ(Regsvr(REGSVR_PATH), 1);  // not a loadable module
}

TEST(Registration, TheRegToolSetsAndShowsTheComponentsSettings) {
    TempRegistry registry;
    const std::string reg = REG_TOOL_PATH;
    const std::string key = "'HKLM\\SOFTWARE\\Venhale\\Formix\\4.0'";
    EXPECT_EQ(std::system((reg + " add " + key + " /v ReadChunkSize /t REG_DWORD /d 65536").c_str()), 0);
    EXPECT_EQ(std::system((reg + " add " + key + " /v Note /t REG_SZ /d 'a b'").c_str()), 0);
    DWORD chunk = 0;
    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix\\4.0", 0, KEY_READ, &opened), ERROR_SUCCESS);
    DWORD size = sizeof chunk, type = 0;
    EXPECT_EQ(RegQueryValueExA(opened, "ReadChunkSize", nullptr, &type, reinterpret_cast<BYTE*>(&chunk), &size),
              ERROR_SUCCESS);
    RegCloseKey(opened);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(chunk, 65536u);
    std::string note;
    EXPECT_TRUE(platform::registry::ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Venhale\\Formix\\4.0", "Note", &note));
    EXPECT_EQ(note, "a b");
    // Bad input is refused, not written.
    EXPECT_NE(std::system((reg + " add " + key + " /v Bad /t REG_DWORD /d 12x 2>/dev/null").c_str()), 0);
    EXPECT_NE(std::system((reg + " add HKXX\\\\Key /v A /d 1 2>/dev/null").c_str()), 0);
    EXPECT_NE(std::system((reg + " query " + key + " /v Missing 2>/dev/null").c_str()), 0);
}
