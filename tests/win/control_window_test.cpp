// The control window as a user meets it: buttons pressed with BM_CLICK, the
// calls that reach the object behind it (a recording IInnerFunc), and the
// captions and enabled states afterwards.

#include <windows.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "DialogRobot.h"
#include "TestSupport.h"
#include "automation/NibWordImpl.h"
#include "services/PageValues.h"
#include "com/BStr.h"
#include "services/WindowUtil.h"
#include "ui/FrmUserCtrlPop.h"
#include "ui/WindowMessages.h"

using Microsoft::WRL::ComPtr;

namespace nib::test {
namespace {

std::wstring W(const char* utf8) { return Utf8ToWide(utf8); }

// The object behind the window: records every call, whether the toolbar was
// locked meanwhile, and answers as the test scripted.
class RecordingInnerFunc final : public IInnerFunc {
 public:
  struct Call {
    std::string what;
    bool toolbarLocked;
  };
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IInnerFunc) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IInnerFunc*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }  // lives in the fixture
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  STDMETHODIMP ProcQuit(VARIANT_BOOL force, BSTR* value) override {
    return Answer(force ? "ProcQuit(true)" : "ProcQuit(false)", value, "");
  }
  STDMETHODIMP ProcSaveAndClose(BSTR* value) override { return Answer("ProcSaveAndClose", value, saveAndCloseResult); }
  STDMETHODIMP IsReadOnly(VARIANT_BOOL* value) override {
    *value = VARIANT_FALSE;
    return Record("IsReadOnly");
  }
  STDMETHODIMP ProcUserSetEdtSts(LONG app, LONG item, LONG sts) override {
    std::string what =
        "ProcUserSetEdtSts(" + std::to_string(app) + "," + std::to_string(item) + "," + std::to_string(sts) + ")";
    HRESULT hr = Record(what);
    // Like the editor, report the new state back to the window.
    if (SUCCEEDED(hr) && reportBack && window && item <= 2) window->ProcEdtStsNotify(0, item, sts);
    return hr;
  }
  STDMETHODIMP ProcTest(LONG, BSTR, BSTR) override { return Record("ProcTest"); }
  STDMETHODIMP getProcID(LONG index, BSTR* value) override {
    *value = BStr::FromAnsi(index == 1 ? procID : procID2).Detach();
    return S_OK;
  }
  STDMETHODIMP ProcSave(VARIANT_BOOL isHt, BSTR* value) override {
    return Answer(isHt ? "ProcSave(true)" : "ProcSave(false)", value, "OK");
  }
  STDMETHODIMP InsertFile() override { return Record("InsertFile"); }
  STDMETHODIMP AccpetAllRevision_() override { return Record("AccpetAllRevision_"); }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const Call& call : calls) names.push_back(call.what);
    return names;
  }

  std::string procID = "1", procID2 = "0";
  std::string saveAndCloseResult = "OK";
  std::string failing;  // calls starting with this text fail
  bool reportBack = true;
  // What the object does when a command ends the edit cycle: it destroys the
  // window from inside the window's own command.
  std::function<void()> endCycle;
  TFrmUserCtrlPop* window = nullptr;
  std::vector<Call> calls;
  ULONG references = 0;

 private:
  HRESULT Record(const std::string& what) {
    calls.push_back({what, window && !IsWindowEnabled(window->Toolbar())});
    return !failing.empty() && what.rfind(failing, 0) == 0 ? E_FAIL : S_OK;
  }
  HRESULT Answer(const std::string& what, BSTR* value, const std::string& text) {
    *value = BStr::FromAnsi(text).Detach();
    HRESULT hr = Record(what);
    if (endCycle) endCycle();
    return hr;
  }
};

class ControlWindow : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
  }
  void TearDown() override {
    window.reset();
    EXPECT_EQ(inner.references, 0u) << "the window holds no reference to the object";
    ComApartment::TearDown();
  }
  // A window for the open mode `procID`/`procID2`, shown as the object shows it.
  void Open(const char* procID = "1", const char* procID2 = "0") {
    window.reset();
    inner.calls.clear();
    inner.procID = procID;
    inner.procID2 = procID2;
    window = std::make_unique<TFrmUserCtrlPop>(values);
    inner.window = window.get();
    ASSERT_EQ(window->setInnerFuncIntf(&inner), S_OK);
    window->Show();
  }
  HWND Button(CtrlButton button) const { return window->Button(button); }
  bool On(CtrlButton button) const { return IsWindowEnabled(Button(button)) != FALSE; }
  void Enable(CtrlButton button, bool enabled) { EnableWindow(Button(button), enabled); }
  std::wstring Caption(CtrlButton button) const {
    wchar_t text[64] = L"";
    GetWindowTextW(Button(button), text, 64);
    return text;
  }
  // Every button's enabled state in design order, as "1" and "0".
  std::string States() const {
    std::string states;
    for (int i = 0; i < kCtrlButtonCount; ++i) states += On(static_cast<CtrlButton>(i)) ? '1' : '0';
    return states;
  }
  void Press(CtrlButton button) {
    SendMessageW(Button(button), BM_CLICK, 0, 0);
    if (window) {
      EXPECT_TRUE(IsWindowEnabled(window->Toolbar())) << "the toolbar is usable after the command";
    }
  }
  // The next save or quit command ends the cycle, as the object does after a successful upload.
  void EndCycleOnCommand() {
    inner.endCycle = [this] {
      inner.endCycle = nullptr;
      inner.window = nullptr;
      window.reset();
    };
  }
  // Lets the 10 ms timer run a few times.
  static void Pump() { DelayWithMessages(60); }
  // Every state change the window asks for runs with the toolbar locked.
  void ExpectAllCallsLocked() {
    for (const auto& call : inner.calls) {
      bool stateChange = call.what.rfind("ProcUserSetEdtSts", 0) == 0;
      bool bottomLine = call.what.rfind("ProcUserSetEdtSts(0,3", 0) == 0;
      if (stateChange && !bottomLine) {
        EXPECT_TRUE(call.toolbarLocked) << call.what;
      }
    }
  }
  RECT ChildRect(HWND child) const {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, window->Toolbar(), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }

  RecordingInnerFunc inner;
  std::shared_ptr<PageValues> values = std::make_shared<PageValues>();
  std::unique_ptr<TFrmUserCtrlPop> window;
};

using Calls = std::vector<std::string>;

// The window as the screen shows it, as a 24-bit BMP (for the README's picture).
void SaveScreenshot(HWND window, const std::wstring& path) {
  DelayWithMessages(100);  // let it paint
  RECT frame;
  GetWindowRect(window, &frame);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
  GdiFlush();
  DWORD imageSize = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
  BITMAPFILEHEADER header{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + imageSize),
                          0, 0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, &header, sizeof header, &written, nullptr);
  WriteFile(file, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr);
  WriteFile(file, bits, imageSize, &written, nullptr);
  CloseHandle(file);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

TEST_F(ControlWindow, InitialEnablingFollowsTheOpenMode) {
  // Order: 保存并关闭 关闭 显示痕迹 套用模板 套打模式 首页底线 保存红头文件 引入正文
  const std::map<std::pair<std::string, std::string>, std::string> expected = {
      {{"1", "0"}, "11110101"}, {{"2", "0"}, "01100100"}, {{"2", "1"}, "01000100"}, {{"3", ""}, "01000100"},
      {{"5", ""}, "11100101"},  {{"6", "3"}, "11110101"}, {{"6", "0"}, "01110100"}, {{" 4 ", ""}, "01010100"},
      {{"x", ""}, "11111101"},  // not a number: the buttons stay as designed
  };
  for (const auto& [mode, states] : expected) {
    Open(mode.first.c_str(), mode.second.c_str());
    EXPECT_EQ(States(), states) << "ProcID \"" << mode.first << "\", ProcID2 \"" << mode.second << "\"";
  }
  // The timer then allows body insertion as long as no template is applied.
  Open("2", "0");
  Pump();
  EXPECT_TRUE(On(kSBInsertFile));
  EXPECT_FALSE(On(kSpbPrintMode));
}

TEST_F(ControlWindow, WindowAndToolbarAt96Dpi) {
  Open();
  HWND frame = window->Window();
  EXPECT_EQ(values->ControlWindow, frame) << "the handle is recorded for the page's cycle";
  wchar_t text[64] = L"";
  GetWindowTextW(frame, text, 64);
  EXPECT_EQ(text, W("文档编辑控制窗口"));
  LONG style = GetWindowLongW(frame, GWL_STYLE), exStyle = GetWindowLongW(frame, GWL_EXSTYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME | WS_SYSMENU), 0) << "no border, no border icons";
  EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
  EXPECT_TRUE(IsWindowVisible(frame));

  RECT toolbar = ChildRect(window->Toolbar());
  MapWindowPoints(window->Toolbar(), frame, reinterpret_cast<POINT*>(&toolbar), 2);
  EXPECT_EQ(toolbar.left, 2);
  EXPECT_EQ(toolbar.top, 0);
  EXPECT_EQ(toolbar.right - toolbar.left, 458);
  EXPECT_EQ(toolbar.bottom - toolbar.top, 26);

  const std::vector<std::pair<CtrlButton, std::string>> captions = {
      {kBtnCloseAndSave, "保存并关闭"}, {kSpbClose, "关闭"},         {kSpbShowTrack, "显示痕迹"},
      {kSpbUseTmpl, "套用模板"},        {kSpbPrintMode, "套打模式"},  {kSpbPage1BottomLine, "首页底线"},
      {kSpbHT, "保存红头文件"},         {kSBInsertFile, "引入正文"}};
  const int widths[] = {64, 28, 53, 55, 53, 53, 83, 72};
  int left = 0;
  for (const auto& [button, caption] : captions) {
    EXPECT_EQ(Caption(button), W(caption.c_str()));
    RECT rect = ChildRect(Button(button));
    EXPECT_EQ(rect.right - rect.left, widths[button]) << caption;
    EXPECT_EQ(rect.bottom - rect.top, 23) << caption;
    if (button == kSpbPage1BottomLine) {
      EXPECT_FALSE(IsWindowVisible(Button(button))) << "hidden at creation";
      continue;
    }
    EXPECT_EQ(rect.left, left) << caption << " follows the visible buttons before it";
    left += widths[button];
  }
  EXPECT_FALSE(On(kSpbHT)) << "disabled at creation";

  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Button(kSpbClose), WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_EQ(font.lfHeight, -12);
  EXPECT_EQ(font.lfCharSet, GB2312_CHARSET);
  EXPECT_EQ(std::wstring(font.lfFaceName), W("宋体"));
  window->SetBtnsHidden(4);  // as the object shows it
  SaveScreenshot(frame, BuildPath(L"control-window.bmp"));
}

TEST_F(ControlWindow, TogglesAskTheObjectAndFollowItsReports) {
  Open();
  inner.reportBack = false;
  Press(kSpbShowTrack);
  EXPECT_EQ(inner.Names(), Calls{"ProcUserSetEdtSts(0,0,0)"});
  EXPECT_EQ(Caption(kSpbShowTrack), W("显示痕迹")) << "the caption waits for the editor's report";
  EXPECT_EQ(window->ProcEdtStsNotify(0, 0, 0), S_OK);
  EXPECT_EQ(Caption(kSpbShowTrack), W("隐藏痕迹"));
  inner.calls.clear();
  Press(kSpbShowTrack);
  EXPECT_EQ(inner.Names(), Calls{"ProcUserSetEdtSts(0,0,1)"});
  EXPECT_EQ(window->ProcEdtStsNotify(0, 0, 7), S_OK) << "any value but 0 is off";
  EXPECT_EQ(Caption(kSpbShowTrack), W("显示痕迹"));

  // Another editor's reports change nothing.
  std::string before = States();
  EXPECT_EQ(window->ProcEdtStsNotify(1, 0, 0), S_OK);
  EXPECT_EQ(window->ProcEdtStsNotify(0, 9, 0), S_OK);
  EXPECT_EQ(Caption(kSpbShowTrack), W("显示痕迹"));
  EXPECT_EQ(States(), before);

  // Template applied: print mode and the red-header save become available,
  // the revision and save buttons are disabled.
  EXPECT_EQ(window->ProcEdtStsNotify(0, 2, 0), S_OK);
  EXPECT_EQ(Caption(kSpbUseTmpl), W("不用模板"));
  EXPECT_TRUE(On(kSpbPrintMode));
  EXPECT_TRUE(On(kSpbHT));
  EXPECT_FALSE(On(kSpbShowTrack));
  EXPECT_FALSE(On(kBtnCloseAndSave));

  // Print mode on, then off again.
  inner.calls.clear();
  inner.reportBack = true;
  Press(kSpbPrintMode);
  EXPECT_EQ(inner.Names(), (Calls{"ProcUserSetEdtSts(0,1,0)", "ProcUserSetEdtSts(0,0,1)"}));
  EXPECT_EQ(Caption(kSpbPrintMode), W("常规模式"));
  EXPECT_FALSE(On(kSpbHT));
  EXPECT_FALSE(On(kSBInsertFile));
  inner.calls.clear();
  Press(kSpbPrintMode);
  EXPECT_EQ(inner.Names(), (Calls{"ProcUserSetEdtSts(0,1,1)", "ProcUserSetEdtSts(0,0,1)"}));
  EXPECT_EQ(Caption(kSpbPrintMode), W("套打模式"));
  EXPECT_TRUE(On(kSpbHT));
  values->InvokedTmplKind = "tmp";  // the page's overprint template: no red-header save
  Press(kSpbPrintMode);
  Press(kSpbPrintMode);
  EXPECT_FALSE(On(kSpbHT));
  ExpectAllCallsLocked();

  // While the template is applied the timer keeps body insertion off.
  Enable(kSBInsertFile, true);
  Pump();
  EXPECT_FALSE(On(kSBInsertFile));
}

TEST_F(ControlWindow, HiddenButtonsCompactLayoutAndCommonRules) {
  Open();
  EXPECT_EQ(window->SetBtnsHidden(0), S_OK);
  EXPECT_FALSE(On(kSpbPrintMode));
  EXPECT_EQ(window->SetBtnsHidden(1), S_OK);
  EXPECT_FALSE(On(kSpbUseTmpl));
  std::string before = States();
  EXPECT_EQ(window->SetBtnsHidden(2), S_OK);
  EXPECT_EQ(window->SetBtnsHidden(77), S_OK);
  EXPECT_EQ(States(), before) << "2 and unknown ids apply only the common rules";

  EXPECT_EQ(window->SetBtnsHidden(3), S_OK);
  for (CtrlButton hidden : {kSpbShowTrack, kSpbUseTmpl, kSpbPrintMode, kSpbPage1BottomLine})
    EXPECT_FALSE(IsWindowVisible(Button(hidden)));
  EXPECT_EQ(window->SetBtnsHidden(4), S_OK);
  RECT toolbar = ChildRect(window->Toolbar()), frame;
  GetWindowRect(window->Window(), &frame);
  EXPECT_EQ(toolbar.right - toolbar.left, 64 + 28 + 83 + 72 + 5) << "the four visible buttons + 5";
  EXPECT_EQ(frame.right - frame.left, 64 + 28 + 83 + 72 + 5 + 26);
  EXPECT_EQ(ChildRect(Button(kSpbHT)).left, 64 + 28) << "the red-header button moved up";

  // 5: the bottom-line button right behind "关闭"; 6 compacts as 4 does.
  Open();
  EXPECT_EQ(window->SetBtnsHidden(5), S_OK);
  EXPECT_TRUE(IsWindowVisible(Button(kSpbPage1BottomLine)));
  for (CtrlButton hidden : {kSpbShowTrack, kSpbUseTmpl, kSpbPrintMode}) EXPECT_FALSE(IsWindowVisible(Button(hidden)));
  RECT close = ChildRect(Button(kSpbClose));
  EXPECT_EQ(ChildRect(Button(kSpbPage1BottomLine)).left, close.right);
  EXPECT_EQ(window->SetBtnsHidden(6), S_OK);
  GetWindowRect(window->Window(), &frame);
  EXPECT_EQ(frame.right - frame.left, 64 + 28 + 53 + 83 + 72 + 5 + 26);
  inner.calls.clear();
  Press(kSpbPage1BottomLine);
  EXPECT_EQ(inner.Names(), Calls{"ProcUserSetEdtSts(0,3,0)"});

  // The save-and-close display rule: "K" leaves it, "T" enables, anything else disables.
  Open("2", "0");
  values->BtnSaveCloseDisp = "T";
  window->SetBtnsHidden(2);
  EXPECT_TRUE(On(kBtnCloseAndSave));
  values->BtnSaveCloseDisp = "K";
  window->SetBtnsHidden(2);
  EXPECT_TRUE(On(kBtnCloseAndSave));
  values->BtnSaveCloseDisp = "F";
  window->SetBtnsHidden(4);
  EXPECT_FALSE(On(kBtnCloseAndSave));

  // The restricted display: only "关闭" and "套用模板", and the timer keeps it so.
  Open();
  values->ExtraDispState = "ExtraState_1";
  window->SetBtnsHidden(2);
  EXPECT_EQ(States(), "01010000");
  for (CtrlButton button : {kBtnCloseAndSave, kSpbPrintMode, kSpbHT, kSBInsertFile}) Enable(button, true);
  Pump();
  EXPECT_EQ(States(), "01010000");
}

TEST_F(ControlWindow, ToolbarSnapshotAndRestore) {
  Open();
  std::string opened = States();
  EXPECT_EQ(window->SetToolBarEnabled(VARIANT_TRUE, VARIANT_TRUE), S_OK);
  EXPECT_EQ(States(), opened) << "nothing to restore before a snapshot";
  EXPECT_EQ(window->SetToolBarEnabled(VARIANT_FALSE, VARIANT_FALSE), S_OK);
  EXPECT_EQ(States(), "00000000");
  EXPECT_EQ(window->SetToolBarEnabled(VARIANT_TRUE, VARIANT_TRUE), S_OK);
  EXPECT_EQ(States(), opened);

  Open();
  window->SetToolBarEnabled(VARIANT_FALSE, VARIANT_FALSE);
  window->ProcEdtStsNotify(0, 2, 0);
  window->SetToolBarEnabled(VARIANT_TRUE, VARIANT_TRUE);
  std::string expected = opened;
  expected[kSpbPrintMode] = expected[kSpbHT] = '1';
  EXPECT_EQ(States(), expected) << "the template's states replaced the snapshot's";
  // A new snapshot replaces the old one.
  Enable(kSpbClose, false);
  window->SetToolBarEnabled(VARIANT_TRUE, VARIANT_FALSE);
  EXPECT_EQ(States(), "11111111");
  window->SetToolBarEnabled(VARIANT_TRUE, VARIANT_TRUE);
  EXPECT_EQ(States(), "10111111");
}

TEST_F(ControlWindow, SaveAndCloseAndClose) {
  Open();
  std::string before = States();
  inner.saveAndCloseResult = "NoSave";
  Press(kBtnCloseAndSave);
  EXPECT_EQ(inner.Names(), Calls{"ProcSaveAndClose"});
  EXPECT_TRUE(values->SaveModeSaveAndClose);
  EXPECT_EQ(States(), before) << "nothing was saved: the buttons are usable again, as they were";

  // The upload succeeded: the object ends the cycle and destroys the window
  // in the middle of the window's own command.
  Open();
  inner.saveAndCloseResult = "OK";
  EndCycleOnCommand();
  Press(kBtnCloseAndSave);
  EXPECT_EQ(window, nullptr) << "the command touched nothing of the destroyed window";

  // Any outcome that leaves the cycle open gives the buttons back: an empty
  // result (Word's save failed) and a failing call alike.
  for (const char* failing : {"", "ProcSaveAndClose"}) {
    Open();
    before = States();
    inner.saveAndCloseResult = "";
    inner.failing = failing;
    Press(kBtnCloseAndSave);
    EXPECT_EQ(States(), before) << "after " << (*failing ? "a failing call" : "an empty result");
  }
  inner.failing.clear();

  // After the page's overprint template the template is removed first.
  Open();
  values->InvokedTmplKind = "tmp";
  inner.saveAndCloseResult = "NoSave";
  Press(kBtnCloseAndSave);
  EXPECT_EQ(inner.Names(), (Calls{"ProcUserSetEdtSts(0,2,1)", "ProcSaveAndClose"}));
  ExpectAllCallsLocked();
  values->InvokedTmplKind.clear();

  // "关闭" that ends the cycle.
  Open();
  EndCycleOnCommand();
  Press(kSpbClose);
  EXPECT_EQ(inner.Names(), Calls{"ProcQuit(false)"});
  EXPECT_EQ(window, nullptr);

  // "关闭" whose quit turned into a save that failed (the user answered Yes):
  // the cycle stays open, the buttons and the timer come back.
  for (const char* failing : {"", "ProcQuit"}) {
    Open();
    before = States();
    inner.failing = failing;
    Press(kSpbClose);
    EXPECT_EQ(States(), before) << "after " << (*failing ? "a failing quit" : "a quit that kept the cycle");
    Enable(kSBInsertFile, false);
    Pump();
    EXPECT_TRUE(On(kSBInsertFile)) << "the timer runs again";
  }
  inner.failing.clear();
}

TEST_F(ControlWindow, FailingCallsEndTheCommandAndUnlock) {
  Open();
  inner.failing = "ProcUserSetEdtSts";
  Press(kSpbShowTrack);
  EXPECT_EQ(inner.Names(), Calls{"ProcUserSetEdtSts(0,0,0)"});
  Press(kSpbPrintMode);  // disabled: no call
  EXPECT_EQ(inner.calls.size(), 1u);
  window->ProcEdtStsNotify(0, 2, 0);
  inner.calls.clear();
  Press(kSpbPrintMode);
  EXPECT_EQ(inner.Names(), Calls{"ProcUserSetEdtSts(0,1,0)"}) << "the revisions are not hidden after the failure";

  Open();
  inner.failing = "InsertFile";
  Press(kSBInsertFile);
  EXPECT_EQ(inner.Names(), Calls{"InsertFile"});
  inner.failing.clear();
  Press(kSBInsertFile);
  EXPECT_EQ(inner.Names(), (Calls{"InsertFile", "InsertFile"}));

  // The red-header save swallows its failure and leaves the window usable.
  Open();
  window->ProcEdtStsNotify(0, 2, 0);
  Enable(kSpbClose, false);
  inner.failing = "ProcSave";
  inner.calls.clear();
  Press(kSpbHT);
  EXPECT_EQ(inner.Names(), (Calls{"ProcUserSetEdtSts(0,0,1)", "ProcSave(true)", "ProcUserSetEdtSts(0,0,1)"}));
  EXPECT_TRUE(On(kSpbClose));
  EXPECT_TRUE(On(kSBInsertFile));

  // No object: the command fails quietly.
  window.reset();
  inner.calls.clear();
  window = std::make_unique<TFrmUserCtrlPop>(values);
  window->Show();
  Press(kSpbShowTrack);
  EXPECT_TRUE(inner.calls.empty());
}

TEST_F(ControlWindow, ApplyingAndRemovingTheTemplate) {
  Open();
  {
    DialogRobot robot(L"<close>", false, 0, L"#32770");  // closing the question is Cancel
    Press(kSpbUseTmpl);
    EXPECT_EQ(robot.Seen().text, W("在套用模板前是否先保存正文？"));
    EXPECT_EQ(robot.Seen().title, W("文档编辑控制窗口"));
    EXPECT_EQ(robot.Seen().buttons.size(), 3u);
  }
  EXPECT_EQ(inner.Names(), Calls{"ProcUserSetEdtSts(0,0,1)"}) << "cancel ends the command";
  EXPECT_FALSE(values->SaveModeOnlySave);

  inner.calls.clear();
  {
    DialogRobot question(L"", false, 0, L"#32770");  // the first button: Yes
    Press(kSpbUseTmpl);
    EXPECT_TRUE(question.Pressed());
  }
  EXPECT_EQ(inner.Names(), (Calls{"ProcUserSetEdtSts(0,0,1)", "ProcSave(false)", "ProcUserSetEdtSts(0,2,0)"}));
  EXPECT_TRUE(values->SaveModeOnlySave);
  EXPECT_EQ(Caption(kSpbUseTmpl), W("不用模板"));
  EXPECT_TRUE(On(kSpbPrintMode));
  EXPECT_TRUE(On(kSpbHT));
  EXPECT_FALSE(On(kBtnCloseAndSave)) << "no save and close while the template is applied";
  ExpectAllCallsLocked();

  // Removing it: no question, print mode off, save and close back for ProcID "1".
  window->ProcEdtStsNotify(0, 1, 0);
  inner.calls.clear();
  Press(kSpbUseTmpl);
  EXPECT_EQ(inner.Names(), (Calls{"ProcUserSetEdtSts(0,0,1)", "ProcUserSetEdtSts(0,2,1)"}));
  EXPECT_EQ(Caption(kSpbUseTmpl), W("套用模板"));
  EXPECT_EQ(Caption(kSpbPrintMode), W("套打模式"));
  EXPECT_FALSE(On(kSpbPrintMode));
  EXPECT_FALSE(On(kSpbHT));
  EXPECT_TRUE(On(kSpbShowTrack));
  EXPECT_TRUE(On(kBtnCloseAndSave));

  // A missing template file keeps "保存并关闭" usable after applying.
  Open("6", "0");
  values->TmplMissing = true;
  {
    DialogRobot question(L"", false, 0, L"#32770");
    Press(kSpbUseTmpl);
  }
  EXPECT_TRUE(On(kBtnCloseAndSave));
  EXPECT_EQ(SendMessageW(window->Window(), WM_TEMPLATE_MISSING, 0, 0), 0);
  EXPECT_FALSE(On(kSpbHT)) << "the missing-template message disables the red-header save";
}

TEST_F(ControlWindow, MultiTemplateDescriptionDecidesTheChooser) {
  struct Case {
    std::string description;
    std::string title, text;  // the warning; empty: the chooser opens
  };
  const std::string one = "1**notice.doc##http://server/t1", two = "2**letter.doc##http://server/t2";
  std::string tooMany = one;
  for (int i = 0; i < 101; ++i) tooMany += "@@" + two;
  const std::vector<Case> cases = {
      {one + "@@" + two, "", ""},
      {"  ", "系统提示：", "没有可供使用的套打模板!"},
      {"1** notice.doc##v", "系统提示:", "您的模板格式字符串中**或##错误，请检查！"},
      {"a**notice.doc##v", "系统提示:", "您的模板格式字符串中**或##错误，请检查！"},
      {"1notice.doc", "系统提示:", "您的模板格式字符串中**或##错误，请检查！"},
      {tooMany, "系统提示:", "您的模板格式字符串中**或##错误，请检查！"},
      {one + "@@b**letter.doc##v", "系统提示：", "您提供的模板字符串格式错误，请重新输入!"},
  };
  for (const Case& c : cases) {
    Open();
    values->IsMultTemplet = true;
    values->ExtraDispState = "ExtraState_0";  // no save question
    values->MultTemplet = c.description;
    int opened = 0;
    window->SetTemplateChooser([&](HWND owner) {
      EXPECT_EQ(owner, nullptr);
      ++opened;
    });
    DialogRobot robot(L"", false, 0, L"#32770");
    Press(kSpbUseTmpl);
    if (c.title.empty()) {
      robot.Stop();
      EXPECT_FALSE(robot.SawDialog()) << c.description;
      EXPECT_EQ(opened, 1) << c.description;
      continue;
    }
    const SeenDialog& seen = robot.Seen();
    EXPECT_EQ(seen.title, W(c.title.c_str())) << c.description;
    EXPECT_EQ(seen.text, W(c.text.c_str())) << c.description;
    EXPECT_TRUE(seen.hasIcon);
    EXPECT_EQ(opened, 0) << c.description;
    EXPECT_EQ(inner.Names(), Calls{"ProcUserSetEdtSts(0,0,1)"}) << "only the revisions were hidden";
  }
}

// The page's InvokeUseTemplate posts these to its own cycle's window.
TEST_F(ControlWindow, TemplateInvokedByThePage) {
  Open();
  ASSERT_TRUE(PostMessageW(window->Window(), WM_INVOKETMPL_TMP, 0, 0));
  EXPECT_TRUE(inner.calls.empty()) << "posted: the page's call returns first";
  Pump();
  EXPECT_EQ(values->InvokedTmplKind, "tmp");
  EXPECT_EQ(inner.Names(), (Calls{"ProcUserSetEdtSts(0,0,1)", "ProcUserSetEdtSts(0,2,0)"}));
  EXPECT_TRUE(On(kBtnCloseAndSave));
  EXPECT_FALSE(On(kSpbHT));
  EXPECT_FALSE(On(kSpbUseTmpl));
  EXPECT_TRUE(On(kSpbPrintMode)) << "print mode is there with the template applied";
  ExpectAllCallsLocked();

  Open();
  inner.calls.clear();
  ASSERT_TRUE(PostMessageW(window->Window(), WM_INVOKETMPL_HT, 0, 0));
  Pump();
  EXPECT_EQ(values->InvokedTmplKind, "ht");
  EXPECT_EQ(inner.Names(), (Calls{"ProcUserSetEdtSts(0,0,1)", "ProcUserSetEdtSts(0,2,0)"}));
  EXPECT_EQ(Caption(kSpbUseTmpl), W("不用模板"));
  EXPECT_FALSE(On(kSpbUseTmpl));
  EXPECT_FALSE(On(kBtnCloseAndSave));
  EXPECT_TRUE(On(kSpbHT));
  EXPECT_TRUE(On(kSpbClose));

  // A page asking for a template from a bad description sees the warning only.
  Open();
  inner.calls.clear();
  values->IsMultTemplet = true;
  values->MultTemplet = "";
  {
    DialogRobot robot(L"", false, 0, L"#32770");
    PostMessageW(window->Window(), WM_INVOKETMPL_TMP, 0, 0);
    Pump();
    EXPECT_EQ(robot.Seen().text, W("没有可供使用的套打模板!"));
  }
  EXPECT_EQ(inner.Names(), Calls{"ProcUserSetEdtSts(0,0,1)"});
}

TEST_F(ControlWindow, InterfaceContract) {
  Open();
  ComPtr<IUserIntfFunc> face;
  ASSERT_EQ(window->QueryInterface(IID_IUserIntfFunc, reinterpret_cast<void**>(face.GetAddressOf())), S_OK);
  UINT count = 0;
  EXPECT_EQ(face->GetTypeInfoCount(&count), E_NOTIMPL) << "callers use the slots";
  EXPECT_EQ(face->setInnerFuncIntf(nullptr), E_POINTER);
  face.Reset();
  EXPECT_TRUE(IsWindow(window->Window())) << "releasing the interface does not end the window";
  HWND handle = window->Window();
  window.reset();
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_EQ(values->ControlWindow, nullptr);
}

TEST_F(ControlWindow, DraggedByItsSurface) {
  Open();
  window->SetBtnsHidden(4);
  HWND frame = window->Window();
  RECT start;
  GetWindowRect(frame, &start);
  SendMessageW(frame, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(start.right - start.left - 5, 10));
  SendMessageW(frame, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(start.right - start.left - 5 + 30, 10 + 20));
  SendMessageW(frame, WM_LBUTTONUP, 0, MAKELPARAM(start.right - start.left - 5 + 30, 30));
  RECT moved;
  GetWindowRect(frame, &moved);
  EXPECT_EQ(moved.left, start.left + 30);
  EXPECT_EQ(moved.top, start.top + 20);
  SendMessageW(frame, WM_MOUSEMOVE, 0, MAKELPARAM(100, 100));
  RECT after;
  GetWindowRect(frame, &after);
  EXPECT_EQ(after.left, moved.left) << "no dragging after the release";
}

TEST_F(ControlWindow, ComesForwardWhenThePageIsActivated) {
  Open();
  HWND page = CreateWindowExW(0, L"STATIC", L"page", WS_POPUP | WS_VISIBLE, 300, 300, 200, 100, nullptr, nullptr,
                              nullptr, nullptr);
  // Another program has the foreground ...
  std::thread other([] {
    HWND program = CreateWindowExW(0, L"STATIC", L"other program", WS_POPUP | WS_VISIBLE, 0, 300, 100, 100, nullptr,
                                   nullptr, nullptr, nullptr);
    SetForegroundWindow(program);
    DelayWithMessages(200);
    DestroyWindow(program);
  });
  DelayWithMessages(100);
  EXPECT_NE(GetForegroundWindow(), window->Window());
  // ... and the user comes back to the page.
  SetForegroundWindow(page);
  Pump();
  EXPECT_EQ(GetActiveWindow(), window->Window());
  other.join();
  DestroyWindow(page);
}

// Under LC_ALL=zh_TW.UTF-8: the revision button speaks traditional Chinese,
// the window caption comes through Big5, the template buttons stay simplified.
TEST_F(ControlWindow, TraditionalCaptions) {
  Open();
  EXPECT_EQ(Caption(kBtnCloseAndSave), W("保存並關閉"));
  EXPECT_EQ(Caption(kSpbClose), W("關閉"));
  EXPECT_EQ(Caption(kSpbShowTrack), W("顯示痕跡"));
  EXPECT_EQ(Caption(kSpbUseTmpl), W("套用模板"));
  wchar_t text[64] = L"";
  GetWindowTextW(window->Window(), text, 64);
  EXPECT_EQ(text, W("文檔編輯控制窗口"));
  inner.reportBack = true;
  Press(kSpbShowTrack);
  EXPECT_EQ(Caption(kSpbShowTrack), W("隱藏痕跡"));
  Press(kSpbShowTrack);
  EXPECT_EQ(inner.Names(), (Calls{"ProcUserSetEdtSts(0,0,0)", "ProcUserSetEdtSts(0,0,1)"}));
  EXPECT_EQ(Caption(kSpbShowTrack), W("顯示痕跡"));
}

}  // namespace
}  // namespace nib::test
