#include "services/WindowUtil.h"

namespace nib {

void ProcessMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void DelayWithMessages(DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    ProcessMessages();
    DWORD elapsed = TicksSince(start);
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, ms - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
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
    ProcessMessages();
    if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) return true;
    DWORD elapsed = TicksSince(start);
    if (elapsed >= timeoutMs) return false;
    MsgWaitForMultipleObjectsEx(1, &handle, timeoutMs - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace nib
