// Whole edit cycles as a page and its user run them: the registered object,
// the local document server, the Word double, the control window's buttons.

#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "DialogRobot.h"
#include "FlowFixture.h"
#include "TestSupport.h"
#include "services/Switches.h"
#include "com/BStr.h"
#include "com/Dispatch.h"
#include "com/StrConv.h"
#include "server/Guids.h"
#include "services/Files.h"
#include "services/TextUtil.h"
#include "services/UniqueName.h"
#include "services/WindowUtil.h"

using Microsoft::WRL::ComPtr;

namespace nib::test {
namespace {

// The template chooser as the user sees it: its listed templates, and its buttons.
struct ChooserView {
  std::vector<std::wstring> labels;  // root first
  std::wstring selected;
};

HWND WaitForChooser() {
  for (int i = 0; i < 2000; ++i) {
    HWND chooser = FindWindowW(L"TFrmTemplet", nullptr);
    if (chooser && IsWindowVisible(chooser)) return chooser;
    Sleep(5);
  }
  return nullptr;
}

std::wstring ItemText(HWND tree, HTREEITEM item) {
  wchar_t text[256] = L"";
  TVITEMW data{};
  data.mask = TVIF_TEXT;
  data.hItem = item;
  data.pszText = text;
  data.cchTextMax = 256;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
  return text;
}

ChooserView Look(HWND chooser) {
  ChooserView view;
  HWND tree = FindWindowExW(chooser, nullptr, WC_TREEVIEWW, nullptr);
  auto root = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  view.labels.push_back(ItemText(tree, root));
  for (auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root)));
       item; item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item))))
    view.labels.push_back(ItemText(tree, item));
  auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (selected) view.selected = ItemText(tree, selected);
  return view;
}

// The user's part of one "套用模板": no save first, then the chooser, confirmed
// or cancelled, then the plain messages that follow, answered with their first button.
struct TemplateChoice {
  explicit TemplateChoice(bool confirmIt, int messages = 0) : confirm(confirmIt), messagesAfter(messages) {}
  bool confirm;
  int messagesAfter;
  ChooserView view;
  std::vector<std::wstring> messages;
  void Run() {
    {
      DialogRobot question(L"#2", false, 0, L"#32770");
      messages.push_back(question.Seen().text);
    }
    HWND chooser = WaitForChooser();
    if (!chooser) return;
    view = Look(chooser);
    PostMessageW(GetDlgItem(chooser, confirm ? 1 : 2), BM_CLICK, 0, 0);
    for (int i = 0; i < messagesAfter; ++i) {
      Sleep(300);
      DialogRobot message(L"", false, 0, L"#32770");
      messages.push_back(message.Seen().text);
    }
  }
};

class Flow : public FlowFixture {};

TEST_F(Flow, UnattendedOpenConvertsAndUploads) {
  Serve("unattended.doc", "Body of the notice");
  Configure("unattended.doc", "&reply=OK");
  std::wstring result = Open(L"3");
  EXPECT_EQ(result.rfind(L"OK:", 0), 0u) << "the conversion's number follows: " << result;
  std::string body = Uploaded("body");
  ASSERT_FALSE(body.empty()) << "the archive arrived";
  EXPECT_EQ(body.substr(0, 2), "PK");
  EXPECT_NE(body.find(".htm"), std::string::npos) << "the HTML page is in the archive";
  EXPECT_NE(body.find(".doc"), std::string::npos) << "and the document itself";
  EXPECT_NE(Uploaded("meta").find("id=" + id), std::string::npos);
  ASSERT_EQ(sink.calls.size(), 1u) << "the unattended mode reports through its result only";
  EXPECT_EQ(sink.calls[0].strings[0], L"TempletFN") << "the open itself is reported";
}

TEST_F(Flow, EditAndSaveAndCloseWithTheButton) {
  Serve("edit.doc", "Body");
  Configure("edit.doc", "&reply=OK%20saved");
  ASSERT_EQ(page->SetShowTrack(VARIANT_TRUE), S_OK);
  EXPECT_EQ(Open(L"1"), L"");
  HWND saveAndClose = ControlButton(0);
  ASSERT_NE(saveAndClose, nullptr) << "the control window is up";
  EXPECT_TRUE(IsWindowEnabled(saveAndClose));
  sink.calls.clear();  // the open's TempletFN

  // The user types in Word.
  ComPtr<IUnknown> running;
  ASSERT_EQ(GetActiveObject(kWord, nullptr, &running), S_OK);
  ComPtr<IDispatch> word;
  ASSERT_EQ(running.As(&word), S_OK);
  DispObject document = DispObject(word).Object(L"ActiveDocument");
  document.CallObject(L"Range", {Arg(0), Arg(0)}).Put(L"Text", L"Edited ");
  EXPECT_EQ(document.Long(L"ProtectionType"), 0) << "changes can only be revisions";
  document = DispObject();
  running.Reset();
  word.Reset();

  SendMessageW(saveAndClose, BM_CLICK, 0, 0);
  std::string query = Uploaded("meta");
  EXPECT_NE(query.find("isSave=SaveAndClose"), std::string::npos) << query;
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK");
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[0], L"quit");
  EXPECT_EQ(sink.calls[0].strings[1], L"Save");
  EXPECT_EQ(ControlButton(0), nullptr) << "the cycle ended";
}

// The folders directly inside the Windows temporary folder.
int TempFolderCount() {
  int count = 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(AnsiToWide(TempFolderPath() + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && found.cFileName[0] != L'.') ++count;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

TEST_F(Flow, OpenRefusals) {
  Configure("missing.doc");
  {
    int folders = TempFolderCount();
    DialogRobot robot(L"OK");
    EXPECT_EQ(Open(L"1"), L"");
    EXPECT_EQ(robot.Seen().text, W("\r\n不能正确下载目标文档! \r\n") + W((base + "/missing.doc").c_str()) +
                                     W("\r\n原因: 服务器回答 HTTP 404: 404 Not Found"));
    EXPECT_EQ(TempFolderCount(), folders) << "the failed download left no folder behind";
  }
  ASSERT_EQ(page->SetDrafting(VARIANT_TRUE), S_OK);
  {
    DialogRobot robot(L"OK");
    EXPECT_EQ(Open(L"2"), L"");
    EXPECT_EQ(robot.Seen().text, W("\r\n只读状态下不能起草文档!"));
  }
  ASSERT_EQ(page->SetDrafting(VARIANT_FALSE), S_OK);
  {
    DialogRobot robot(L"OK");
    EXPECT_EQ(Open(L"6", L"0"), L"");
    EXPECT_EQ(robot.Seen().text, W("\r\n打印时必须提供模板的下载地址!"));
  }
  Serve("print.doc", "Body");
  Set(&INibWord::SetDownURL, base + "/print.doc");
  Set(&INibWord::SetDocTmplDLURL, base + "/no-such-template.doc");
  {
    BStr kind3(L"<r/>");
    ASSERT_EQ(page->SetXMLCont(3, kind3.Get()), S_OK);
    DialogRobot robot(L"OK");
    EXPECT_EQ(Open(L"6", L"0"), L"");
    EXPECT_EQ(robot.Seen().text, W("\r\n打印时必须提供XML文件的下载地址!")) << "kind 3 is no usable XML";
  }
  {
    BStr xml(L"<r/>");
    ASSERT_EQ(page->SetXMLCont(1, xml.Get()), S_OK);
    DialogRobot download(L"OK"), missing(L"", false, 0, L"#32770");
    EXPECT_EQ(Open(L"6", L"0"), L"");
    EXPECT_EQ(download.Seen().text, W("\r\n不能正确下载目标文档! \r\n") + W((base + "/no-such-template.doc").c_str()) +
                                        W("\r\n原因: 服务器回答 HTTP 404: 404 Not Found"));
    EXPECT_EQ(missing.Seen().text, W("没有找到模板!"));
  }
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr) << "nothing was opened";
}

// The object is safe for untrusted pages: no page may make it read a local
// file and send it on. Every transfer takes http and https addresses only.
TEST_F(Flow, LocalAddressesAreRefused) {
  ASSERT_TRUE(SaveTextFile("<?xml version=\"1.0\"?><nibdoc><text>SECRET</text></nibdoc>", "C:\\secret.doc"));
  for (const char* local : {"file:///C:/secret.doc", "\\\\127.0.0.1\\c$\\secret.doc", "C:\\secret.doc"}) {
    Configure("unused.doc", "&reply=OK");
    Set(&INibWord::SetDownURL, local);
    DialogRobot robot(L"OK");
    EXPECT_EQ(Open(L"3"), L"") << local;
    EXPECT_EQ(robot.Seen().text, W("\r\n不能正确下载目标文档! \r\n") + W(local) + W("\r\n原因: 不是网络地址"));
    EXPECT_TRUE(Uploaded("meta").empty()) << "nothing was sent for " << local;
  }
  // Another scheme is refused at once (an ftp address used to hang the page).
  Set(&INibWord::SetDownURLHt, "ftp://127.0.0.1:9/y");
  Set(&INibWord::SetUpURLHt, base + "/upload?id=" + id);
  {
    DialogRobot robot(L"OK");
    DWORD start = GetTickCount();
    BStr result;
    ASSERT_EQ(page->OpenHtFile(result.Out()), S_OK);
    EXPECT_LT(GetTickCount() - start, 15000u) << "refused, not waited for";
    EXPECT_EQ(robot.Seen().text, W("\r\n不能正确下载目标文档! \r\nftp://127.0.0.1:9/y\r\n原因: 不是网络地址"));
  }
  ComPtr<IInnerFunc> inner;
  BStr ignored;
  ASSERT_EQ(page.As(&inner), S_OK);
  if (ControlButton(kClose)) inner->ProcQuit(VARIANT_TRUE, ignored.Out());
  // The XML data's address.
  BStr xmlAddress(L"file:///C:/secret.doc");
  EXPECT_NE(page->SetXMLCont(2, xmlAddress.Get()), S_OK) << "a local XML address is a failed fetch";
  BStr noXml(L"");
  ASSERT_EQ(page->SetXMLCont(0, noXml.Get()), S_OK);
  // The upload address: the document is converted, then refused as unreachable.
  Serve("local-up.doc", "Body");
  Configure("local-up.doc");
  Set(&INibWord::setSucceedPrefix, "");
  Set(&INibWord::SetUpURL, "file:///C:/uploaded.txt");
  {
    DialogRobot transport(L"", false, 0, L"#32770"), failed(L"OK");
    EXPECT_EQ(Open(L"3"), L"") << "no success, whatever the prefix";
    EXPECT_EQ(transport.Seen().text, W("Http请求未成功,可能是目标地址不可用,请与管理员联系!\r\n原因: 不是网络地址"));
    EXPECT_EQ(failed.Seen().text, W("\r\n文件上传未成功,请稍后再试!"));
  }
  EXPECT_EQ(GetFileAttributesW(L"C:\\uploaded.txt"), INVALID_FILE_ATTRIBUTES) << "nothing was written locally";
  if (ControlButton(kClose)) inner->ProcQuit(VARIANT_TRUE, ignored.Out());
  DeleteFileW(L"C:\\secret.doc");
}

TEST_F(Flow, FailedUploadKeepsEverythingAndARetrySucceeds) {
  Serve("retry.doc", "Body");
  Configure("retry.doc", "&reply=NO%20refused");
  EXPECT_EQ(Open(L"1"), L"");
  std::string workingCopy = TypeInWord(L"Typed by the user ");
  ASSERT_FALSE(workingCopy.empty());
  sink.calls.clear();

  // The server answers, but not with the success prefix.
  SeenDialog refused = PressExpectingDialog(0);
  EXPECT_EQ(refused.text, W("\r\n文件上传未成功,请稍后再试!\r\n原因: 服务器回答: NO refused"))
      << "what the server said is the reason";
  EXPECT_NE(FindWindowW(L"OpusApp", nullptr), nullptr) << "Word stays open";
  EXPECT_TRUE(IsWindowEnabled(ControlButton(0))) << "the user can try again";
  EXPECT_TRUE(sink.calls.empty()) << "the page is not told of a save";
  EXPECT_NE(ReadAll(workingCopy).find("Typed by the user"), std::string::npos) << "the edit is in the working copy";

  // The server is down: nothing answers at all, whatever the prefix.
  Set(&INibWord::setSucceedPrefix, "");
  Set(&INibWord::SetUpURL, "http://127.0.0.1:9/upload?id=" + id);
  {
    DialogRobot transport(L"", false, 0, L"#32770");
    SeenDialog down = PressExpectingDialog(0);
    EXPECT_EQ(WithoutReason(transport.Seen().text), W("Http请求未成功,可能是目标地址不可用,请与管理员联系!"));
    EXPECT_EQ(ReasonOf(transport.Seen().text).rfind(W("无法连接服务器 (WinINet "), 0), 0u)
        << WideToAnsi(transport.Seen().text, CP_UTF8);
    EXPECT_EQ(down.text, W("\r\n文件上传未成功,请稍后再试!"));
  }
  EXPECT_NE(FindWindowW(L"OpusApp", nullptr), nullptr);
  EXPECT_TRUE(sink.calls.empty());

  // The server is back.
  Set(&INibWord::setSucceedPrefix, "OK");
  Set(&INibWord::SetUpURL, base + "/upload?id=" + id + "&reply=OK");
  SendMessageW(ControlButton(0), BM_CLICK, 0, 0);
  EXPECT_NE(Uploaded("meta").find("isSave=SaveAndClose"), std::string::npos);
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[1], L"Save");
  EXPECT_FALSE(FileExists(workingCopy)) << "the cycle's files are gone once the upload succeeded";
}


TEST_F(Flow, QuitAsksOnlyAfterChanges) {
  Serve("quit.doc", "Body");
  Configure("quit.doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  sink.calls.clear();
  {
    DialogRobot question(L"#2", false, 0, L"#32770");
    SendMessageW(ControlButton(kClose), BM_CLICK, 0, 0);
    question.Stop();
    EXPECT_FALSE(question.SawDialog()) << "nothing changed: nothing to ask";
  }
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings, (std::vector<std::wstring>{L"quit", L"NoSave", L""}));
  EXPECT_EQ(sink.calls[0].types[3], VT_DISPATCH) << "Word's Application goes with it";
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr);
  EXPECT_TRUE(Uploaded("meta").empty()) << "nothing was uploaded";

  // Changed, and the user answers No: discarded, nothing uploaded.
  EXPECT_EQ(Open(L"1"), L"");
  std::string workingCopy = TypeInWord(L"Discard me ");
  sink.calls.clear();
  SeenDialog no = PressExpectingDialog(kClose, L"#2", L"#32770");
  EXPECT_EQ(no.title, L"确认");
  EXPECT_EQ(no.text, W("\r\n您对文档进行了修改,是否要保存?"));
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[1], L"NoSave");
  EXPECT_TRUE(Uploaded("meta").empty());
  EXPECT_FALSE(FileExists(workingCopy)) << "the cycle's files are cleaned up";

  // Changed, and the user answers Yes: saved and closed.
  EXPECT_EQ(Open(L"1"), L"");
  TypeInWord(L"Keep me ");
  sink.calls.clear();
  SeenDialog yes = PressExpectingDialog(kClose, L"#1", L"#32770");
  EXPECT_EQ(yes.text, no.text);
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[1], L"Save");
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK");
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr);
}

TEST_F(Flow, SaveKeepsTheCycleOpen) {
  Serve("save.doc", "Body");
  Configure("save.doc", "&reply=OK");
  // The page's font for the body, applied as the document opens.
  BStr font(W("仿宋_GB2312"));
  ASSERT_EQ(page->IsSetFont(VARIANT_TRUE), S_OK);
  ASSERT_EQ(page->put_SetFontName(font.Get()), S_OK);
  ASSERT_EQ(page->put_SetFontSize(16), S_OK);
  ASSERT_EQ(page->SetFontColor(255, 0, 0), S_OK);
  EXPECT_EQ(Open(L"1"), L"");
  ASSERT_EQ(page->IsSetFont(VARIANT_FALSE), S_OK);
  {
    ComPtr<IUnknown> running;
    ASSERT_EQ(GetActiveObject(kWord, nullptr, &running), S_OK);
    ComPtr<IDispatch> word;
    ASSERT_EQ(running.As(&word), S_OK);
    DispObject bodyFont = DispObject(word).Object(L"ActiveDocument").CallObject(L"Range").Object(L"Font");
    EXPECT_EQ(bodyFont.Text(L"Name"), W("仿宋_GB2312"));
    EXPECT_EQ(bodyFont.Text(L"Size"), L"16");
    EXPECT_EQ(bodyFont.Text(L"Color"), L"255");
  }
  std::string workingCopy = TypeInWord(L"First draft ");
  sink.calls.clear();
  ComPtr<IInnerFunc> inner;
  ASSERT_EQ(page.As(&inner), S_OK);
  BStr result;
  {
    DialogRobot saved(L"", false, 0, L"#32770");
    ASSERT_EQ(inner->ProcSave(VARIANT_FALSE, result.Out()), S_OK);
    EXPECT_EQ(saved.Seen().text, W("保存成功!"));
    EXPECT_EQ(saved.Seen().title, W("提示"));
  }
  EXPECT_EQ(result.Wide(), L"OK");
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK");
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[0], L"quit");
  EXPECT_EQ(sink.calls[0].strings[1], L"TempSave");
  EXPECT_EQ(sink.calls[0].types[3], VT_EMPTY);
  EXPECT_NE(FindWindowW(L"OpusApp", nullptr), nullptr) << "Word stays open";
  EXPECT_TRUE(IsWindowEnabled(ControlButton(kClose))) << "the controls are back";
  EXPECT_TRUE(FileExists(workingCopy));
  ASSERT_EQ(inner->ProcQuit(VARIANT_TRUE, result.Out()), S_OK);
  EXPECT_EQ(result.Wide(), L"");
  EXPECT_FALSE(FileExists(workingCopy));
}

// The save mode is the last command's of the cycle: 保存并关闭 in one cycle
// must not label the next cycle's save-while-editing "SaveAndClose".
TEST_F(Flow, ASaveModeDoesNotOutliveItsCycle) {
  Serve("modes.doc", "Body");
  Configure("modes.doc", "&reply=OK");
  EXPECT_EQ(Open(L"1"), L"");
  TypeInWord(L"First ");
  SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
  EXPECT_NE(Uploaded("meta").find("isSave=SaveAndClose"), std::string::npos) << Uploaded("meta");

  EXPECT_EQ(Open(L"1"), L"");
  TypeInWord(L"Second ");
  ComPtr<IInnerFunc> inner;
  ASSERT_EQ(page.As(&inner), S_OK);
  BStr result;
  {
    DialogRobot saved(L"", false, 0, L"#32770");
    ASSERT_EQ(inner->ProcSave(VARIANT_FALSE, result.Out()), S_OK);
  }
  EXPECT_EQ(result.Wide(), L"OK");
  EXPECT_EQ(Uploaded("meta").find("isSave=SaveAndClose"), std::string::npos)
      << "a save while editing goes on is no save-and-close: " << Uploaded("meta");
  ASSERT_EQ(inner->ProcQuit(VARIANT_TRUE, result.Out()), S_OK);
}

TEST_F(Flow, SizeLimitAndTestModes) {
  Serve("limits.doc", "Body");
  Configure("limits.doc", "&reply=OK");
  ASSERT_EQ(page->SetFileSizeLmt(0.5), S_OK);
  EXPECT_EQ(Open(L"1"), L"");
  sink.calls.clear();
  SeenDialog tooBig = PressExpectingDialog(kSaveAndClose, L"", L"#32770");
  EXPECT_EQ(tooBig.text, W("文件大小不能超过0K"));
  EXPECT_TRUE(Uploaded("meta").empty()) << "nothing was uploaded";
  EXPECT_TRUE(sink.calls.empty());
  EXPECT_TRUE(IsWindowEnabled(ControlButton(kClose))) << "the user can still close";
  ASSERT_EQ(page->SetFileSizeLmt(10000), S_OK);
  ComPtr<IInnerFunc> inner;
  ASSERT_EQ(page.As(&inner), S_OK);
  BStr ignored;
  ASSERT_EQ(inner->ProcQuit(VARIANT_TRUE, ignored.Out()), S_OK);
  sink.calls.clear();
  EXPECT_EQ(Open(L"1"), L"");
  sink.calls.clear();

  // Test mode: no upload, and the cycle ends as if it had been uploaded; the
  // temporary files are kept when asked to.
  CreateDirectoryW(L"c:\\tmp", nullptr);
  ASSERT_TRUE(SaveTextFile("[NibWordLib]\r\nNoULFile=1\r\nNoClearTmpFiles=1\r\n", kSwitchFile));
  std::string workingCopy = TypeInWord(L"Test ");
  SeenDialog testMode = PressExpectingDialog(kSaveAndClose);
  DeleteFileW(AnsiToWide(kSwitchFile).c_str());
  EXPECT_EQ(testMode.text, W("\r\n因为配置文件中设置参数为\"不上传文件\",所以文件未上传\r\n!(供测试使用)"));
  EXPECT_TRUE(Uploaded("meta").empty());
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[1], L"Save");
  EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr);
  EXPECT_TRUE(FileExists(workingCopy)) << "NoClearTmpFiles keeps the working copy";
  DeleteFileW(AnsiToWide(workingCopy).c_str());
  RemoveDirectoryW(AnsiToWide(FolderOfPath(workingCopy)).c_str());
}


TEST_F(Flow, RedHeaderSave) {
  Serve("red.doc", "Red header body");
  Set(&INibWord::SetDownURLHt, base + "/red.doc");
  Set(&INibWord::SetUpURLHt, base + "/upload?id=" + id + "&reply=OK");
  Set(&INibWord::setSucceedPrefix, "OK");
  Set(&INibWord::SetDestBaseFN, "红头.doc");
  BStr result;
  ASSERT_EQ(page->OpenHtFile(result.Out()), S_OK);
  EXPECT_EQ(result.Wide(), L"");
  ASSERT_NE(ControlButton(kSaveRedHeader), nullptr);
  EXPECT_FALSE(IsWindowEnabled(ControlButton(kSaveAndClose)));
  EXPECT_TRUE(IsWindowEnabled(ControlButton(kSaveRedHeader)));
  std::string workingCopy = TypeInWord(L"Signed ");
  sink.calls.clear();

  // (Earlier versions left their copies in the root of C:.)
  DeleteFileW(L"C:\\Revision.doc");
  DeleteFileW(L"C:\\OriRevision.doc");
  SeenDialog saved = PressExpectingDialog(kSaveRedHeader, L"", L"#32770");
  EXPECT_EQ(saved.text, W("保存成功!"));
  std::string body = Uploaded("body");
  EXPECT_EQ(body.substr(0, 2), "PK") << "the converted red-header copy arrived";
  EXPECT_EQ(Uploaded("meta").find("isSave="), std::string::npos) << "the red-header address as the page gave it";
  EXPECT_TRUE(sink.calls.empty()) << "a red-header save is not reported to the page";
  EXPECT_NE(FindWindowW(L"OpusApp", nullptr), nullptr) << "Word goes on with the working copy";
  EXPECT_NE(ReadAll(workingCopy).find("Signed"), std::string::npos);
  EXPECT_TRUE(IsWindowEnabled(ControlButton(kClose)));
  EXPECT_EQ(GetFileAttributesW(L"C:\\Revision.doc"), INVALID_FILE_ATTRIBUTES) << "nothing in the root of C:";
  EXPECT_EQ(GetFileAttributesW(L"C:\\OriRevision.doc"), INVALID_FILE_ATTRIBUTES);
  std::string folder = FolderOfPath(workingCopy);
  auto revisionCopies = [&] {
    int count = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(AnsiToWide(folder + "*Revision.doc").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do ++count; while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
  };
  EXPECT_EQ(revisionCopies(), 2) << "both copies beside the working copy, in the cycle's folder";

  // The red-header copy cannot be written over the working copy: the user is
  // told and keeps the controls. A helper locks the working copy the moment
  // Word has written the copy with revisions, and lets go once the user was
  // told (as a virus scanner would), so that the working copy can be restored.
  int before = revisionCopies();
  bool locked = false;
  std::thread locker([&] {
    // The next copies appear as the save makes them.
    for (int i = 0; i < 2000 && revisionCopies() == before; ++i) Sleep(2);
    // Word may still hold the working copy a moment after writing the copy; the
    // red-header copy is written over it only after several hundred milliseconds.
    HANDLE lock = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 100 && lock == INVALID_HANDLE_VALUE; ++i) {
      lock = CreateFileW(AnsiToWide(workingCopy).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (lock == INVALID_HANDLE_VALUE) Sleep(2);
    }
    locked = lock != INVALID_HANDLE_VALUE;
    for (int i = 0; i < 4000 && !FindWindowW(L"#32770", nullptr); ++i) Sleep(5);
    if (locked) CloseHandle(lock);
  });
  SeenDialog failed = PressExpectingDialog(kSaveRedHeader, L"", L"#32770");
  locker.join();
  ASSERT_TRUE(locked) << "the working copy could be locked";
  EXPECT_EQ(failed.text, W("生成红头文件出错"));
  EXPECT_NE(ReadAll(workingCopy).find("Signed"), std::string::npos) << "the working copy is as it was";
  EXPECT_TRUE(IsWindowEnabled(ControlButton(kClose))) << "the user can still close";
  EXPECT_TRUE(IsWindowEnabled(ControlButton(kSaveRedHeader))) << "and try again";
  ComPtr<IInnerFunc> inner;
  ASSERT_EQ(page.As(&inner), S_OK);
  ASSERT_EQ(inner->ProcQuit(VARIANT_TRUE, result.Out()), S_OK);
  EXPECT_EQ(revisionCopies(), 0) << "the copies went with the cycle";
}


// The template's number is in the first page's header, where print mode
// whitens it and nothing of the body.
TEST_F(Flow, OverprintUploadsTheDocumentItself) {
  Serve("gw.doc", "Body of the notice");
  ServeDocument("gw-template.doc",
                "<text>RED HEADER\r[\r\r]\rFOOTER</text><bookmark name=\"正文内容B\" start=\"11\" end=\"12\"/>"
                "<bookmark name=\"正文内容E\" start=\"14\" end=\"15\"/>"
                "<field code=\" DOCVARIABLE 发文号 \" result=\"\"/>"
                "<story type=\"10\">No.</story>"
                "<bookmark name=\"NoBF\" start=\"0\" end=\"0\" story=\"1\"/>"
                "<bookmark name=\"NoEF\" start=\"3\" end=\"3\" story=\"1\"/>"
                "<font start=\"0\" end=\"3\" attribute=\"Color\" value=\"255\" story=\"1\"/>"
                "<font start=\"0\" end=\"3\" attribute=\"Color\" value=\"0\"/>");
  Configure("gw.doc", "&reply=OK");
  Set(&INibWord::SetDocTmplDLURL, base + "/gw-template.doc");
  BStr xml(W("<r><BookMark Name=\"发文号\" Text=\"第3号\"/></r>"));
  ASSERT_EQ(page->SetXMLCont(1, xml.Get()), S_OK);
  EXPECT_EQ(Open(L"6", L"3"), L"");
  ASSERT_NE(ControlButton(kSaveAndClose), nullptr);
  SendMessageW(ControlButton(kPrintMode), BM_CLICK, 0, 0);
  {
    DispObject document = RunningWord().Object(L"ActiveDocument");
    EXPECT_EQ(document.Object(L"StoryRanges").CallObject(L"Item", {Arg(10L)}).Object(L"Font").Long(L"Color"),
              0xFFFFFF) << "the header's number prints white";
    EXPECT_EQ(document.CallObject(L"Range", {Arg(0L), Arg(3L)}).Object(L"Font").Long(L"Color"), 0)
        << "the main text at the same numbers keeps its colour";
  }
  sink.calls.clear();
  SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
  std::string body = Uploaded("body");
  size_t headerRun = body.rfind("story=\"1\"/>");
  ASSERT_NE(headerRun, std::string::npos) << body;
  EXPECT_NE(body.substr(body.rfind('<', headerRun), 80).find("value=\"255\""), std::string::npos)
      << "the file keeps the header red: " << body;
  EXPECT_EQ(body.substr(0, 5), "<?xml") << "the document, not a converted archive";
  EXPECT_NE(body.find("RED HEADER"), std::string::npos) << "with the template applied at open";
  EXPECT_NE(body.find("Body of the notice"), std::string::npos);
  EXPECT_NE(body.find("result=\"第3号\""), std::string::npos) << "and the XML filled in";
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings, (std::vector<std::wstring>{L"GWQuit", L"Save", L"0", L"a", L"b"}));
  Set(&INibWord::SetDocTmplDLURL, "");
}


std::function<void()>* pendingLater = nullptr;

void CALLBACK RunLater(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (pendingLater) (*pendingLater)();
}

// Runs `*call` on this thread `ms` from now, as a page's script timer would.
void LaterOnThisThread(UINT ms, std::function<void()>* call) {
  pendingLater = call;
  SetTimer(nullptr, 0, ms, RunLater);
}

TEST_F(Flow, TemplateChooser) {
  Serve("choose.doc", "Body of the notice");
  ServeDocument("tmpl-c.doc",
                "<text>RED HEADER C\r[\r\r]\rFOOTER</text><bookmark name=\"正文内容B\" start=\"13\" end=\"14\"/>"
                "<bookmark name=\"正文内容E\" start=\"16\" end=\"17\"/>");
  Configure("choose.doc", "&reply=OK");
  ASSERT_EQ(page->IsMultTemplet(VARIANT_TRUE), S_OK);
  ASSERT_EQ(page->SetIsPrinter(VARIANT_TRUE), S_OK);  // templates are offered for official documents
  Set(&INibWord::SetMultTemplet, "1**甲.doc##tmpl-a.doc@@3**丙.doc##tmpl-c.doc@@2**乙.doc##tmpl-b.doc@@2**说明.txt##x");
  std::wstring answered;
  std::string answerWith;  // the address the page gives for the chosen value
  bool answerLater = false;  // the page answers a moment after the event, not in its handler
  std::function<void()> answer;
  sink.onCall = [&](const SinkCall& call) {
    if (call.strings.empty() || call.strings[0] != L"TempletFN" || call.strings.size() < 2) return;
    if (call.strings[1].empty() || call.strings[1].find(L"tmpl-") != 0) return;  // the open's own event
    answered = call.strings[1];
    answer = [&, address = answerWith.empty() ? base + "/" + WideToAnsi(answered) : answerWith] {
      Set(&INibWord::SetDocTmplDLURL, address);
    };
    if (!answerLater) return answer();
    LaterOnThisThread(400, &answer);
  };
  EXPECT_EQ(Open(L"1"), L"");

  // Cancelled: nothing changes, and print mode is not offered.
  TemplateChoice cancel{false};
  std::thread user([&] { cancel.Run(); });
  SendMessageW(ControlButton(kUseTemplate), BM_CLICK, 0, 0);
  user.join();
  EXPECT_EQ(cancel.messages[0], W("在套用模板前是否先保存正文？"));
  EXPECT_EQ(cancel.view.labels, (std::vector<std::wstring>{W("模板列表"), W("丙.doc"), W("乙.doc"), W("甲.doc")}))
      << "largest key first; only .doc files";
  EXPECT_EQ(cancel.view.selected, W("丙.doc")) << "with several templates the first is offered";
  EXPECT_TRUE(answered.empty()) << "the page was not asked";
  EXPECT_FALSE(IsWindowEnabled(ControlButton(kPrintMode)));

  // The page answers with an address that does not work: reported twice.
  answerWith = base + "/no-such-template.doc";
  TemplateChoice failing{true, 2};
  user = std::thread([&] { failing.Run(); });
  SendMessageW(ControlButton(kUseTemplate), BM_CLICK, 0, 0);
  user.join();
  EXPECT_EQ(answered, L"tmpl-c.doc") << "the page was told the chosen value";
  ASSERT_EQ(failing.messages.size(), 3u);
  EXPECT_EQ(failing.messages[1], W("不能正确下载目标文档! \r\n原因: 服务器回答 HTTP 404: 404 Not Found"))
      << "the chooser's download says why, as the open's does";
  EXPECT_EQ(failing.messages[2], W("没有找到模板"));
  ComPtr<IUnknown> running;
  ASSERT_EQ(GetActiveObject(kWord, nullptr, &running), S_OK);
  ComPtr<IDispatch> word;
  ASSERT_EQ(running.As(&word), S_OK);
  EXPECT_EQ(DispObject(word).Object(L"ActiveDocument").CallObject(L"Range").Text(L"Text"), L"Body of the notice");

  // The page answers a moment after the event (its handler went back to the
  // page first): the chooser waits for it, the answered template is applied,
  // not the address the page set before.
  answerWith.clear();
  answerLater = true;
  TemplateChoice chosen{true};
  user = std::thread([&] { chosen.Run(); });
  SendMessageW(ControlButton(kUseTemplate), BM_CLICK, 0, 0);
  user.join();
  EXPECT_EQ(DispObject(word).Object(L"ActiveDocument").CallObject(L"Range").Text(L"Text"),
            L"RED HEADER C\r[\rBody of the notice]\rFOOTER");
  wchar_t caption[32] = L"";
  GetWindowTextW(ControlButton(kUseTemplate), caption, 32);
  EXPECT_EQ(std::wstring(caption), W("不用模板"));
  EXPECT_TRUE(IsWindowEnabled(ControlButton(kPrintMode))) << "print mode now offered";
  running.Reset();
  word.Reset();
  ComPtr<IInnerFunc> inner;
  ASSERT_EQ(page.As(&inner), S_OK);
  BStr ignored;
  ASSERT_EQ(inner->ProcQuit(VARIANT_TRUE, ignored.Out()), S_OK);
  ASSERT_EQ(page->IsMultTemplet(VARIANT_FALSE), S_OK);
}

// A Word slow to show what it did: still refusing calls just after it
// started, its window up a moment after it was told, the files it closed or
// renamed let go of a moment later (within the time each step gives it). Every step waits for what it needs and
// the cycle ends as on a quick Word: the template applied and removed, the
// edit uploaded, nothing left behind.
TEST_F(Flow, AWordSlowToSettleIsWaitedFor) {
  CreateDirectoryA("c:\\doubles", nullptr);
  struct ControlFile {
    ControlFile() { SaveTextFile("[settle]\r\nstart=800\r\nwindow=80\r\nrelease=250\r\n", "c:\\doubles\\control.ini"); }
    ~ControlFile() { DeleteFileA("c:\\doubles\\control.ini"); }
  } settle;
  Serve("settle.doc", "Body of the notice");
  ServeDocument("settle-template.doc",
                "<text>RED HEADER\r[\r\r]\rFOOTER</text><bookmark name=\"正文内容B\" start=\"11\" end=\"12\"/>"
                "<bookmark name=\"正文内容E\" start=\"14\" end=\"15\"/>");
  Configure("settle.doc", "&reply=OK");
  Set(&INibWord::SetDocTmplDLURL, base + "/settle-template.doc");
  ASSERT_EQ(page->SetIsPrinter(VARIANT_TRUE), S_OK);  // templates are offered for official documents
  EXPECT_EQ(Open(L"1"), L"");
  std::string workingCopy = TypeInWord(L"Typed ");
  ASSERT_FALSE(workingCopy.empty());
  DispObject word = RunningWord();
  auto text = [&] { return word.Object(L"ActiveDocument").CallObject(L"Range").Text(L"Text"); };
  {
    DialogRobot question(L"#2", false, 0, L"#32770");  // no save before the template
    SendMessageW(ControlButton(kUseTemplate), BM_CLICK, 0, 0);
  }
  EXPECT_EQ(text(), L"RED HEADER\r[\rTyped Body of the notice]\rFOOTER") << "applied over a working copy let go of late";
  SendMessageW(ControlButton(kUseTemplate), BM_CLICK, 0, 0);
  EXPECT_EQ(text(), L"Typed Body of the notice") << "and removed again";
  word = DispObject();
  sink.calls.clear();
  SendMessageW(ControlButton(kSaveAndClose), BM_CLICK, 0, 0);
  EXPECT_EQ(Uploaded("body").substr(0, 2), "PK") << "the page was converted and packed once Word let go of it";
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].strings[1], L"Save");
  EXPECT_FALSE(FolderExists(FolderOfPath(workingCopy))) << "the cycle's folder went once its files were let go of";
  Set(&INibWord::SetDocTmplDLURL, "");
}

// Another page's object coming and going (another tab opened and closed)
// leaves this page's settings as the page set them.
TEST_F(Flow, AnotherObjectsEndLeavesThisPagesSettings) {
  Serve("afresh.doc", "Body");
  Configure("afresh.doc", "&reply=OK");
  ASSERT_EQ(page->SetFileSizeLmt(0.5), S_OK);
  {
    ComPtr<INibWord> other;
    ASSERT_EQ(CoCreateInstance(CLSID_NibWord, nullptr, CLSCTX_INPROC_SERVER, IID_INibWord,
                               reinterpret_cast<void**>(other.GetAddressOf())),
              S_OK);
    BStr otherUpload(L"http://127.0.0.1:1/other");
    ASSERT_EQ(other->SetUpURL(otherUpload.Get()), S_OK);
  }
  DialogRobot sizeMessage(L"", false, 0, L"#32770");
  std::wstring result = Open(L"3");
  EXPECT_NE(sizeMessage.Seen().text.find(W("文件大小不能超过")), std::wstring::npos) << "this page's limit held";
  EXPECT_EQ(result, L"");
  EXPECT_EQ(Uploaded("body"), "") << "nothing sent past the page's limit";
  ASSERT_EQ(sink.calls.size(), 1u) << "the page still hears from its object";
  ComPtr<IInnerFunc> inner;
  ASSERT_EQ(page.As(&inner), S_OK);
  BStr ignored;
  ASSERT_EQ(inner->ProcQuit(VARIANT_TRUE, ignored.Out()), S_OK);
}

}  // namespace
}  // namespace nib::test
