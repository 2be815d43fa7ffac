// The editors a PC really has: Word, WPS Office (Word's object model under
// WPS's names), both, or neither, registered by the Office double as each
// suite registers itself. Runs in a Wine prefix of its own, as it changes
// what is installed there.

#include <windows.h>

#include <string>

#include "DialogRobot.h"
#include "FlowFixture.h"
#include "TestSupport.h"
#include "com/BStr.h"
#include "com/Handle.h"
#include "com/StrConv.h"
#include "services/Files.h"
#include "services/Policy.h"

namespace nib::test {
namespace {

constexpr CLSID kWpsWriter = {0x000209FF, 0x0000, 0x4B30, {0xA9, 0x77, 0xD2, 0x14, 0x85, 0x20, 0x36, 0xFF}};

// Runs the double, built beside the test programs' folder, with `switches`.
void RunDouble(const std::wstring& switches) {
  wchar_t self[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  for (int up = 0; up < 3; ++up) path = path.substr(0, path.find_last_of(L'\\'));
  std::wstring command = L"\"" + path + L"\\office-double.exe\" " + switches;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      << WideToAnsi(command);
  UniqueHandle thread(process.hThread), running(process.hProcess);
  WaitForSingleObject(running.Get(), 30000);
}

void SetEditorPolicy(const wchar_t* value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  if (*value)
    RegSetValueExW(key, L"Editor", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  else
    RegDeleteValueW(key, L"Editor");
  RegCloseKey(key);
}

class Editors : public FlowFixture {
 protected:
  void SetUp() override {
    DeleteFileA("c:\\doubles\\calls.log");
    FlowFixture::SetUp();
  }
  void TearDown() override {
    SetEditorPolicy(L"");
    DeleteFileA("c:\\doubles\\control.ini");
    EXPECT_EQ(FindWindowW(L"NibDoubleWpsFrame", nullptr), nullptr) << "no WPS left running";
    FlowFixture::TearDown();
  }
  // "word", "wps", "both" (Word, then WPS taking the .doc files) or "none".
  void Install(const std::string& suites) {
    RunDouble(L"/UnregServer");
    if (suites == "word" || suites == "both") RunDouble(L"/RegServer");
    if (suites == "wps" || suites == "both") RunDouble(L"/RegServer /Editor:wps");
  }
  // Which editor the cycles started: "Word", "WPS", both or none, from the double's log.
  std::string Started() {
    std::string log = ReadAll("c:\\doubles\\calls.log"), started;
    for (const char* editor : {"Word", "WPS"})
      if (log.find(std::string("\t") + editor + ".<create>\t\tok") != std::string::npos)
        started += started.empty() ? editor : std::string("+") + editor;
    return started;
  }
  void UnattendedCycle(const char* document) {
    Serve(document, "正文");
    Configure(document, "&reply=OK");
    std::wstring result = Open(L"3");
    EXPECT_EQ(result.rfind(L"OK:", 0), 0u) << WideToAnsi(result, CP_UTF8);
    EXPECT_EQ(Uploaded("body").substr(0, 2), "PK") << "the converted document was packed and uploaded";
  }
};

// Which suite is installed, and the policy, decide; the .doc association does not.
TEST_F(Editors, TheEditorIsChosenByItsAutomationServer) {
  struct Case {
    const char* suites;
    const wchar_t* policy;
    const char* started;
  } cases[] = {{"both", L"", "Word"}, {"both", L"wps", "WPS"}, {"both", L"Word", "Word"}, {"wps", L"auto", "WPS"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.suites) + " " + WideToAnsi(c.policy));
    Install(c.suites);
    SetEditorPolicy(c.policy);
    DeleteFileA("c:\\doubles\\calls.log");
    UnattendedCycle((std::string(c.suites) + ".doc").c_str());
    EXPECT_EQ(Started(), c.started);
  }
}

// Nothing to edit with: the clerk is told once, naming both editors; nothing
// is fetched, started or left behind.
TEST_F(Editors, WithoutAnEditorTheOpenSaysSo) {
  for (auto [suites, policy] : {std::pair{"none", L""}, {"wps", L"word"}}) {
    SCOPED_TRACE(suites);
    Install(suites);
    SetEditorPolicy(policy);
    DeleteFileA("c:\\doubles\\calls.log");
    Serve("nothing.doc", "正文");
    Configure("nothing.doc");
    const std::set<std::string> before = TemporaryEntries();
    BStr p1(L"1"), p2(L""), result;
    HRESULT hr = S_OK;
    std::wstring told;
    {
      DialogRobot robot(L"");
      hr = page->OpenFile(p1.Get(), p2.Get(), result.Out());
      told = robot.Seen().text;
    }
    EXPECT_TRUE(FAILED(hr)) << "the open fails";
    EXPECT_NE(told.find(L"Word"), std::wstring::npos) << WideToAnsi(told, CP_UTF8);
    EXPECT_NE(told.find(L"WPS"), std::wstring::npos) << WideToAnsi(told, CP_UTF8);
    Microsoft::WRL::ComPtr<IErrorInfo> info;
    BStr description;
    if (GetErrorInfo(0, &info) == S_OK) info->GetDescription(description.Out());
    EXPECT_NE(description.Wide().find(L"WPS"), std::wstring::npos) << "the page hears why";
    EXPECT_FALSE(FileExists(ServerFolder() + "\\records\\" + id + ".get")) << "nothing fetched";
    EXPECT_EQ(Started(), "") << "nothing started";
    EXPECT_EQ(TemporaryEntries(), before) << "no temporary file";
    EXPECT_EQ(ControlButton(kClose), nullptr) << "no control window";
  }
  Install("word");
}

// On WPS only: the unattended cycle with members WPS lacks skipped, then the
// user's cycle: a close made in WPS refused, 关闭 → 是 against a refusing
// server keeps the edit, 保存并关闭 delivers it.
TEST_F(Editors, WpsRunsTheWholeCycle) {
  Install("wps");
  ASSERT_TRUE(SaveTextFile("[wps]\r\nmissing=View.FieldShading,Document.PrintRevisions,Application.DisplayAlerts\r\n",
                           "c:\\doubles\\control.ini"));
  UnattendedCycle("wps-unattended.doc");
  EXPECT_EQ(Started(), "WPS");
  EXPECT_NE(ReadAll("c:\\doubles\\calls.log").find("View.FieldShading<names>\t\tunknown name"), std::string::npos)
      << "the missing member was asked for and skipped";
  DeleteFileA("c:\\doubles\\control.ini");

  id += "-user";
  Serve("wps-user.doc", "正文");
  Configure("wps-user.doc", "&reply=NO%20refused");
  EXPECT_EQ(Open(L"1"), L"");
  DispObject wps = RunningWord(kWpsWriter);
  ASSERT_TRUE(wps) << "WPS runs, registered as itself";
  DispObject document = wps.Object(L"ActiveDocument");
  document.CallObject(L"Range", {Arg(0L), Arg(0L)}).Put(L"Text", L"Typed in WPS ");
  {
    DialogCatcher told;
    document.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});  // the user closes it in WPS
  }
  EXPECT_EQ(wps.Object(L"Documents").Long(L"Count"), 1) << "the close was refused through WPS's own events";
  {
    DialogCatcher answers;  // 是 to the quit question, then OK to the failure
    SendMessageW(ControlButton(kClose), BM_CLICK, 0, 0);
  }
  EXPECT_NE(ControlButton(kClose), nullptr) << "the refused upload keeps the cycle";
  EXPECT_NE(document.CallObject(L"Range").Text(L"Text").find(L"Typed in WPS"), std::wstring::npos) << "with the edit";
  Set(&INibWord::SetUpURL, base + "/upload?id=" + id + "&reply=OK");
  sink.calls.clear();
  document = wps = DispObject();
  SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
  EXPECT_EQ(ControlButton(kSaveAndClose), nullptr) << "the cycle ended";
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK");
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[1], L"Save");
  for (int i = 0; i < 200 && FindWindowW(L"NibDoubleWpsFrame", nullptr); ++i) Sleep(25);
}

}  // namespace
}  // namespace nib::test
