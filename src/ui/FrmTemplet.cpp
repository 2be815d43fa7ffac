#include "ui/FrmTemplet.h"

#include <commctrl.h>

#include "services/Events.h"
#include "services/PageValues.h"
#include "com/ComError.h"
#include "com/StrConv.h"
#include "com/Dispatch.h"
#include "services/Files.h"
#include "services/JustHttp.h"
#include "services/TextUtil.h"
#include "services/TmpFilesMgr.h"
#include "services/UniqueName.h"
#include "services/WindowUtil.h"
#include "ui/FrmUserCtrlPop.h"

namespace nib {
namespace {

constexpr int kClientWidth = 294, kClientHeight = 232, kPanelHeight = 177;
constexpr int kConfirmId = 1, kCancelId = 2, kTreeId = 3;
constexpr DWORD kPageAnswerMs = 2000;
constexpr DWORD kAfterCloseMs = 1000;

std::wstring Text(const char* utf8) { return AnsiToWide(utf8, CP_UTF8); }

}  // namespace

TFrmTemplet::TFrmTemplet(TFrmUserCtrlPop& controlWindow)
    : controlWindow_(controlWindow),
      values_(controlWindow.SharedValues()),
      entries_(TemplateEntries(values_->MultTemplet)) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kTemplateChooserClass;
  RegisterClassW(&windowClass);  // a second registration fails harmlessly

  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, WS_POPUP | WS_BORDER, FALSE, WS_EX_TOPMOST);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  window_ = CreateWindowExW(WS_EX_TOPMOST, kTemplateChooserClass, Text("模板列表").c_str(), WS_POPUP | WS_BORDER,
                            left, top, width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window_) Fail("the template chooser cannot be created");
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  CreateControls();
  FillTree();
}

TFrmTemplet::~TFrmTemplet() {
  if (window_) DestroyWindow(window_);
  if (font_) DeleteObject(font_);
}

void TFrmTemplet::CreateControls() {
  font_ = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, 0, 0, 0, 0,
                      Text("宋体").c_str());
  HINSTANCE instance = GetModuleHandleW(nullptr);
  tree_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT |
                              TVS_SHOWSELALWAYS,
                          0, 0, kClientWidth, kPanelHeight, window_, reinterpret_cast<HMENU>(kTreeId), instance, nullptr);
  SendMessageW(tree_, TVM_SETINDENT, 19, 0);
  HWND confirm = CreateWindowExW(0, L"BUTTON", Text("确定(&S)").c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 88, 192,
                                 75, 25, window_, reinterpret_cast<HMENU>(kConfirmId), instance, nullptr);
  HWND cancel = CreateWindowExW(0, L"BUTTON", Text("取消(&C)").c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 176, 192,
                                75, 25, window_, reinterpret_cast<HMENU>(kCancelId), instance, nullptr);
  for (HWND control : {tree_, confirm, cancel}) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
}

void TFrmTemplet::FillTree() {
  std::wstring rootText = Text("模板列表");
  TVINSERTSTRUCTW item{};
  item.hParent = TVI_ROOT;
  item.hInsertAfter = TVI_LAST;
  item.item.mask = TVIF_TEXT;
  item.item.pszText = rootText.data();
  HTREEITEM root = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  HTREEITEM first = nullptr;
  int listed = 0;
  for (const TemplateEntry& entry : entries_) {
    if (!IsListedTemplate(entry)) continue;
    std::wstring label = AnsiToWide(entry.name);
    item.hParent = root;
    item.item.pszText = label.data();
    HTREEITEM child = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (!first) first = child;
    ++listed;
  }
  SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
  // With one template the user still has to pick it; with several the first is offered.
  if (listed >= 2) SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(first));
}

void TFrmTemplet::ShowModal() {
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  MSG message;
  while (!closed_) {
    BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      // The host's thread is ending: its own loop must still see the quit.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (got < 0) break;
    if (IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  ShowWindow(window_, SW_HIDE);
}

void TFrmTemplet::OwnerGone() {
  ownerGone_ = true;
  Close();
  PostMessageW(window_, WM_NULL, 0, 0);  // wakes the loop that waits in GetMessage
}

void TFrmTemplet::Close() {
  closed_ = true;
  ShowWindow(window_, SW_HIDE);
}

LRESULT CALLBACK TFrmTemplet::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TFrmTemplet*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT TFrmTemplet::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    switch (message) {
      case WM_COMMAND:
        if (LOWORD(wParam) == kConfirmId) Confirm();
        if (LOWORD(wParam) == kCancelId) Cancel();
        return 0;
      case WM_NOTIFY:
        if (reinterpret_cast<NMHDR*>(lParam)->idFrom == kTreeId && reinterpret_cast<NMHDR*>(lParam)->code == NM_DBLCLK)
          Confirm();
        return 0;
      case WM_ACTIVATEAPP:
        if (wParam) SetForegroundWindow(window_);
        return 0;
      case WM_CLOSE:
        Cancel();
        return 0;
    }
  } catch (...) {
    // A failing template step ends the chooser like the confirm button does; the user sees the document as it is.
    Close();
    return 0;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void TFrmTemplet::Confirm() {
  HTREEITEM selected = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (!selected || SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(selected))) return;
  wchar_t label[512] = L"";
  TVITEMW item{};
  item.mask = TVIF_TEXT;
  item.hItem = selected;
  item.pszText = label;
  item.cchTextMax = 512;
  SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  std::string name = WideToAnsi(label), value;
  for (const TemplateEntry& entry : entries_) {
    if (entry.name != name) continue;
    value = entry.value;
    break;
  }
  PageValues& p = *values_;
  p.TempletFN = value;
  const unsigned answersBefore = p.DocTmplDLURLSets;
  FireOnEventStart(p.EventSink.Get(), "TempletFN", value, "a", *Arg(L"d").Get(), *Arg(L"b").Get());
  // The page answers with SetDocTmplDLURL, in its handler or a moment later;
  // a page that does not answer keeps the address it set before.
  WaitUntil(kPageAnswerMs, [&] { return p.DocTmplDLURLSets != answersBefore; });
  if (ownerGone_) return;  // the cycle ended meanwhile: nothing to apply the template to
  if (!DownloadTemplate()) {
    wchar_t caption[64] = L"";
    GetWindowTextW(window_, caption, 64);
    MessageBoxW(window_, Text("没有找到模板").c_str(), caption, MB_OK);
  } else if (!ownerGone_) {
    controlWindow_.ApplyChosenTemplate();
  }
  Close();
  WaitUntil(kAfterCloseMs, [&] { return !IsWindowVisible(window_); });
}

bool TFrmTemplet::DownloadTemplate() {
  PageValues& p = *values_;
  if (TrimBlanks(p.DocTmplDLURL).empty()) return true;
  if (p.LocalTmplFN.empty()) p.LocalTmplFN = TempFolderPath() + NewUniqueName() + ".doc";
  bool downloaded;
  std::string reason;  // in GB, as the open's download failure tells it
  {
    WaitCursor cursor;
    downloaded = TJustHttp::DownloadToFile(p.DocTmplDLURL, p.LocalTmplFN, p.CycleAddressRule, &reason);
  }
  if (!downloaded) {
    wchar_t caption[64] = L"";
    GetWindowTextW(window_, caption, 64);
    std::wstring text = Text("不能正确下载目标文档! ") + Text("\r\n原因: ") + AnsiToWide(reason, kGbCodePage);
    MessageBoxW(window_, text.c_str(), caption, MB_OKCANCEL);
    return false;
  }
  p.TmpFiles->Add(TTmpFilesMgr::kFile, p.LocalTmplFN);
  return true;
}

void TFrmTemplet::Cancel() {
  if (!ownerGone_) controlWindow_.CancelChosenTemplate();
  Close();
}

}  // namespace nib
