#include "ui/FrmUserCtrlPop.h"

#include <windowsx.h>

#include <algorithm>
#include <charconv>

#include "com/BStr.h"
#include "com/ComError.h"
#include "com/ErrorInfo.h"
#include "com/StrConv.h"
#include "services/Locale.h"
#include "services/TextUtil.h"
#include "ui/CtrlPopParts.h"
#include "ui/FrmTemplet.h"
#include "ui/WindowMessages.h"

namespace nib {

using namespace ctrlpop;

namespace {

constexpr int kDesignClientWidth = 590;
constexpr int kDesignLeft = 216;
constexpr int kDesignTop = 67;
constexpr int kStripHeight = 26;
constexpr int kButtonHeight = 23;
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 10;
constexpr int kFirstButtonId = 100;
// Posted to itself when the process becomes active, so that the window comes forward.
constexpr UINT WM_BRING_FORWARD = WM_USER + 1;
constexpr COLORREF kBlue = RGB(0, 0, 0xFF);

// The toolbar's widths at 120 dpi (the design) and at 96 dpi.
constexpr int kDesignWidths[kCtrlButtonCount] = {84, 36, 70, 67, 68, 68, 99, 72};
constexpr int kWidths96[kCtrlButtonCount] = {64, 28, 53, 55, 53, 53, 83, 72};

// A decimal integer with surrounding blanks; false for anything else.
bool ReadDecimal(const std::string& text, int& value) {
  std::string trimmed = TrimBlanks(text);
  const char* first = trimmed.data();
  const char* last = first + trimmed.size();
  if (first != last && *first == '+') ++first;
  auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc{} && end == last && first != last;
}

}  // namespace

void TFrmUserCtrlPop::RegisterClasses() {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;  // a double click does nothing
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = CreateSolidBrush(kBlue);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.lpszClassName = kControlWindowClass;
    RegisterClassExW(&windowClass);
    windowClass.lpfnWndProc = ToolbarProc;
    windowClass.lpszClassName = kControlToolbarClass;
    RegisterClassExW(&windowClass);
    return true;
  }();
  (void)registered;
}

TFrmUserCtrlPop::TFrmUserCtrlPop(std::shared_ptr<PageValues> values) : values_(std::move(values)) {
  RegisterClasses();
  bool traditional = IsTraditionalLocale();
  showCaption_ = Text(traditional ? "顯示痕跡" : "显示痕迹");
  hideCaption_ = Text(traditional ? "隱藏痕跡" : "隐藏痕迹");
  std::wstring caption = AnsiToWide(UiText(Gb("文档编辑控制窗口")));
  window_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kControlWindowClass, caption.c_str(),
                            WS_POPUP | WS_CLIPCHILDREN, kDesignLeft, kDesignTop, kDesignClientWidth, kStripHeight,
                            nullptr, nullptr, GetModuleHandleW(nullptr), this);
  ThrowLastErrorIf(!window_, "creating the control window");
  font_ = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"\x5B8B\x4F53");
  toolbar_ = CreateWindowExW(0, kControlToolbarClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 2, 0, 564,
                             kStripHeight, window_, nullptr, GetModuleHandleW(nullptr), nullptr);
  ThrowLastErrorIf(!toolbar_, "creating the control window's toolbar");
  CreateButtons();
  values_->ControlWindow = window_;
  SetTimer(window_, kTimer1, kTimer1Interval, nullptr);
}

TFrmUserCtrlPop::~TFrmUserCtrlPop() {
  *alive_ = false;
  if (chooser_) chooser_->OwnerGone();
  if (values_->ControlWindow == window_) values_->ControlWindow = nullptr;
  if (window_) DestroyWindow(window_);
  if (font_) DeleteObject(font_);
}

void TFrmUserCtrlPop::CreateButtons() {
  bool traditional = IsTraditionalLocale();
  const std::wstring captions[kCtrlButtonCount] = {
      Text(traditional ? "保存並關閉" : "保存并关闭"), Text(traditional ? "關閉" : "关闭"), showCaption_, UseTmplOff(),
      PrintModeOff(), Text("首页底线"), Text("保存红头文件"), Text("引入正文")};
  for (int i = 0; i < kCtrlButtonCount; ++i) {
    auto button = static_cast<CtrlButton>(i);
    DWORD style = WS_CHILD | BS_PUSHBUTTON | BS_FLAT | (button == kSpbPage1BottomLine ? 0 : WS_VISIBLE) |
                  (button == kSpbHT ? WS_DISABLED : 0);
    buttons_[i] = CreateWindowExW(0, L"BUTTON", captions[i].c_str(), style, 0, 0, kDesignWidths[i], kButtonHeight,
                                  toolbar_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstButtonId + i)),
                                  GetModuleHandleW(nullptr), nullptr);
    ThrowLastErrorIf(!buttons_[i], "creating a control window button");
    SendMessageW(buttons_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    widths_[i] = kDesignWidths[i];
    order_.push_back(button);
  }
  LayoutButtons();
}

void TFrmUserCtrlPop::Show() { ShowWindow(window_, SW_SHOW); }

void TFrmUserCtrlPop::SetTimerRunning(bool running) {
  if (running)
    SetTimer(window_, kTimer1, kTimer1Interval, nullptr);
  else
    KillTimer(window_, kTimer1);
}

// --- window procedures ------------------------------------------------------------


LRESULT CALLBACK TFrmUserCtrlPop::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TFrmUserCtrlPop*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self || !self->window_) return DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

// The toolbar hands its buttons' clicks to the window.
LRESULT CALLBACK TFrmUserCtrlPop::ToolbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) return SendMessageW(GetParent(window), message, wParam, lParam);
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TFrmUserCtrlPop::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  // Errors in the handlers end the command and are swallowed here: the
  // window must keep running whatever a call into the object did.
  std::shared_ptr<bool> alive = alive_;
  try {
    switch (message) {
      case WM_COMMAND: {
        int id = LOWORD(wParam) - kFirstButtonId;
        if (HIWORD(wParam) == BN_CLICKED && id >= 0 && id < kCtrlButtonCount) RunCommand(static_cast<CtrlButton>(id));
        return 0;
      }
      case WM_SHOWWINDOW:
        if (wParam) {
          LayoutForDpi();
          ApplyInitialEnabling();
        }
        break;
      case WM_TIMER:
        if (wParam == kTimer1) OnTimer();
        return 0;
      case WM_ACTIVATEAPP:
        if (wParam) PostMessageW(window_, WM_BRING_FORWARD, 0, 0);
        break;
      case WM_BRING_FORWARD:
        if (IsWindowVisible(window_) && IsWindowEnabled(window_)) SetActiveWindow(window_);
        return 0;
      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN:
      case WM_MBUTTONDOWN:
        dragging_ = true;
        grab_ = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        SetCapture(window_);
        return 0;
      case WM_MOUSEMOVE:
        if (dragging_) {
          RECT frame;
          GetWindowRect(window_, &frame);
          SetWindowPos(window_, nullptr, frame.left + GET_X_LPARAM(lParam) - grab_.x,
                       frame.top + GET_Y_LPARAM(lParam) - grab_.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return 0;
      case WM_LBUTTONUP:
      case WM_RBUTTONUP:
      case WM_MBUTTONUP:
        dragging_ = false;
        ReleaseCapture();
        return 0;
      case WM_TEMPLATE_MISSING:
        if (Enabled(kSpbHT)) Enable(kSpbHT, false);
        return 0;
      case WM_INVOKETMPL_TMP:
      case WM_INVOKETMPL_HT: {
        bool redHeader = message == WM_INVOKETMPL_HT;
        values_->InvokedTmplKind = redHeader ? "ht" : "tmp";
        PageInvokedTemplateStep(redHeader);
        if (!*alive) return 0;
        Enable(kBtnCloseAndSave, !redHeader);
        Enable(kSpbHT, redHeader);
        return 0;
      }
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

// --- show handling ------------------------------------------------------------------

void TFrmUserCtrlPop::LayoutForDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  const int* widths = dpi == 96 ? kWidths96 : dpi == 120 ? kDesignWidths : nullptr;
  if (!widths) return;  // other densities keep the current sizes
  for (int i = 0; i < kCtrlButtonCount; ++i) widths_[i] = widths[i];
  SetWindowPos(toolbar_, nullptr, 0, 0, dpi == 96 ? 458 : 564, kStripHeight, SWP_NOMOVE | SWP_NOZORDER);
  LayoutButtons();
}

// Visible buttons side by side in toolbar order, as a toolbar arranges them.
void TFrmUserCtrlPop::LayoutButtons() {
  int left = 0;
  for (CtrlButton button : order_) {
    MoveWindow(buttons_[button], left, 0, widths_[button], kButtonHeight, TRUE);
    if (Visible(button)) left += widths_[button];
  }
}

void TFrmUserCtrlPop::ApplyInitialEnabling() {
  int proc = 0, proc2 = 0;
  if (!ReadDecimal(ctrlProcID_, proc)) return;  // the buttons stay as designed
  if (!ReadDecimal(ctrlProcID2_, proc2)) proc2 = 0;
  bool gw = IsGwUpload();
  Enable(kBtnCloseAndSave, proc == 1 || proc == 5 || gw);
  Enable(kSBInsertFile, proc == 1 || proc == 5 || gw);
  Enable(kSpbShowTrack, (proc == 1 || proc == 2 || proc == 5 || proc == 6) && !(proc == 2 && proc2 != 0));
  Enable(kSpbUseTmpl, proc == 1 || proc == 4 || proc == 6);
  Enable(kSpbPrintMode, (proc == 1 || proc == 6) && Caption(kSpbUseTmpl) != UseTmplOff());
}

// --- IUserIntfFunc ------------------------------------------------------------------

STDMETHODIMP TFrmUserCtrlPop::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IUserIntfFunc) {
    *out = static_cast<IUserIntfFunc*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP TFrmUserCtrlPop::ProcEdtStsNotify(LONG ImplAppId, LONG StsItemId, LONG StsId) {
  return TrapToHResult([&] {
    if (ImplAppId != 0) return;  // Word is the only editor
    bool on = StsId == 0;
    switch (StsItemId) {
      case 0:
        SetCaption(kSpbShowTrack, on ? hideCaption_ : showCaption_);
        break;
      case 1:
        SetCaption(kSpbPrintMode, on ? PrintModeOn() : PrintModeOff());
        break;
      case 2: {
        SetCaption(kSpbUseTmpl, on ? UseTmplOn() : UseTmplOff());
        for (CtrlButton button : {kSpbPrintMode, kSpbHT}) {
          Enable(button, on);
          for (size_t i = 0; i < order_.size() && i < savedBtnStates_.size(); ++i)
            if (order_[i] == button) savedBtnStates_[i] = on;
        }
        Enable(kSpbShowTrack, false);
        Enable(kBtnCloseAndSave, false);
        break;
      }
    }
  });
}

STDMETHODIMP TFrmUserCtrlPop::setInnerFuncIntf(IInnerFunc* InnerFuncIntf) {
  return TrapToHResult([&] {
    if (!InnerFuncIntf) Fail("setInnerFuncIntf: no object", E_POINTER);
    inner_ = InnerFuncIntf;
    ctrlProcID_ = TextOf([&](BSTR* id) { return InnerFuncIntf->getProcID(1, id); }, "getProcID(1)");
    ctrlProcID2_ = TextOf([&](BSTR* id) { return InnerFuncIntf->getProcID(2, id); }, "getProcID(2)");
  });
}

STDMETHODIMP TFrmUserCtrlPop::SetBtnsHidden(LONG BtnId) {
  return TrapToHResult([&] {
    switch (BtnId) {
      case 0:
        Enable(kSpbPrintMode, false);
        break;
      case 1:
        Enable(kSpbUseTmpl, false);
        break;
      case 3:
        for (CtrlButton button : {kSpbShowTrack, kSpbUseTmpl, kSpbPrintMode, kSpbPage1BottomLine})
          SetVisible(button, false);
        break;
      case 4:
      case 6: {
        int width = 5;
        for (CtrlButton button : order_)
          if (Visible(button)) width += widths_[button];
        SetWindowPos(toolbar_, nullptr, 0, 0, width, kStripHeight, SWP_NOMOVE | SWP_NOZORDER);
        RECT frame;
        GetWindowRect(window_, &frame);
        SetWindowPos(window_, nullptr, 0, 0, width + 26, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        break;
      }
      case 5: {
        for (CtrlButton button : {kSpbShowTrack, kSpbUseTmpl, kSpbPrintMode}) SetVisible(button, false);
        // Right behind "关闭".
        std::erase(order_, kSpbPage1BottomLine);
        order_.insert(std::find(order_.begin(), order_.end(), kSpbClose) + 1, kSpbPage1BottomLine);
        SetVisible(kSpbPage1BottomLine, true);
        break;
      }
    }
    ApplyCommonRules();
  });
}

void TFrmUserCtrlPop::ApplyCommonRules() {
  const PageValues& p = *values_;
  if (p.BtnSaveCloseDisp == "T")
    Enable(kBtnCloseAndSave, true);
  else if (p.BtnSaveCloseDisp != "K")
    Enable(kBtnCloseAndSave, false);
  if (p.ExtraDispState == "ExtraState_1") {
    for (CtrlButton button :
         {kBtnCloseAndSave, kSpbShowTrack, kSpbPrintMode, kSpbPage1BottomLine, kSpbHT, kSBInsertFile})
      Enable(button, false);
    Enable(kSpbClose, true);
    Enable(kSpbUseTmpl, true);
  }
}

STDMETHODIMP TFrmUserCtrlPop::SetToolBarEnabled(VARIANT_BOOL bEnabled, VARIANT_BOOL bUseBakSts) {
  return TrapToHResult([&] {
    if (bUseBakSts) {
      // Without a snapshot there is nothing to restore: the buttons stay as they are.
      for (size_t i = 0; i < order_.size() && i < savedBtnStates_.size(); ++i) Enable(order_[i], savedBtnStates_[i]);
      return;
    }
    savedBtnStates_.clear();
    for (CtrlButton button : order_) savedBtnStates_.push_back(Enabled(button));
    for (CtrlButton button : order_) Enable(button, bEnabled != VARIANT_FALSE);
  });
}

// Print mode only with a template applied, body text only without one.
void TFrmUserCtrlPop::OnTimer() {
  const std::string& state = values_->ExtraDispState;
  if (state == "NoUse") {
    if (Caption(kSpbUseTmpl) == UseTmplOff()) {
      Enable(kSpbPrintMode, false);
      Enable(kSBInsertFile, true);
    } else {
      Enable(kSBInsertFile, false);
    }
  } else if (state == "ExtraState_1") {
    for (CtrlButton button : {kSBInsertFile, kSpbPrintMode, kSpbHT, kBtnCloseAndSave}) Enable(button, false);
  }
}

// --- buttons --------------------------------------------------------------------------

bool TFrmUserCtrlPop::Enabled(CtrlButton button) const { return IsWindowEnabled(buttons_[button]) != FALSE; }

void TFrmUserCtrlPop::Enable(CtrlButton button, bool enabled) {
  if (Enabled(button) != enabled) EnableWindow(buttons_[button], enabled);
}

std::wstring TFrmUserCtrlPop::Caption(CtrlButton button) const {
  wchar_t text[64] = L"";
  GetWindowTextW(buttons_[button], text, 64);
  return text;
}

void TFrmUserCtrlPop::SetCaption(CtrlButton button, const std::wstring& caption) {
  SetWindowTextW(buttons_[button], caption.c_str());
}

bool TFrmUserCtrlPop::Visible(CtrlButton button) const {
  return (GetWindowLongW(buttons_[button], GWL_STYLE) & WS_VISIBLE) != 0;
}

void TFrmUserCtrlPop::SetVisible(CtrlButton button, bool visible) {
  ShowWindow(buttons_[button], visible ? SW_SHOWNA : SW_HIDE);
  LayoutButtons();
}

}  // namespace nib
