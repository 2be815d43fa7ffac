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
      HWND dialog = FindWindowW(windowClass, nullptr);
      if (!dialog || !IsWindowVisible(dialog)) continue;
      SeenDialog seen;
      seen.shownAt = GetTickCount();
      seen.title = TextOf(dialog);
      Children children;
      EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
      if (children.text) seen.text = TextOf(children.text);
      for (HWND button : children.buttons) seen.buttons.push_back(TextOf(button));
      seen_.push_back(seen);
      if (!children.buttons.empty())
        PostMessageW(children.buttons[0], BM_CLICK, 0, 0);
      else
        PostMessageW(dialog, WM_CLOSE, 0, 0);
      for (DWORD start = GetTickCount(); IsWindow(dialog) && IsWindowVisible(dialog) && GetTickCount() - start < 5000;)
        Sleep(5);
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
  while (!(dialog = FindWindowW(windowClass_.c_str(), nullptr)) || !IsWindowVisible(dialog)) {
    if (stop_ || GetTickCount() - start > 20000) return;  // no dialog came
    Sleep(5);
  }
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
      SendMessageW(children.buttons[index - 1], BM_CLICK, 0, 0);
      pressed_ = true;
      return;
    }
  }
  for (HWND button : children.buttons) {
    if (TextOf(button) == press_ || press_.empty()) {
      SendMessageW(button, BM_CLICK, 0, 0);
      pressed_ = true;
      return;
    }
  }
  PostMessageW(dialog, WM_CLOSE, 0, 0);
}

}  // namespace nib::test
