#include "ui/FSts.h"

#include "com/ComError.h"
#include "com/StrConv.h"
#include "services/Locale.h"

namespace nib {
namespace {

constexpr int kClientWidth = 242;
constexpr int kClientHeight = 123;
constexpr COLORREF kSilver = RGB(0xC0, 0xC0, 0xC0);
constexpr COLORREF kBlue = RGB(0, 0, 0xFF);

LRESULT CALLBACK StatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      return 0;  // the close query always answers no
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kBlue);
      SetBkColor(dc, kSilver);
      static HBRUSH silver = CreateSolidBrush(kSilver);
      return reinterpret_cast<LRESULT>(silver);
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterStatusClass() {
  static HBRUSH silver = CreateSolidBrush(kSilver);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = StatusProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_WAIT);
  windowClass.hbrBackground = silver;
  windowClass.lpszClassName = kStatusWindowClass;
  RegisterClassExW(&windowClass);
}

}  // namespace

TFrmSts::TFrmSts() {
  RegisterStatusClass();
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_BORDER;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_TOPMOST);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  std::wstring caption = AnsiToWide(UiText(Gb("请稍候...")));
  window_ = CreateWindowExW(WS_EX_TOPMOST, kStatusWindowClass, caption.c_str(), style,
                            (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                            width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ThrowLastErrorIf(!window_, "creating the status window");
  // The label's font has the GB2312 character set: its text is chosen, not converted.
  std::wstring text = IsTraditionalLocale() ? AnsiToWide("文檔正在進行轉換,\r\n請稍候...", CP_UTF8)
                                            : AnsiToWide("文档正在进行转换,\r\n请稍候...", CP_UTF8);
  label_ = CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, 40, 37, 171, 38, window_,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
  font_ = CreateFontW(-19, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"\x5B8B\x4F53");
  SendMessageW(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
}

TFrmSts::~TFrmSts() {
  if (window_) DestroyWindow(window_);
  if (font_) DeleteObject(font_);
}

void TFrmSts::Show() {
  ShowWindow(window_, SW_SHOWNOACTIVATE);
  UpdateWindow(window_);
}

}  // namespace nib
