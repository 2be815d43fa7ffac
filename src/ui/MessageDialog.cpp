#include "ui/MessageDialog.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "com/StrConv.h"
#include "services/Progress.h"
#include "services/WindowUtil.h"

namespace nib {
namespace {

constexpr int kTextId = 100;
constexpr int kIconId = 101;
constexpr int kHelpResult = -1;  // pressing Help closes nothing
constexpr int kMargin = 12;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonGap = 8;

struct ButtonInfo {
  const wchar_t* caption;
  int result;
};

constexpr ButtonInfo kButtons[kButtonCount] = {
    {L"&Yes", 6},  {L"&No", 7},         {L"OK", 1},  {L"Cancel", 2},       {L"&Abort", 3}, {L"&Retry", 4},
    {L"&Ignore", 5}, {L"&All", 8}, {L"N&o to All", 9}, {L"Yes to &All", 10}, {L"&Help", kHelpResult}};

const wchar_t* TitleOf(int type) {
  switch (type) {
    case kDlgWarning: return L"Warning";
    case kDlgError: return L"Error";
    case kDlgInformation: return L"Information";
    case kDlgConfirmation: return L"Confirm";
    default: return L"NibWordLib";
  }
}

const wchar_t* IconOf(int type) {
  switch (type) {
    case kDlgWarning: return IDI_WARNING;
    case kDlgError: return IDI_ERROR;
    case kDlgInformation: return IDI_INFORMATION;
    case kDlgConfirmation: return IDI_QUESTION;
    default: return nullptr;
  }
}

struct DialogState {
  int result = 0;
};

LRESULT CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (state && HIWORD(wParam) == BN_CLICKED && static_cast<int>(LOWORD(wParam)) != kTextId) {
        int result = static_cast<int>(LOWORD(wParam));
        // Only the buttons shown answer (Enter or Escape may name others).
        if (result != 0xFFFF && GetDlgItem(window, result)) state->result = result;
        PostMessageW(window, WM_NULL, 0, 0);  // wakes the modal loop when the click was sent from elsewhere
      }
      return 0;
    case WM_CLOSE:
      if (state) state->result = 2;
      PostMessageW(window, WM_NULL, 0, 0);
      return 0;
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterDialogClass() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DialogProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kMessageDialogClass;
  RegisterClassExW(&windowClass);  // already registered is fine
}

// A GB2312-capable font, so Chinese texts show on every system.
HFONT DialogFont() {
  static HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"\x5B8B\x4F53");  // 宋体
  return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

SIZE MeasureText(const std::wstring& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, DialogFont());
  RECT bounds{0, 0, 400, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return {std::max<LONG>(bounds.right, 150), std::max<LONG>(bounds.bottom, 16)};
}

HWND AddChild(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style, int id, int x, int y,
              int width, int height) {
  HWND child = CreateWindowExW(0, windowClass, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                               parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                               nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
  return child;
}

BOOL CALLBACK CollectEnabledWindow(HWND window, LPARAM list) {
  if (IsWindowEnabled(window) && IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

}  // namespace

int ModalResultOf(int buttonBit) {
  return buttonBit >= 0 && buttonBit < kButtonCount ? kButtons[buttonBit].result : 0;
}

int ShowMessageDialog(const std::string& text, int dialogType, ButtonSet buttons, int helpContext) {
  EndProgressDisplay();  // a long step's window must not cover the message, nor wait under it
  RegisterDialogClass();
  std::wstring wide = AnsiToWide(text);
  std::vector<int> bits;
  for (int bit = 0; bit < kButtonCount; ++bit)
    if (buttons & (1u << bit)) bits.push_back(bit);

  const wchar_t* icon = IconOf(dialogType);
  int iconSpace = icon ? 32 + kMargin : 0;
  SIZE textSize = MeasureText(wide);
  int buttonsWidth = static_cast<int>(bits.size()) * (kButtonWidth + kButtonGap) - kButtonGap;
  int clientWidth = std::max<int>(iconSpace + textSize.cx, buttonsWidth) + 2 * kMargin;
  int textBottom = kMargin + std::max<int>(textSize.cy, icon ? 32 : 0);
  int clientHeight = textBottom + kMargin + kButtonHeight + kMargin;

  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  RECT frame{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  HWND owner = GetActiveWindow();
  HWND dialog = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kMessageDialogClass, TitleOf(dialogType), style, x,
                                y, width, height, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!dialog) return 0;
  DialogState state;
  SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
  if (icon) {
    HWND iconWindow = AddChild(dialog, L"STATIC", L"", SS_ICON, kIconId, kMargin, kMargin, 32, 32);
    SendMessageW(iconWindow, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, icon)), 0);
  }
  AddChild(dialog, L"STATIC", wide, SS_LEFT | SS_NOPREFIX, kTextId, kMargin + iconSpace, kMargin, textSize.cx,
           textSize.cy);
  int buttonX = (clientWidth - buttonsWidth) / 2;
  for (size_t i = 0; i < bits.size(); ++i) {
    const ButtonInfo& info = kButtons[bits[i]];
    AddChild(dialog, L"BUTTON", info.caption, WS_TABSTOP | (i == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON),
             info.result == kHelpResult ? 0xFFFF : info.result, buttonX, textBottom + kMargin, kButtonWidth,
             kButtonHeight);
    buttonX += kButtonWidth + kButtonGap;
  }
  (void)helpContext;  // no help file is installed: Help closes nothing

  // A modal dialog: every other window of this thread waits for the answer.
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
  for (HWND window : disabled) EnableWindow(window, FALSE);
  ShowWindow(dialog, SW_SHOW);
  SetForegroundWindow(dialog);

  MSG message;
  while (!state.result && GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (!state.result && message.message == WM_QUIT) PostQuitMessage(static_cast<int>(message.wParam));
  for (HWND window : disabled)
    if (IsWindow(window)) EnableWindow(window, TRUE);
  SetWindowLongPtrW(dialog, GWLP_USERDATA, 0);
  DestroyWindow(dialog);
  return state.result;
}

}  // namespace nib
