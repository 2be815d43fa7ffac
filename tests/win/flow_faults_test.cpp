// Every way a save can fail, for every command that saves: the user keeps
// the edit (Word open with it, or the working copy on disk), keeps the
// controls to try again or close, is told, and the page hears of no save.
// Once the fault is gone, the same command delivers the edit.

#include <windows.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "DialogRobot.h"
#include "FlowFixture.h"
#include "TestSupport.h"
#include "services/Switches.h"
#include "com/ComError.h"
#include "services/Files.h"
#include "services/WindowUtil.h"
#include "services/TextUtil.h"

namespace nib::test {
namespace {

enum class Command { kSaveAndClose, kCloseYes, kSave, kRedHeaderSave, kRedHeaderCloseYes, kOverprint };
enum class Fault { kWordSaveFails, kConversionFails, kSizeLimit, kServerRefuses, kServerDown, kWordKilled };

const char* Name(Command command) {
  switch (command) {
    case Command::kSaveAndClose: return "SaveAndClose";
    case Command::kCloseYes: return "CloseYes";
    case Command::kSave: return "Save";
    case Command::kRedHeaderSave: return "RedHeaderSave";
    case Command::kRedHeaderCloseYes: return "RedHeaderCloseYes";
    case Command::kOverprint: return "Overprint";
  }
  return "";
}

const char* Name(Fault fault) {
  switch (fault) {
    case Fault::kWordSaveFails: return "WordSaveFails";
    case Fault::kConversionFails: return "ConversionFails";
    case Fault::kSizeLimit: return "SizeLimit";
    case Fault::kServerRefuses: return "ServerRefuses";
    case Fault::kServerDown: return "ServerDown";
    case Fault::kWordKilled: return "WordKilled";
  }
  return "";
}

bool RedHeader(Command command) { return command == Command::kRedHeaderSave || command == Command::kRedHeaderCloseYes; }
// The commands that end the cycle when the upload succeeds.
bool Closing(Command command) { return command != Command::kSave && command != Command::kRedHeaderSave; }

const wchar_t kDoublesControl[] = L"C:\\doubles\\control.ini";

bool Contains(const std::vector<std::wstring>& texts, const std::wstring& part) {
  for (const std::wstring& text : texts)
    if (text.find(part) != std::wstring::npos) return true;
  return false;
}

std::string Joined(const std::vector<std::wstring>& texts) {
  std::string all;
  for (const std::wstring& text : texts) all += "[" + WideToAnsi(text, CP_UTF8) + "] ";
  return all;
}

// Ends Word's process, as a crash or the task manager would.
bool KillWord() {
  HWND word = FindWindowW(L"OpusApp", nullptr);
  DWORD pid = 0;
  if (!word || !GetWindowThreadProcessId(word, &pid)) return false;
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (!process) return false;
  bool killed = TerminateProcess(process, 1) && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
  CloseHandle(process);
  return killed;
}

class Faults : public FlowFixture, public ::testing::WithParamInterface<std::tuple<Command, Fault>> {
 protected:
  void TearDown() override {
    DeleteFileW(kDoublesControl);
    FlowFixture::TearDown();
  }

  std::string UploadAddress(const char* reply) { return base + "/upload?id=" + id + "&reply=" + reply; }

  void OpenFor(Command command) {
    Set(&INibWord::SetDocTmplDLURL, "");
    if (RedHeader(command)) {
      Serve("fault-red.doc", "Red header body");
      Set(&INibWord::SetDownURLHt, base + "/fault-red.doc");
      Set(&INibWord::SetUpURLHt, UploadAddress("OK"));
      Set(&INibWord::setSucceedPrefix, "OK");
      Set(&INibWord::SetDestBaseFN, "红头.doc");
      BStr result;
      ASSERT_EQ(page->OpenHtFile(result.Out()), S_OK);
      return;
    }
    Serve("fault.doc", "Body of the notice");
    Configure("fault.doc", "&reply=OK");
    if (command != Command::kOverprint) {
      EXPECT_EQ(Open(L"1"), L"");
      return;
    }
    ServeDocument("fault-template.doc",
                  "<text>RED HEADER\r[\r\r]\rFOOTER</text><bookmark name=\"正文内容B\" start=\"11\" end=\"12\"/>"
                  "<bookmark name=\"正文内容E\" start=\"14\" end=\"15\"/>");
    Set(&INibWord::SetDocTmplDLURL, base + "/fault-template.doc");
    BStr xml(W("<r><BookMark Name=\"发文号\" Text=\"第3号\"/></r>"));
    ASSERT_EQ(page->SetXMLCont(1, xml.Get()), S_OK);
    EXPECT_EQ(Open(L"6", L"3"), L"");
  }

  void SetUpload(const std::string& address) {
    Set(RedHeader(std::get<0>(GetParam())) ? &INibWord::SetUpURLHt : &INibWord::SetUpURL, address);
  }

  void Inject(Fault fault) {
    switch (fault) {
      case Fault::kWordSaveFails:
        ASSERT_TRUE(SaveTextFile("[fail]\r\nDocument.Save=The disk is full.\r\n", WideToAnsi(kDoublesControl)));
        break;
      case Fault::kConversionFails:
        ASSERT_TRUE(SaveTextFile("[fail]\r\nDocument.SaveAs=The file cannot be written.\r\n",
                                 WideToAnsi(kDoublesControl)));
        break;
      case Fault::kSizeLimit:
        ASSERT_EQ(page->SetFileSizeLmt(0.1), S_OK);  // about 100 bytes: every document here is larger
        break;
      case Fault::kServerRefuses:
        SetUpload(UploadAddress("NO%20refused"));
        break;
      case Fault::kServerDown:
        SetUpload("http://127.0.0.1:9/upload?id=" + id);
        break;
      case Fault::kWordKilled:
        ASSERT_TRUE(KillWord()) << "Word's process could be ended";
        break;
    }
  }

  void Remove(Fault fault) {
    DeleteFileW(kDoublesControl);
    ASSERT_EQ(page->SetFileSizeLmt(10000), S_OK);
    if (fault == Fault::kServerRefuses || fault == Fault::kServerDown) SetUpload(UploadAddress("OK"));
  }

  // The user's command; returns the texts of every dialog on the way.
  std::vector<std::wstring> Perform(Command command) {
    DialogCatcher dialogs;  // answers each with its first button: OK, or Yes to the quit question
    switch (command) {
      case Command::kSaveAndClose:
      case Command::kOverprint:
        SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
        break;
      case Command::kCloseYes:
      case Command::kRedHeaderCloseYes:
        SendMessageW(ControlButton(kClose), BM_CLICK, 0, 0);
        break;
      case Command::kRedHeaderSave:
        SendMessageW(ControlButton(kSaveRedHeader), BM_CLICK, 0, 0);
        break;
      case Command::kSave: {
        ComPtr<IInnerFunc> inner;
        BStr result;
        EXPECT_EQ(page.As(&inner), S_OK);
        EXPECT_EQ(inner->ProcSave(VARIANT_FALSE, result.Out()), S_OK);
        break;
      }
    }
    Sleep(300);  // a last dialog may still be on its way
    return dialogs.Texts();
  }

  std::wstring WordText() {
    DispObject word = RunningWord();
    return word ? word.Object(L"ActiveDocument").CallObject(L"Range").Text(L"Text") : L"";
  }

  bool SavesReported() const {
    for (const SinkCall& call : sink.calls)
      if (call.strings.size() > 1 && (call.strings[1] == L"Save" || call.strings[1] == L"TempSave")) return true;
    return false;
  }
};

TEST_P(Faults, NothingIsLostAndARetryDelivers) {
  auto [command, fault] = GetParam();
  if (fault == Fault::kSizeLimit && !(command == Command::kSaveAndClose || command == Command::kCloseYes ||
                                      command == Command::kOverprint))
    GTEST_SKIP() << "the size limit belongs to save-and-close; a save keeps the cycle and checks no size";
  if (fault == Fault::kConversionFails && command == Command::kOverprint)
    GTEST_SKIP() << "the overprint upload sends the document itself: there is no conversion";

  OpenFor(command);
  ASSERT_NE(ControlButton(kClose), nullptr) << "the cycle is open";
  std::string workingCopy = TypeInWord(L"Typed by the user ");
  ASSERT_FALSE(workingCopy.empty());
  sink.calls.clear();

  Inject(fault);
  std::vector<std::wstring> dialogs = Perform(command);
  Remove(fault);
  const std::string seen = Joined(dialogs);

  EXPECT_FALSE(Contains(dialogs, W("保存成功"))) << "no success after a failure: " << seen;
  EXPECT_FALSE(SavesReported()) << "the page hears of no save";
  if (fault == Fault::kServerRefuses) {
    // It arrived and was refused: the retry must arrive anew.
    DeleteFileW(AnsiToWide(ServerFolder() + "\\records\\" + id + ".body").c_str());
  } else {
    EXPECT_TRUE(Uploaded("body").empty()) << "nothing reached the server";
  }
  EXPECT_TRUE(FileExists(workingCopy)) << "the working copy is kept";

  if (fault == Fault::kWordKilled) {
    EXPECT_TRUE(Contains(dialogs, W("Word已意外关闭"))) << "the user is told Word is gone: " << seen;
    EXPECT_EQ(ControlButton(kClose), nullptr) << "the cycle ended";
    EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr) << "no second Word was started";
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].strings[1], L"NoSave");
    DeleteFileW(AnsiToWide(workingCopy).c_str());
    RemoveDirectoryW(AnsiToWide(FolderOfPath(workingCopy)).c_str());
    return;
  }

  switch (fault) {
    case Fault::kWordSaveFails:
      EXPECT_TRUE(Contains(dialogs, W("文档保存未成功"))) << seen;
      EXPECT_TRUE(Contains(dialogs, L"The disk is full.")) << "Word's own reason: " << seen;
      break;
    case Fault::kConversionFails:
      EXPECT_TRUE(Contains(dialogs, L"The file cannot be written.")) << seen;
      break;
    case Fault::kSizeLimit:
      EXPECT_TRUE(Contains(dialogs, W("文件大小不能超过0K"))) << seen;
      break;
    case Fault::kServerRefuses:
    case Fault::kServerDown:
      EXPECT_TRUE(Contains(dialogs, W("\r\n文件上传未成功,请稍后再试!"))) << seen;
      break;
    case Fault::kWordKilled:
      break;
  }
  ASSERT_NE(FindWindowW(L"OpusApp", nullptr), nullptr) << "Word stays open";
  EXPECT_NE(WordText().find(L"Typed by the user"), std::wstring::npos) << "with the edit";
  ASSERT_NE(ControlButton(kClose), nullptr) << "the control window stays";
  EXPECT_TRUE(IsWindowEnabled(ControlButton(kClose))) << "the user can close";
  int saveButton = RedHeader(command) ? kSaveRedHeader : kSaveAndClose;
  if (command != Command::kSave) {
    EXPECT_TRUE(IsWindowEnabled(ControlButton(saveButton))) << "and try again";
  }

  // The fault is gone: the same command delivers the edit.
  dialogs = Perform(command);
  EXPECT_EQ(Uploaded("body").empty(), false) << "the retry arrived: " << Joined(dialogs);
  if (command == Command::kOverprint) {
    EXPECT_NE(Uploaded("body").find("Typed by the user"), std::string::npos) << "the document with the edit";
  }
  if (Closing(command)) {
    EXPECT_EQ(ControlButton(kClose), nullptr) << "the cycle ended after the successful upload";
    EXPECT_FALSE(FileExists(workingCopy)) << "and its files are gone";
    if (!RedHeader(command)) {
      ASSERT_EQ(sink.calls.size(), 1u);
      EXPECT_EQ(sink.calls[0].strings[1], L"Save");
    }
  } else {
    EXPECT_TRUE(Contains(dialogs, W("保存成功!"))) << Joined(dialogs);
    EXPECT_NE(ReadAll(workingCopy).find("Typed by the user"), std::string::npos);
    ComPtr<IInnerFunc> inner;
    BStr ignored;
    ASSERT_EQ(page.As(&inner), S_OK);
    ASSERT_EQ(inner->ProcQuit(VARIANT_TRUE, ignored.Out()), S_OK);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, Faults,
    ::testing::Combine(::testing::Values(Command::kSaveAndClose, Command::kCloseYes, Command::kSave,
                                         Command::kRedHeaderSave, Command::kRedHeaderCloseYes, Command::kOverprint),
                       ::testing::Values(Fault::kWordSaveFails, Fault::kConversionFails, Fault::kSizeLimit,
                                         Fault::kServerRefuses, Fault::kServerDown, Fault::kWordKilled)),
    [](const ::testing::TestParamInfo<std::tuple<Command, Fault>>& info) {
      return std::string(Name(std::get<0>(info.param))) + "_" + Name(std::get<1>(info.param));
    });

// The other ways a cycle can be cut short, each leaving the user's work.
class NeverLose : public FlowFixture {
 protected:
  ComPtr<IInnerFunc> Inner() {
    ComPtr<IInnerFunc> inner;
    EXPECT_EQ(page.As(&inner), S_OK);
    return inner;
  }
  // A red-header cycle of a document with one revision; the working copy's path.
  std::string OpenRevisedRedHeader(const std::string& name) {
    ServeDocument(name, "<text>Signed body</text><revision author=\"张三\">Signed </revision>");
    Set(&INibWord::SetDownURLHt, base + "/" + name);
    Set(&INibWord::SetUpURLHt, base + "/upload?id=" + id + "&reply=OK");
    Set(&INibWord::setSucceedPrefix, "OK");
    BStr result;
    EXPECT_EQ(page->OpenHtFile(result.Out()), S_OK);
    DispObject word = RunningWord();
    return word ? WideToAnsi(word.Object(L"ActiveDocument").Text(L"FullName")) : "";
  }
  void ForceQuit() {
    BStr ignored;
    if (ControlButton(kClose)) {
      ASSERT_EQ(Inner()->ProcQuit(VARIANT_TRUE, ignored.Out()), S_OK);
    }
  }
};

// The chooser is modal toward the control window, and the cycle's end while
// it is up (here the page quits from its TempletFN handler) closes it quietly.
TEST_F(NeverLose, ChooserSurvivesTheCyclesEnd) {
  Serve("chooser-end.doc", "Body");
  Configure("chooser-end.doc", "&reply=OK");
  ASSERT_EQ(page->IsMultTemplet(VARIANT_TRUE), S_OK);
  ASSERT_EQ(page->SetIsPrinter(VARIANT_TRUE), S_OK);
  Set(&INibWord::SetMultTemplet, "1**甲.doc##tmpl-a.doc@@2**乙.doc##tmpl-b.doc");
  EXPECT_EQ(Open(L"1"), L"");
  sink.onCall = [&](const SinkCall& call) {
    if (call.strings.size() > 1 && call.strings[0] == L"TempletFN" && call.strings[1].rfind(L"tmpl-", 0) == 0) {
      BStr ignored;
      EXPECT_EQ(Inner()->ProcQuit(VARIANT_TRUE, ignored.Out()), S_OK);
    }
  };
  bool closeRefused = false;
  std::thread user([&] {
    DialogRobot question(L"#2", false, 0, L"#32770");  // no save before the template
    question.Seen();
    HWND chooser = nullptr;
    for (int i = 0; i < 2000 && !(chooser = FindWindowW(L"TFrmTemplet", nullptr)); ++i) Sleep(5);
    if (!chooser) return;
    SendMessageW(ControlButton(kClose), BM_CLICK, 0, 0);  // the user tries the control window meanwhile
    closeRefused = FindWindowW(L"OpusApp", nullptr) != nullptr && !IsWindowEnabled(FindWindowW(L"TFrmUserCtrlPop", nullptr));
    PostMessageW(GetDlgItem(chooser, 1), BM_CLICK, 0, 0);
  });
  SendMessageW(ControlButton(kUseTemplate), BM_CLICK, 0, 0);
  user.join();
  sink.onCall = nullptr;
  EXPECT_TRUE(closeRefused) << "the control window takes no command while the chooser is up";
  EXPECT_EQ(FindWindowW(L"TFrmUserCtrlPop", nullptr), nullptr) << "the page ended the cycle";
  HWND chooser = FindWindowW(L"TFrmTemplet", nullptr);
  EXPECT_TRUE(!chooser || !IsWindowVisible(chooser)) << "and the chooser closed with it";
  ASSERT_EQ(page->IsMultTemplet(VARIANT_FALSE), S_OK);
  ASSERT_EQ(page->SetIsPrinter(VARIANT_FALSE), S_OK);
}

// A page opening its next document when it hears of the save, or from a
// timer while the last cycle's files are being deleted, gets a whole new
// cycle that nothing of the old one ends.
TEST_F(NeverLose, OpenFileFromTheSaveEventAndDuringCleanup) {
  Serve("next.doc", "Next");
  Configure("next.doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  std::string first = TypeInWord(L"First ");
  std::wstring reopened;
  sink.onCall = [&](const SinkCall& call) {
    if (call.strings.size() > 1 && call.strings[1] == L"Save") reopened = Open(L"1");
  };
  SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
  sink.onCall = nullptr;
  EXPECT_EQ(reopened, L"") << "the next cycle opened";
  EXPECT_FALSE(FileExists(first)) << "the saved cycle's files are gone";
  ASSERT_NE(ControlButton(kClose), nullptr) << "the next cycle's window is up";
  DispObject word = RunningWord();
  ASSERT_TRUE(word) << "with its Word";
  std::string second = WideToAnsi(word.Object(L"ActiveDocument").Text(L"FullName"));
  EXPECT_TRUE(FileExists(second));

  // Closed without changes; a timer of the page opens the next one while the
  // clean-up waits for Word to let go of the files.
  static INibWord* timerPage = nullptr;
  static std::wstring timerResult;
  timerPage = page.Get();
  timerResult = L"not run";
  struct PageTimer {
    static void CALLBACK OpenNext(HWND, UINT, UINT_PTR id, DWORD) {
      KillTimer(nullptr, id);
      BStr p1(L"1"), p2(L""), result;
      if (SUCCEEDED(timerPage->OpenFile(p1.Get(), p2.Get(), result.Out()))) timerResult = result.Wide();
    }
  };
  UINT_PTR timer = SetTimer(nullptr, 0, 400, PageTimer::OpenNext);
  ASSERT_NE(timer, 0u);
  SendMessageW(ControlButton(kClose), BM_CLICK, 0, 0);
  for (int i = 0; i < 100 && timerResult == L"not run"; ++i) DelayWithMessages(50);
  EXPECT_EQ(timerResult, L"") << "the timer's open ran";
  EXPECT_FALSE(FileExists(second)) << "the closed cycle's files are gone";
  ASSERT_NE(ControlButton(kClose), nullptr) << "the timer's cycle is up";
  word = RunningWord();
  ASSERT_TRUE(word);
  std::string third = WideToAnsi(word.Object(L"ActiveDocument").Text(L"FullName"));
  EXPECT_TRUE(FileExists(third)) << "and its working copy survived the old clean-up";
  word = DispObject();
  ForceQuit();
  EXPECT_FALSE(FileExists(third));
}

// The page goes away (closed, navigated) in the middle of a cycle: Word keeps
// the user's document and asks its own question on close, the working copy
// stays, and nothing of ours holds the DLL.
TEST_F(NeverLose, ThePagesEndLeavesWordWithTheEdit) {
  Serve("leave.doc", "Body");
  Configure("leave.doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  std::string workingCopy = TypeInWord(L"Unsaved words ");
  DispObject word = RunningWord();  // as the user's desktop holds it
  ASSERT_TRUE(word);
  point->Unadvise(cookie);
  point.Reset();
  page.Reset();  // the page's last reference

  EXPECT_EQ(FindWindowW(L"TFrmUserCtrlPop", nullptr), nullptr) << "the control window went with the object";
  ASSERT_NE(FindWindowW(L"OpusApp", nullptr), nullptr) << "Word was not quit";
  DispObject document = word.Object(L"ActiveDocument");
  EXPECT_NE(document.CallObject(L"Range").Text(L"Text").find(L"Unsaved words"), std::wstring::npos);
  EXPECT_EQ(word.Long(L"DisplayAlerts"), -1) << "Word's own save question applies again";
  EXPECT_TRUE(FileExists(workingCopy)) << "the working copy is kept";
  auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"NibWordLib.dll"), "DllCanUnloadNow")));
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_OK) << "nothing of ours is alive";
  {
    DialogCatcher dialogs;
    document.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});  // the user closes it in Word
    EXPECT_TRUE(dialogs.Texts().empty()) << "no object refuses Word's own close";
  }
  document = DispObject();
  word.Call(L"Quit");
  word = DispObject();
  for (int i = 0; i < 200 && FindWindowW(L"OpusApp", nullptr); ++i) Sleep(25);
  DeleteFileW(AnsiToWide(workingCopy).c_str());
  RemoveDirectoryW(AnsiToWide(FolderOfPath(workingCopy)).c_str());
}

// After a whole cycle the object, its timer thread and the DLL can go.
TEST_F(NeverLose, TheDllCanUnloadAfterACycle) {
  Serve("unload.doc", "Body");
  Configure("unload.doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  ForceQuit();
  point->Unadvise(cookie);
  point.Reset();
  page.Reset();
  auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"NibWordLib.dll"), "DllCanUnloadNow")));
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_OK) << "the control window let go of the object";
}

// A red-header save that uploads nothing (test mode) still gives the working
// copy its revisions back.
TEST_F(NeverLose, RedHeaderSaveRestoresRevisions) {
  std::string workingCopy = OpenRevisedRedHeader("revised.doc");
  ASSERT_FALSE(workingCopy.empty()) << "the red-header cycle is open";
  ASSERT_NE(ReadAll(workingCopy).find("<revision"), std::string::npos) << "the document arrives with a revision";
  CreateDirectoryW(L"c:\\tmp", nullptr);
  ASSERT_TRUE(SaveTextFile("[NibWordLib]\r\nNoULFile=1\r\n", kSwitchFile));
  std::vector<std::wstring> dialogs;
  {
    DialogCatcher catcher;
    SendMessageW(ControlButton(kSaveRedHeader), BM_CLICK, 0, 0);
    Sleep(300);
    dialogs = catcher.Texts();
  }
  DeleteFileW(AnsiToWide(kSwitchFile).c_str());
  EXPECT_TRUE(Contains(dialogs, W("(供测试使用)"))) << Joined(dialogs);
  EXPECT_NE(ReadAll(workingCopy).find("<revision"), std::string::npos) << "the working copy has its revisions back";
  DispObject document = RunningWord().Object(L"ActiveDocument");
  EXPECT_EQ(WideToAnsi(document.Text(L"FullName")), workingCopy) << "and is open in Word";
  EXPECT_EQ(document.Object(L"Revisions").Long(L"Count"), 1);
  document = DispObject();
  ForceQuit();
}

// Word busy, or showing one of its dialogs, answers calls "retry later": the
// object waits for it (the page's messages flowing) and goes on once Word
// answers; a Word that stays busy ends the command with a clear message, the
// edit and the cycle kept.
TEST_F(NeverLose, BusyWordIsWaitedForThenToldOf) {
  Serve("busy.doc", "Body");
  Configure("busy.doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  TypeInWord(L"Busy words ");
  ComPtr<IInnerFunc> inner = Inner();
  DeleteFileA("c:\\doubles\\calls.log");
  ASSERT_TRUE(SaveTextFile("[busy]\r\non=1\r\n", WideToAnsi(kDoublesControl)));
  std::thread dialogClosed([] {
    Sleep(1500);
    DeleteFileW(kDoublesControl);
  });
  BStr result;
  std::vector<std::wstring> dialogs;
  DWORD start = GetTickCount();
  {
    DialogCatcher catcher;
    EXPECT_EQ(inner->ProcSave(VARIANT_FALSE, result.Out()), S_OK);
    dialogs = catcher.Texts();
  }
  dialogClosed.join();
  EXPECT_EQ(result.Wide(), L"OK") << Joined(dialogs);
  EXPECT_GE(GetTickCount() - start, 1200u) << "the save waited for Word";
  EXPECT_TRUE(Contains(dialogs, W("保存成功!"))) << Joined(dialogs);
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK");
  EXPECT_NE(ReadAll("c:\\doubles\\calls.log").find("SERVERCALL_RETRYLATER"), std::string::npos)
      << "Word did refuse calls meanwhile";

  // Busy for good: told, nothing lost, the cycle open. (Another size: Wine's
  // profile cache may take a file of the same size and second for the old one.)
  ASSERT_TRUE(SaveTextFile("[busy]\r\non=1\r\nfor=good\r\n", WideToAnsi(kDoublesControl)));
  {
    DialogCatcher catcher;
    EXPECT_EQ(inner->ProcSave(VARIANT_FALSE, result.Out()), S_OK);
    dialogs = catcher.Texts();
  }
  DeleteFileW(kDoublesControl);
  EXPECT_EQ(result.Wide(), L"");
  EXPECT_TRUE(Contains(dialogs, W("Word正忙或有对话框未关闭"))) << Joined(dialogs);
  EXPECT_FALSE(Contains(dialogs, W("保存成功!")));
  ASSERT_NE(FindWindowW(L"OpusApp", nullptr), nullptr) << "Word keeps the document";
  EXPECT_TRUE(IsWindowEnabled(ControlButton(kClose))) << "the user can try again or close";

  // 关闭 while Word stays busy: told the same, the cycle open; once Word
  // answers, 关闭 ends it. (Another size again, for the profile cache.)
  ASSERT_TRUE(SaveTextFile("[busy]\r\non=1\r\nfor=ever and ever\r\n", WideToAnsi(kDoublesControl)));
  {
    DialogCatcher catcher;
    EXPECT_EQ(inner->ProcQuit(VARIANT_FALSE, result.Out()), S_OK);  // the button's quit
    dialogs = catcher.Texts();
  }
  DeleteFileW(kDoublesControl);
  EXPECT_TRUE(Contains(dialogs, W("Word正忙或有对话框未关闭"))) << "not a silent failure: " << Joined(dialogs);
  EXPECT_NE(ControlButton(kClose), nullptr) << "the cycle is still open";
  EXPECT_NE(FindWindowW(L"OpusApp", nullptr), nullptr);
  ForceQuit();
  EXPECT_EQ(ControlButton(kClose), nullptr);
}

// The red-header save failing inside Word: before the accepted copy is made,
// Word keeps the working copy; while it is being made, the working copy is
// given back with its revisions. Word unable to open it again: the user is
// told where it is, and 关闭 still ends the cycle.
TEST_F(NeverLose, RedHeaderFailuresInWordGiveTheWorkingCopyBack) {
  std::string workingCopy = OpenRevisedRedHeader("accept.doc");
  ASSERT_FALSE(workingCopy.empty()) << "the red-header cycle is open";

  ASSERT_TRUE(SaveTextFile("[fail]\r\nDocument.AcceptAllRevisions=Command failed.\r\n", WideToAnsi(kDoublesControl)));
  std::vector<std::wstring> dialogs;
  {
    DialogCatcher catcher;
    SendMessageW(ControlButton(kSaveRedHeader), BM_CLICK, 0, 0);
    dialogs = catcher.Texts();
  }
  DeleteFileW(kDoublesControl);
  EXPECT_TRUE(Contains(dialogs, W("文档保存未成功"))) << Joined(dialogs);
  EXPECT_FALSE(Contains(dialogs, W("保存成功!"))) << Joined(dialogs);
  EXPECT_EQ(Uploaded("body"), "") << "nothing went up";
  {
    DispObject document = RunningWord().Object(L"ActiveDocument");
    EXPECT_EQ(WideToAnsi(document.Text(L"FullName")), workingCopy) << "Word edits the working copy, not a copy of it";
    EXPECT_EQ(document.Object(L"Revisions").Long(L"Count"), 1) << "with its revisions";
  }
  EXPECT_TRUE(IsWindowEnabled(ControlButton(kSaveRedHeader)));

  // Word cannot open documents any more.
  ASSERT_TRUE(SaveTextFile("[fail]\r\nDocuments.Open=This file could not be found or opened.\r\n",
                           WideToAnsi(kDoublesControl)));
  {
    DialogCatcher catcher;
    SendMessageW(ControlButton(kSaveRedHeader), BM_CLICK, 0, 0);
    dialogs = catcher.Texts();
  }
  DeleteFileW(kDoublesControl);
  EXPECT_TRUE(Contains(dialogs, W("工作文档未能在Word中重新打开,文档保存在:"))) << Joined(dialogs);
  EXPECT_TRUE(Contains(dialogs, AnsiToWide(workingCopy))) << Joined(dialogs);
  EXPECT_NE(ReadAll(workingCopy).find("<revision"), std::string::npos) << "the working copy on disk has its revisions";
  {
    DialogRobot question(L"#2", false, 0, L"#32770");  // 否: the copy on disk is kept, nothing more to send
    SendMessageW(ControlButton(kClose), BM_CLICK, 0, 0);
    EXPECT_EQ(question.Seen().text, W("\r\n您对文档进行了修改,是否要保存?"));
  }
  EXPECT_EQ(ControlButton(kClose), nullptr) << "关闭 ended the cycle";
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr) << "and Word with it";
}

// The Word the user runs beside the cycle, with a document, a user name and a
// Normal template of its own, captioned as Word 2013 and later caption their
// windows: a whole cycle (open, save and close with its conversion) asks
// nothing of it and brings the cycle's own Word forward.
TEST_F(NeverLose, TheUsersOwnWordIsLeftAlone) {
  ASSERT_TRUE(SaveTextFile("[word]\r\ncaption=Word\r\n", WideToAnsi(kDoublesControl)));
  ComPtr<IDispatch> usersApp;
  ASSERT_EQ(CoCreateInstance(kWord, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(usersApp.GetAddressOf())),
            S_OK);
  DispObject users(usersApp);
  struct QuitAtEnd {
    DispObject& word;
    ~QuitAtEnd() {
      try {
        word.Call(L"Quit");
      } catch (const ComError&) {
      }
      DeleteFileW(kDoublesControl);
    }
  } quitAtEnd{users};
  users.Put(L"Visible", true);
  users.Put(L"UserName", W("王五"));
  std::string mine = TempFolderPath() + "mine-" + id + ".doc";
  ASSERT_TRUE(SaveTextFile("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc><text>My own letter</text></nibdoc>\n", mine));
  users.Object(L"Documents").CallObject(L"Open", {Arg::Ansi(mine)});
  std::string normal = WideToAnsi(users.Object(L"NormalTemplate").Text(L"FullName"));
  const std::string normalBefore = ReadAll(normal), mineBefore = ReadAll(mine);
  const std::wstring usersCaption = AnsiToWide(FileNameOfPath(mine)) + L" - Word";
  HWND usersWindow = FindWindowW(L"OpusApp", usersCaption.c_str());
  ASSERT_NE(usersWindow, nullptr);
  DWORD usersPid = 0;
  GetWindowThreadProcessId(usersWindow, &usersPid);
  DeleteFileA("c:\\doubles\\calls.log");

  Serve("beside.doc", "Body");
  Configure("beside.doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  HWND front = GetForegroundWindow();
  DWORD frontPid = 0;
  GetWindowThreadProcessId(front, &frontPid);
  wchar_t caption[260] = L"";
  GetWindowTextW(front, caption, 260);
  EXPECT_NE(frontPid, usersPid) << "the cycle's Word is brought forward, not the user's";
  EXPECT_EQ(std::wstring(caption), W("通知1.doc - Word"));
  sink.calls.clear();
  SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK") << "converted and uploaded";
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[1], L"Save");

  // Read before this test asks the user's Word anything itself.
  std::string log = ReadAll("c:\\doubles\\calls.log"), asked;
  for (size_t at = 0; at < log.size();) {
    size_t end = log.find('\n', at);
    std::string line = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (line.rfind(std::to_string(usersPid) + "\t", 0) == 0) asked += line + "\n";
    at = end == std::string::npos ? log.size() : end + 1;
  }
  EXPECT_EQ(asked, "") << "the user's Word was asked nothing";
  EXPECT_NE(log.find("Documents.Open"), std::string::npos) << "the log recorded the cycle's own Word";
  EXPECT_TRUE(IsWindow(usersWindow));
  wchar_t usersNow[260] = L"";
  GetWindowTextW(usersWindow, usersNow, 260);
  EXPECT_EQ(std::wstring(usersNow), usersCaption);
  EXPECT_EQ(users.Object(L"Documents").Long(L"Count"), 1);
  EXPECT_EQ(users.Object(L"ActiveDocument").Text(L"Name"), AnsiToWide(FileNameOfPath(mine)));
  EXPECT_EQ(users.Text(L"UserName"), W("王五"));
  EXPECT_EQ(ReadAll(normal), normalBefore) << "the Normal template as it was";
  EXPECT_EQ(ReadAll(mine), mineBefore);
  DeleteFileA(mine.c_str());
}

}  // namespace
}  // namespace nib::test
