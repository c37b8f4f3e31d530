#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "TestSupport.h"
#include "platform/Registry.h"
#include "platform/RegistryValues.h"
#include "platform/System.h"

using namespace testing_support;
using platform::registry::ReadString;
using platform::registry::WriteDword;
using platform::registry::WriteString;

namespace {

DWORD ReadDword(const char* path, const char* name, LONG* status = nullptr) {
    HKEY key = nullptr;
    DWORD value = 0xDEADBEEF, size = sizeof value;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
        result = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(key);
    }
    if (status) *status = result;
    return value;
}

std::vector<std::string> SubkeyNames(HKEY root, const char* path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

}  // namespace

TEST(Registry, NamesIgnoreCaseButKeepIt) {
    TempRegistry registry;
    ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, "Formix4.XForm\\CurVer", "", "Formix4.XForm.4"), ERROR_SUCCESS);
    std::string value;
    EXPECT_TRUE(ReadString(HKEY_CLASSES_ROOT, "FORMIX4.xform\\curver", "", &value));
    EXPECT_EQ(value, "Formix4.XForm.4");
    // Writing through another spelling reaches the same key and keeps the first spelling.
    ASSERT_EQ(WriteString(HKEY_CLASSES_ROOT, "formix4.xform", "Extra", "1"), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, ""), std::vector<std::string>{"Formix4.XForm"});
    EXPECT_NE(registry.file("HKEY_CLASSES_ROOT").find("[HKEY_CLASSES_ROOT\\Formix4.XForm\\CurVer]"), std::string::npos);
}

TEST(Registry, MissingKeysValuesAndShortBuffersGiveWindowsCodes) {
    TempRegistry registry;
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(WriteString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "Text", "twelve chars"), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "Absent", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    BYTE small[4] = {1, 2, 3, 4};
    DWORD size = sizeof small, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 13u);    // the text and its NUL
    EXPECT_EQ(small[0], 1);  // nothing written on failure
    EXPECT_EQ(type, REG_SZ);
    char name[4];
    DWORD nameLength = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    nameLength = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST(Registry, EveryValueTypeSurvivesTheFile) {
    TempRegistry registry;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Types", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string quoted = "say \"hi\" to C:\\dir\\";
    const std::string multiline = "line one\r\nline two";
    std::vector<BYTE> binary(200);
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<BYTE>(i * 7);
    const char multi[] = "a\0bc\0\0";
    const DWORD dword = 0x80000001;
    const BYTE noTerminator[] = {'a', 'b'};
    RegSetValueExA(key, "Quoted", 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted.c_str()), quoted.size() + 1);
    RegSetValueExA(key, "Lines", 0, REG_SZ, reinterpret_cast<const BYTE*>(multiline.c_str()), multiline.size() + 1);
    RegSetValueExA(key, "Binary", 0, REG_BINARY, binary.data(), binary.size());
    RegSetValueExA(key, "Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi);
    RegSetValueExA(key, "Dword", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4);
    RegSetValueExA(key, "Bare", 0, REG_SZ, noTerminator, 2);
    RegSetValueExA(key, "Empty", 0, REG_BINARY, nullptr, 0);
    RegCloseKey(key);

    // Read back through a fresh parse of the file, as another process would.
    const std::string text = registry.file("HKEY_CURRENT_USER");
    std::filesystem::remove(registry.registryDir() / "HKEY_CURRENT_USER.reg");
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    WriteFile(registry.registryDir() / "HKEY_CURRENT_USER.reg", text);

    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Types", 0, KEY_READ, &key), ERROR_SUCCESS);
    auto read = [&](const char* name, DWORD* type) {
        std::vector<BYTE> data(512);
        DWORD size = data.size();
        EXPECT_EQ(RegQueryValueExA(key, name, nullptr, type, data.data(), &size), ERROR_SUCCESS) << name;
        data.resize(size);
        return data;
    };
    DWORD type = 0;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(read("Quoted", &type).data())), quoted);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(read("Lines", &type).data())), multiline);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(read("Binary", &type), binary);
    EXPECT_EQ(read("Multi", &type), std::vector<BYTE>(multi, multi + sizeof multi));
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(read("Bare", &type), std::vector<BYTE>(noTerminator, noTerminator + 2));
    EXPECT_TRUE(read("Empty", &type).empty());
    const auto dwordBytes = read("Dword", &type);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(std::memcmp(dwordBytes.data(), &dword, 4), 0);
    RegCloseKey(key);
    EXPECT_NE(text.find("\"Dword\"=dword:80000001"), std::string::npos);
}

TEST(Registry, DeleteTreeAndDeletedKeyHandles) {
    TempRegistry registry;
    WriteString(HKEY_CLASSES_ROOT, "CLSID\\{A}\\InprocServer32", "", "x");
    WriteString(HKEY_CLASSES_ROOT, "CLSID\\{B}", "", "y");
    HKEY held = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{A}", 0, KEY_READ, &held), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{A}"), static_cast<LONG>(ERROR_ACCESS_DENIED));  // has subkeys
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{A}"), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, "CLSID"), std::vector<std::string>{"{B}"});
    EXPECT_EQ(RegQueryValueExA(held, "", nullptr, nullptr, nullptr, nullptr), static_cast<LONG>(ERROR_KEY_DELETED));
    RegCloseKey(held);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{A}"), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, ChangesByAnotherProcessAreSeenAtTheNextRead) {
    TempRegistry registry;
    WriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", "Value", 1);
    EXPECT_EQ(ReadDword("SOFTWARE\\Shared", "Value"), 1u);
    ASSERT_EQ(RunInChild([] { return WriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", "Value", 2) ? 1 : 0; }), 0);
    EXPECT_EQ(ReadDword("SOFTWARE\\Shared", "Value"), 2u);
    ASSERT_EQ(RunInChild([] {
                  HKEY k = nullptr;
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, KEY_WRITE, &k);
                  return RegDeleteValueA(k, "Value") == ERROR_SUCCESS ? 0 : 1;
              }),
              0);
    LONG status = 0;
    ReadDword("SOFTWARE\\Shared", "Value", &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
}

TEST(Registry, ConcurrentWritersInSeveralProcessesLoseNothing) {
    TempRegistry registry;
    constexpr int kProcesses = 4, kValues = 40;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        if (pid == 0) {
            int failures = 0;
            for (int v = 0; v < kValues; ++v) {
                const std::string name = "P" + std::to_string(p) + "V" + std::to_string(v);
                failures += WriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Race", name.c_str(), v) != ERROR_SUCCESS;
            }
            _exit(failures);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Race", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    EXPECT_EQ(values, static_cast<DWORD>(kProcesses * kValues));
    // No temporary files are left behind.
    for (const auto& entry : std::filesystem::directory_iterator(registry.registryDir()))
        EXPECT_TRUE(entry.path().extension() == ".reg" || entry.path().filename() == ".lock") << entry.path();
}

TEST(Registry, CorruptFilesAreReportedAndNeverOverwritten) {
    const std::string good = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep]\n\"A\"=dword:00000001\n";
    const std::vector<std::string> damaged = {
        "garbage\n",
        good.substr(0, good.size() - 5),                                     // cut inside the dword
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep",                   // cut inside a key line
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"B\"=hex:01,02,\\\n",  // continuation past the end
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"S\"=\"unterminated\n",
        "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Elsewhere]\n",  // wrong root
        "REGEDIT4\n\"orphan\"=\"value\"\n",
        std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n\"x\"=hex:0g\n"),
    };
    for (const std::string& text : damaged) {
        TempRegistry registry;
        const auto file = registry.registryDir() / "HKEY_LOCAL_MACHINE.reg";
        WriteFile(file, text);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), static_cast<LONG>(ERROR_BADDB))
            << text;
        EXPECT_NE(platform::registry::LastParseError().find("HKEY_LOCAL_MACHINE.reg: line "), std::string::npos);
        EXPECT_EQ(WriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", "V", 1), static_cast<LONG>(ERROR_BADDB));
        EXPECT_EQ(ReadFile(file), text);
        // Other roots are unaffected.
        EXPECT_EQ(WriteString(HKEY_CLASSES_ROOT, "Fine", "", "yes"), ERROR_SUCCESS);
    }
    TempRegistry registry;
    WriteFile(registry.registryDir() / "HKEY_LOCAL_MACHINE.reg", good);
    EXPECT_EQ(ReadDword("SOFTWARE\\Keep", "A"), 1u);
}

TEST(Registry, OnlyTheLocalMachineCanBeReached) {
    TempRegistry registry;
    HKEY key = nullptr;
    EXPECT_EQ(RegConnectRegistryA(nullptr, HKEY_LOCAL_MACHINE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegConnectRegistryA("", HKEY_LOCAL_MACHINE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegConnectRegistryA(("\\\\" + LocalMachineName()).c_str(), HKEY_LOCAL_MACHINE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegConnectRegistryA("\\\\elsewhere.invalid", HKEY_LOCAL_MACHINE, &key),
              static_cast<LONG>(ERROR_BAD_NETPATH));
}
