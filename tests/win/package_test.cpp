// The MSI package as an administrator deploys it, in a Wine prefix of its own
// (tests/packaging/msi_test.sh installs and removes it around these cases):
// installed, the object and the "nibword:" protocol are registered from
// Program Files and work; removed, nothing of ours is left.

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "DialogRobot.h"
#include "TestSupport.h"
#include "com/Handle.h"
#include "com/StrConv.h"
#include "services/Files.h"
#include "services/UniqueName.h"

namespace nib::test {
namespace {

constexpr wchar_t kClass[] = L"CLSID\\{358ECC3E-6668-48DF-993E-0410762EAC63}";
constexpr wchar_t kTypeLib[] = L"TypeLib\\{68A9DA9A-8C1A-4231-807E-A3236C6241D3}";
constexpr wchar_t kInterface[] = L"Interface\\{29F00185-D726-4E06-83F7-5EDD6FBCC164}";  // INibWord
constexpr wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The default value of HKCR\`key` in the registry view `view` (KEY_WOW64_32KEY
// or KEY_WOW64_64KEY); empty when missing.
std::wstring ClassesValue(const std::wstring& key, REGSAM view, const wchar_t* name = nullptr) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return L"";
  wchar_t text[1024] = L"";
  DWORD bytes = sizeof text - sizeof(wchar_t), type = 0;
  LONG result = RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
  RegCloseKey(opened);
  return result == ERROR_SUCCESS ? text : L"";
}

bool ClassesKeyExists(const std::wstring& key, REGSAM view) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

// The versions of the Add/Remove Programs entries called NibWordLib.
std::vector<std::wstring> ListedVersions() {
  HKEY uninstall = nullptr;
  std::vector<std::wstring> versions;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | KEY_WOW64_64KEY, &uninstall) != ERROR_SUCCESS)
    return versions;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    wchar_t display[256] = L"", version[64] = L"";
    DWORD bytes = sizeof display - sizeof(wchar_t), versionBytes = sizeof version - sizeof(wchar_t);
    if (RegGetValueW(uninstall, name, L"DisplayName", RRF_RT_REG_SZ, nullptr, display, &bytes) != ERROR_SUCCESS ||
        std::wstring(display) != L"NibWordLib")
      continue;
    RegGetValueW(uninstall, name, L"DisplayVersion", RRF_RT_REG_SZ, nullptr, version, &versionBytes);
    versions.push_back(version);
  }
  RegCloseKey(uninstall);
  return versions;
}

bool ListedInAddRemovePrograms() { return !ListedVersions().empty(); }

std::wstring ProgramFiles() {
  wchar_t folder[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"ProgramW6432", folder, MAX_PATH);
  if (!folder[0]) GetEnvironmentVariableW(L"ProgramFiles", folder, MAX_PATH);
  return folder;
}

// Opens `link` as a browser hands a link to its protocol's handler; the
// handler's exit code, or a code of ours when it did not start or end.
DWORD OpenLink(const std::string& link) {
  std::wstring target = AnsiToWide(link, CP_UTF8);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = target.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info) || !info.hProcess) return 0xFFFFFFF0;
  UniqueHandle process(info.hProcess);
  if (WaitForSingleObject(info.hProcess, 120000) != WAIT_OBJECT_0) return 0xFFFFFFF1;
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  return code;
}

class Installed : public ComApartment {};

TEST_F(Installed, RegisteredFromProgramFilesForBothBitnesses) {
  std::wstring folder = ProgramFiles() + L"\\NibWordLib";
  EXPECT_TRUE(FileExists(WideToAnsi(folder + L"\\NibWordHost.exe")));
  EXPECT_EQ(ClassesValue(std::wstring(kClass) + L"\\InprocServer32", KEY_WOW64_64KEY), folder + L"\\x64\\NibWordLib.dll");
  EXPECT_EQ(ClassesValue(std::wstring(kClass) + L"\\InprocServer32", KEY_WOW64_32KEY), folder + L"\\x86\\NibWordLib.dll");
  EXPECT_EQ(ClassesValue(std::wstring(kClass) + L"\\InprocServer32", KEY_WOW64_64KEY, L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(ClassesValue(L"NibWordLib.NibWord\\Clsid", KEY_WOW64_64KEY), L"{358ECC3E-6668-48DF-993E-0410762EAC63}");
  EXPECT_EQ(ClassesValue(std::wstring(kTypeLib) + L"\\1.0\\0\\win64", KEY_WOW64_64KEY), folder + L"\\x64\\NibWordLib.dll");
  EXPECT_EQ(ClassesValue(std::wstring(kInterface) + L"\\ProxyStubClsid32", KEY_WOW64_64KEY),
            L"{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(ClassesValue(L"nibword", KEY_WOW64_64KEY, L"URL Protocol"), L"");
  EXPECT_TRUE(ClassesKeyExists(L"nibword", KEY_WOW64_64KEY));
  EXPECT_EQ(ClassesValue(L"nibword\\shell\\open\\command", KEY_WOW64_64KEY),
            L"\"" + folder + L"\\NibWordHost.exe\" \"%1\"");
  EXPECT_EQ(ListedVersions(), std::vector<std::wstring>{L"1.0.0"});
  // The 32-bit DLL installed is the shipping build (it cannot run here).
  EXPECT_TRUE(ReadAll(WideToAnsi(folder + L"\\x86\\NibWordLib.dll")) ==
              ReadAll(WideToAnsi(BuildPath(L"../win32/NibWordLib.dll"))));

  // The type library the keys name loads, and the object comes from the installed DLL.
  ITypeLib* library = nullptr;
  GUID libraryId;
  CLSIDFromString(L"{68A9DA9A-8C1A-4231-807E-A3236C6241D3}", &libraryId);
  EXPECT_EQ(LoadRegTypeLib(libraryId, 1, 0, 0, &library), S_OK);
  if (library) library->Release();
}

TEST_F(Installed, NibwordLinksRunJobsFromAllowedOriginsOnly) {
  std::string base = ServerBase();
  ASSERT_FALSE(base.empty()) << "the document server fixture is running";
  std::string id = "pkg-" + NewUniqueName().substr(0, 8);
  std::string files = ServerFolder() + "\\files\\";
  ASSERT_TRUE(SaveTextFile("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc><text>Body</text></nibdoc>\n",
                           files + id + ".doc"));
  ASSERT_TRUE(SaveTextFile("{\"settings\": [[\"SetDownURL\", \"" + base + "/" + id + ".doc\"], [\"SetUpURL\", \"" + base +
                               "/upload?id=" + id + "&reply=OK\"], [\"setSucceedPrefix\", \"OK\"]], \"open\": [\"3\", "
                               "\"\"], \"events\": \"" + base + "/events?id=" + id + "-events&append=1\"}",
                           files + id + ".json"));
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\NibWordLib", 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  std::wstring allowed = AnsiToWide(base) + L'\0' + L'\0';
  RegSetValueExW(key, L"AllowedOrigins", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(allowed.data()),
                 static_cast<DWORD>(allowed.size() * sizeof(wchar_t)));

  EXPECT_EQ(OpenLink("nibword:" + base + "/" + id + ".json?id=" + id + "-job"), 0u);
  EXPECT_EQ(ReadAll(ServerFolder() + "\\records\\" + id + ".body").substr(0, 2), "PK") << "the upload arrived";
  std::string posted = ReadAll(ServerFolder() + "\\records\\" + id + "-events.body");
  EXPECT_NE(posted.find("{\"result\":\"OK:"), std::string::npos) << posted;

  // Another origin (the same server under another name) is refused before anything is fetched.
  std::string port = base.substr(base.rfind(':') + 1);
  {
    DialogRobot robot(L"", false, 0, L"#32770");
    DWORD code = OpenLink("nibword:http://localhost:" + port + "/" + id + ".json?id=" + id + "-foreign");
    EXPECT_NE(code, 0u);
    EXPECT_NE(robot.Seen().text.find(Utf8ToWide("不能运行该任务")), std::wstring::npos);
  }
  EXPECT_EQ(ReadAll(ServerFolder() + "\\records\\" + id + "-foreign.get"), "") << "never fetched";
  RegDeleteValueW(key, L"AllowedOrigins");
  RegCloseKey(key);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\NibWordLib", KEY_WOW64_64KEY, 0);
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr) << "no Word left running";
}

class Upgraded : public ComApartment {};

TEST_F(Upgraded, OneEntryOfTheNewVersion) {
  EXPECT_EQ(ListedVersions(), std::vector<std::wstring>{L"1.0.1"}) << "the older package was removed by the newer";
  EXPECT_NE(ClassesValue(std::wstring(kClass) + L"\\InprocServer32", KEY_WOW64_64KEY), L"");
  EXPECT_TRUE(ClassesKeyExists(L"nibword", KEY_WOW64_64KEY));
}

class Uninstalled : public ComApartment {};

TEST_F(Uninstalled, NothingOfOursRemains) {
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    EXPECT_FALSE(ClassesKeyExists(kClass, view)) << view;
    EXPECT_FALSE(ClassesKeyExists(L"NibWordLib.NibWord", view)) << view;
    EXPECT_FALSE(ClassesKeyExists(kTypeLib, view)) << view;
    EXPECT_FALSE(ClassesKeyExists(kInterface, view)) << view;
    EXPECT_FALSE(ClassesKeyExists(L"nibword", view)) << view;
  }
  CLSID id;
  EXPECT_NE(CLSIDFromProgID(L"NibWordLib.NibWord", &id), S_OK);
  EXPECT_FALSE(ListedInAddRemovePrograms());
  std::wstring folder = ProgramFiles() + L"\\NibWordLib";
  EXPECT_FALSE(FileExists(WideToAnsi(folder + L"\\NibWordHost.exe")));
  EXPECT_FALSE(FileExists(WideToAnsi(folder + L"\\x64\\NibWordLib.dll")));
  EXPECT_FALSE(FileExists(WideToAnsi(folder + L"\\x86\\NibWordLib.dll")));
}

}  // namespace
}  // namespace nib::test
