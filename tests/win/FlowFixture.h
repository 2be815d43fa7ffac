#pragma once
// Whole edit cycles as a page and its user run them: the registered object,
// the local document server, the Word double, the control window's buttons.

#include <windows.h>
#include <ocidl.h>

#include <set>
#include <string>

#include "DialogRobot.h"
#include "TestSupport.h"
#include "com/BStr.h"
#include "com/Dispatch.h"
#include "com/StrConv.h"
#include "server/Guids.h"
#include "services/Files.h"
#include "services/UniqueName.h"

namespace nib::test {

using Microsoft::WRL::ComPtr;

constexpr CLSID kWord = {0x000209FF, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline std::wstring W(const char* utf8) { return Utf8ToWide(utf8); }

// The button of the control window with this design index, found as a user
// finds it: on the screen.
constexpr int kSaveAndClose = 0, kClose = 1, kUseTemplate = 3, kPrintMode = 4, kSaveRedHeader = 6;

inline HWND ControlButton(int index) {
  HWND window = FindWindowW(L"TFrmUserCtrlPop", nullptr);
  HWND toolbar = window ? FindWindowExW(window, nullptr, L"TToolBar", nullptr) : nullptr;
  return toolbar ? GetDlgItem(toolbar, 100 + index) : nullptr;
}


// The names in the temporary folder, to tell what a cycle left behind.
inline std::set<std::string> TemporaryEntries() {
  std::set<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(AnsiToWide(TempFolderPath() + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.insert(WideToAnsi(found.cFileName, CP_UTF8));
  while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

class FlowFixture : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    base = ServerBase();
    ASSERT_FALSE(base.empty()) << "the document server fixture is running";
    id = "flow-" + NewUniqueName().substr(0, 8);
    ASSERT_EQ(CoCreateInstance(CLSID_NibWord, nullptr, CLSCTX_INPROC_SERVER, IID_INibWord,
                               reinterpret_cast<void**>(page.GetAddressOf())),
              S_OK);
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(page.As(&container), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(DIID_INibWordEvents, &point), S_OK);
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  }
  void TearDown() override {
    EXPECT_EQ(FindWindowW(L"OpusApp", nullptr), nullptr) << "no Word left running";
    EXPECT_EQ(FindWindowW(L"TFrmUserCtrlPop", nullptr), nullptr) << "no control window left";
    // A failed case must not leave its cycle to the next one.
    ComPtr<IInnerFunc> inner;
    BStr ignored;
    if (ControlButton(kClose) && page && SUCCEEDED(page.As(&inner))) inner->ProcQuit(VARIANT_TRUE, ignored.Out());
    if (point) point->Unadvise(cookie);
    point.Reset();
    page.Reset();
    ComApartment::TearDown();
  }
  void Serve(const std::string& name, const std::string& utf8Text) { ServeDocument(name, "<text>" + utf8Text + "</text>"); }
  void ServeDocument(const std::string& name, const std::string& utf8Inner) {
    std::string content = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nibdoc>" + utf8Inner + "</nibdoc>\n";
    ASSERT_TRUE(SaveTextFile(content, ServerFolder() + "\\files\\" + name));
  }
  void Set(HRESULT (STDMETHODCALLTYPE INibWord::*setter)(BSTR), const std::string& utf8) {
    BStr value(W(utf8.c_str()));
    ASSERT_EQ((page.Get()->*setter)(value.Get()), S_OK);
  }
  // A page's usual configuration: download, upload with this test's record id.
  void Configure(const std::string& document, const std::string& uploadQuery = "") {
    Set(&INibWord::SetDownURL, base + "/" + document);
    Set(&INibWord::SetUpURL, base + "/upload?id=" + id + uploadQuery);
    Set(&INibWord::setSucceedPrefix, "OK");
    Set(&INibWord::SetDestBaseFN, "通知1.doc");
    Set(&INibWord::SetUserName, "张三");
    Set(&INibWord::SetDocTmplDLURL, "");
  }
  std::wstring Open(const wchar_t* procID, const wchar_t* procID2 = L"") {
    BStr p1(procID), p2(procID2), result;
    HRESULT hr = page->OpenFile(p1.Get(), p2.Get(), result.Out());
    if (FAILED(hr)) {
      ComPtr<IErrorInfo> info;
      BStr description;
      if (GetErrorInfo(0, &info) == S_OK) info->GetDescription(description.Out());
      ADD_FAILURE() << "OpenFile failed: " << WideToAnsi(description.Wide(), CP_UTF8);
    }
    return result.Wide();
  }
  std::string Uploaded(const char* part) { return ReadAll(ServerFolder() + "\\records\\" + id + "." + part); }
  // What the user does in Word; returns the working copy's path.
  // The Word the cycle runs (or the editor of class `editor`), as the user's
  // desktop finds it; empty when none runs.
  static DispObject RunningWord(const CLSID& editor = kWord) {
    ComPtr<IUnknown> running;
    ComPtr<IDispatch> word;
    if (GetActiveObject(editor, nullptr, &running) != S_OK || FAILED(running.As(&word))) return DispObject();
    return DispObject(word);
  }
  std::string TypeInWord(const wchar_t* text) {
    DispObject word = RunningWord();
    EXPECT_TRUE(word) << "Word is running";
    if (!word) return "";
    DispObject document = word.Object(L"ActiveDocument");
    document.CallObject(L"Range", {Arg(0), Arg(0)}).Put(L"Text", text);
    return WideToAnsi(document.Text(L"FullName"));
  }
  // Presses a control-window button; returns the dialog the press brought up.
  SeenDialog PressExpectingDialog(int button, const wchar_t* answer = L"",
                                  const wchar_t* windowClass = L"TMessageForm") {
    DialogRobot robot(answer, false, 0, windowClass);
    SendMessageW(ControlButton(button), BM_CLICK, 0, 0);
    return robot.Seen();
  }

  std::string base, id;
  ComPtr<INibWord> page;
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  TestSink sink;
};

}  // namespace nib::test
