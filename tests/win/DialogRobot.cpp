#include "DialogRobot.h"

namespace nib::test {
namespace {

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = L"";
  GetWindowTextW(window, text, 1024);
  return text;
}

struct Children {
  std::vector<HWND> buttons;
  HWND text = nullptr;
  bool icon = false;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  auto* children = reinterpret_cast<Children*>(param);
  wchar_t name[64] = L"";
  GetClassNameW(child, name, 64);
  if (_wcsicmp(name, L"Button") == 0) children->buttons.push_back(child);
  if (_wcsicmp(name, L"Static") == 0) {
    if (GetWindowLongW(child, GWL_STYLE) & SS_ICON)
      children->icon = true;
    else
      children->text = child;
  }
  return TRUE;
}

// A dialog is visible before its buttons are laid out and its loop runs: a
// press that early can be lost (seen under Wine), so the robot lets it settle.
constexpr DWORD kSettleMs = 100;

// The first visible top-level window of the class: hidden ones (Wine keeps
// some dialogs of its own around) must not hide the one on the screen.
HWND FindVisible(const wchar_t* windowClass) {
  for (HWND window = FindWindowExW(nullptr, nullptr, windowClass, nullptr); window;
       window = FindWindowExW(nullptr, window, windowClass, nullptr))
    if (IsWindowVisible(window)) return window;
  return nullptr;
}

// BM_CLICK is lost when the dialog is not the active window (the control
// window takes activation back whenever the process is activated): the
// button's command goes to the dialog directly instead.
void Press(HWND dialog, HWND button, bool wait) {
  WPARAM command = MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED);
  if (wait)
    SendMessageW(dialog, WM_COMMAND, command, reinterpret_cast<LPARAM>(button));
  else
    PostMessageW(dialog, WM_COMMAND, command, reinterpret_cast<LPARAM>(button));
}

}  // namespace

DialogCatcher::DialogCatcher() : thread_([this] { Run(); }) {}

DialogCatcher::~DialogCatcher() { Stop(); }

const std::vector<SeenDialog>& DialogCatcher::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  return seen_;
}

std::vector<std::wstring> DialogCatcher::Texts() {
  std::vector<std::wstring> texts;
  for (const SeenDialog& dialog : Stop()) texts.push_back(dialog.text);
  return texts;
}

void DialogCatcher::Run() {
  while (!stop_) {
    for (const wchar_t* windowClass : {L"TMessageForm", L"#32770"}) {
      HWND dialog = FindVisible(windowClass);
      if (!dialog) continue;
      Sleep(kSettleMs);
      SeenDialog seen;
      seen.shownAt = GetTickCount();
      seen.title = TextOf(dialog);
      Children children;
      EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
      if (children.text) seen.text = TextOf(children.text);
      for (HWND button : children.buttons) seen.buttons.push_back(TextOf(button));
      seen_.push_back(seen);
      if (!children.buttons.empty())
        Press(dialog, children.buttons[0], false);
      else
        PostMessageW(dialog, WM_CLOSE, 0, 0);
      for (DWORD start = GetTickCount(); IsWindow(dialog) && IsWindowVisible(dialog) && GetTickCount() - start < 5000;)
        Sleep(5);
      ++answered_;
    }
    Sleep(5);
  }
}

DialogRobot::DialogRobot(std::wstring press, bool stealFocus, DWORD watchMs, std::wstring windowClass)
    : press_(std::move(press)),
      windowClass_(std::move(windowClass)),
      stealFocus_(stealFocus),
      watchMs_(watchMs),
      thread_([this] { Run(); }) {}

DialogRobot::~DialogRobot() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

const SeenDialog& DialogRobot::Seen() {
  if (thread_.joinable()) thread_.join();
  return seen_;
}

void DialogRobot::Run() {
  HWND dialog = nullptr;
  DWORD start = GetTickCount();
  while (!(dialog = FindVisible(windowClass_.c_str()))) {
    if (stop_ || GetTickCount() - start > 20000) return;  // no dialog came
    Sleep(5);
  }
  Sleep(kSettleMs);
  seen_.shownAt = GetTickCount();
  seen_.title = TextOf(dialog);
  GetWindowRect(dialog, &seen_.bounds);
  Children children;
  EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
  seen_.hasIcon = children.icon;
  if (children.text) seen_.text = TextOf(children.text);
  for (HWND button : children.buttons) seen_.buttons.push_back(TextOf(button));

  if (stealFocus_) {
    // Another program takes the foreground, as Word does while the user edits.
    HWND other = CreateWindowExW(0, L"STATIC", L"other program", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    DWORD stolen = GetTickCount();
    while (GetTickCount() - stolen < watchMs_) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      if (GetForegroundWindow() == dialog && GetTickCount() - stolen > 0) {
        seen_.foregroundAt = GetTickCount();
        break;
      }
      Sleep(5);
    }
    DestroyWindow(other);
  }
  // "#n" presses the n-th button, whatever its caption says in this locale.
  if (press_.size() > 1 && press_[0] == L'#') {
    size_t index = static_cast<size_t>(_wtoi(press_.c_str() + 1));
    if (index >= 1 && index <= children.buttons.size()) {
      Press(dialog, children.buttons[index - 1], true);
      pressed_ = true;
      return;
    }
  }
  for (HWND button : children.buttons) {
    if (TextOf(button) == press_ || press_.empty()) {
      Press(dialog, button, true);
      pressed_ = true;
      return;
    }
  }
  PostMessageW(dialog, WM_CLOSE, 0, 0);
}

}  // namespace nib::test
