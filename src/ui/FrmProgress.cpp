#include "ui/FrmProgress.h"

#include <commctrl.h>

#include "com/ComError.h"
#include "com/StrConv.h"
#include "services/Locale.h"

namespace nib {
namespace {

constexpr int kClientWidth = 320, kClientHeight = 120;
constexpr int kBarRange = 1000;
constexpr UINT kTickMs = 100;

// The window's text: GB2312 written here, shown in Big5 on traditional systems.
std::wstring Text(const char* utf8) { return AnsiToWide(UiText(Gb(utf8))); }

std::wstring StageText(ProgressStage stage) {
  switch (stage) {
    case ProgressStage::kSaveDocument: return Text("正在保存文档...");
    case ProgressStage::kConvert: return Text("正在转换为网页...");
    case ProgressStage::kPack: return Text("正在打包...");
    case ProgressStage::kUpload: return Text("正在上传...");
    case ProgressStage::kDownload: return Text("正在下载文档...");
  }
  return L"";
}

unsigned long long KiloBytes(uint64_t bytes) { return (bytes + 1023) / 1024; }

bool MovesBytes(ProgressStage stage) { return stage == ProgressStage::kUpload || stage == ProgressStage::kDownload; }

void RegisterProgressClass() {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kProgressWindowClass;
    return RegisterClassExW(&windowClass) != 0;
  }();
  (void)registered;
}

}  // namespace

TFrmProgress::TFrmProgress(HWND owner, DWORD delayMs) : owner_(owner), start_(GetTickCount()), delayMs_(delayMs) {
  previous_ = CurrentProgress();
  SetCurrentProgress(this);
  // While the page's thread dispatches messages (an upload, Word's calls
  // waiting) the tick shows the window when it is due.
  timer_ = SetTimer(nullptr, 0, kTickMs, OnTick);
}

TFrmProgress::~TFrmProgress() {
  if (timer_) KillTimer(nullptr, timer_);
  if (CurrentProgress() == this) SetCurrentProgress(previous_);
  if (window_) DestroyWindow(window_);
  if (font_) DeleteObject(font_);
}

void CALLBACK TFrmProgress::OnTick(HWND, UINT, UINT_PTR, DWORD) {
  // A thread timer carries no window: the display under way is the one to serve.
  if (auto* display = dynamic_cast<TFrmProgress*>(CurrentProgress())) display->ShowWhenDue();
}

void TFrmProgress::SetStage(ProgressStage stage) {
  stage_ = stage;
  if (stage == ProgressStage::kUpload || stage == ProgressStage::kDownload) progress_ = TransferProgress{};
  ShowWhenDue();
  Refresh();
}

void TFrmProgress::OnProgress(const TransferProgress& progress) {
  progress_ = progress;
  ShowWhenDue();
  Refresh();
}

void TFrmProgress::End() {
  ended_ = true;
  if (timer_) KillTimer(nullptr, timer_);
  timer_ = 0;
  if (window_) DestroyWindow(window_);
  window_ = nullptr;
}

void TFrmProgress::ShowWhenDue() {
  if (ended_ || window_ || GetTickCount() - start_ < delayMs_) return;
  try {
    Create();
  } catch (const ComError&) {
    // No window to be had (no desktop): the step goes on without its display.
    ended_ = true;
    return;
  }
  Refresh();
  ShowWindow(window_, SW_SHOWNOACTIVATE);
  UpdateWindow(window_);
}

void TFrmProgress::Create() {
  RegisterProgressClass();
  DWORD style = WS_POPUP | WS_CAPTION | WS_BORDER;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_TOPMOST);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  // Owned by the control window: it goes with it, and stays above Word with it.
  HWND owner = IsWindow(owner_) ? owner_ : nullptr;  // the cycle may have ended meanwhile
  window_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kProgressWindowClass, Text("请稍候...").c_str(), style,
                            (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                            width, height, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
  ThrowLastErrorIf(!window_, "creating the progress window");
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
  font_ = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"\x5B8B\x4F53");
  HINSTANCE instance = GetModuleHandleW(nullptr);
  auto child = [&](const wchar_t* kind, DWORD childStyle, int x, int y, int w, int h, int id) {
    HWND control = CreateWindowExW(0, kind, L"", WS_CHILD | childStyle, x, y, w, h, window_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    ThrowLastErrorIf(!control, "creating the progress window's controls");
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return control;
  };
  stageLabel_ = child(L"STATIC", WS_VISIBLE | SS_LEFT, 16, 12, kClientWidth - 32, 18, kProgressStageId);
  bar_ = child(PROGRESS_CLASSW, 0, 16, 36, kClientWidth - 32, 18, kProgressBarId);
  SendMessageW(bar_, PBM_SETRANGE32, 0, kBarRange);
  figures_ = child(L"STATIC", SS_LEFT, 16, 60, kClientWidth - 32, 18, kProgressFiguresId);
  cancel_ = child(L"BUTTON", BS_PUSHBUTTON, kClientWidth - 96, kClientHeight - 34, 80, 24, kProgressCancelId);
  SetWindowTextW(cancel_, Text("取消").c_str());
}

void TFrmProgress::Refresh() {
  if (!window_) return;
  SetWindowTextW(stageLabel_, (cancelRequested_ ? Text("正在取消...") : StageText(stage_)).c_str());
  bool bytes = MovesBytes(stage_);
  ShowWindow(bar_, bytes ? SW_SHOWNA : SW_HIDE);
  ShowWindow(figures_, bytes ? SW_SHOWNA : SW_HIDE);
  // Only an upload can be stopped: the edit stays in Word, unsent.
  ShowWindow(cancel_, stage_ == ProgressStage::kUpload ? SW_SHOWNA : SW_HIDE);
  EnableWindow(cancel_, stage_ == ProgressStage::kUpload && !cancelRequested_);
  if (bytes) {
    bool sending = stage_ == ProgressStage::kUpload;
    uint64_t done = sending ? progress_.sent : progress_.received;
    uint64_t total = sending ? progress_.sendTotal : progress_.receiveTotal;
    int position = total ? static_cast<int>(done * kBarRange / total) : 0;
    SendMessageW(bar_, PBM_SETPOS, position, 0);
    std::string figures = Gb(sending ? "已发送 " : "已接收 ") + std::to_string(KiloBytes(done)) + " KB";
    if (total) figures += Gb(" / 共 ") + std::to_string(KiloBytes(total)) + " KB";
    SetWindowTextW(figures_, AnsiToWide(UiText(figures)).c_str());
  }
  // The page's thread may be in a call that dispatches nothing: paint now.
  UpdateWindow(window_);
}

LRESULT CALLBACK TFrmProgress::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TFrmProgress*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CLOSE:
      return 0;  // only the step's end removes it
    case WM_COMMAND:
      if (self && LOWORD(wParam) == kProgressCancelId && HIWORD(wParam) == BN_CLICKED &&
          self->stage_ == ProgressStage::kUpload) {
        self->cancelRequested_ = true;
        self->Refresh();
        return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace nib
