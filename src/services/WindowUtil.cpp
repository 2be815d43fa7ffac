#include "services/WindowUtil.h"

#include <algorithm>

namespace nib {

bool ProcessMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // The thread's own loop must still see it, or the host never ends.
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

void DelayWithMessages(DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (!ProcessMessages()) return;  // the thread is ending: nothing left to wait for
    DWORD elapsed = TicksSince(start);
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, ms - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

bool WaitUntil(DWORD limitMs, const std::function<bool()>& condition, DWORD stepMs) {
  DWORD start = GetTickCount();
  for (;;) {
    bool holds = false;
    try {
      holds = condition();
    } catch (...) {
      // Not observable yet (a call rejected, a document not there): look again.
    }
    if (holds) return true;
    DWORD elapsed = TicksSince(start);
    if (elapsed >= limitMs) return false;
    DelayWithMessages(std::min(stepMs, limitMs - elapsed));
  }
}

HWND FindWindowLoose(const std::string& windowClass, const std::string& title) {
  const char* className = windowClass.empty() ? nullptr : windowClass.c_str();
  const char* caption = title.empty() ? nullptr : title.c_str();
  if (HWND window = FindWindowA(className, caption)) return window;
  if (className)
    if (HWND window = FindWindowA(className, nullptr)) return window;
  if (caption)
    if (HWND window = FindWindowA(nullptr, caption)) return window;
  return nullptr;
}

void DebugOut(const std::string& text) { OutputDebugStringA(text.c_str()); }

}  // namespace nib

namespace nib {

bool WaitWithMessages(HANDLE handle, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    bool quitting = !ProcessMessages();
    if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) return true;
    if (quitting) return false;
    DWORD elapsed = TicksSince(start);
    if (elapsed >= timeoutMs) return false;
    MsgWaitForMultipleObjectsEx(1, &handle, timeoutMs - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace nib
