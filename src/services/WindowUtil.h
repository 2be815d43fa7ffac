#pragma once
// Waits that keep the thread's window messages flowing, the wait cursor, and window lookups.

#include <windows.h>

#include <functional>
#include <string>

namespace nib {

// Returns after `ms` milliseconds, dispatching the thread's messages meanwhile
// (timers, window messages and incoming COM calls all run inside). Sleeps
// between messages rather than spinning; 0 processes the queue once. A
// WM_QUIT ends the wait early and is posted again for the thread's own loop.
void DelayWithMessages(DWORD ms);

// Waits, dispatching the thread's messages, until `condition` holds or
// `limitMs` have passed; looks every `stepMs` (and at once). `limitMs` is the
// time the step was always given: what the wait is for may take that long on
// a slow machine, but once it can be seen there is nothing left to wait for.
// True when the condition held. A condition that throws counts as not yet.
bool WaitUntil(DWORD limitMs, const std::function<bool()>& condition, DWORD stepMs = 20);

// The hourglass while the thread works, the previous cursor afterwards.
class WaitCursor {
 public:
  WaitCursor() : previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { SetCursor(previous_ ? previous_ : LoadCursorW(nullptr, IDC_ARROW)); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  HCURSOR previous_;
};
// Dispatches every message waiting in the thread's queue. False when it met
// a WM_QUIT: that is posted again, unhandled, for the thread's own loop.
bool ProcessMessages();

// FindWindowA with class and title; else with the class alone; else with the title alone.
HWND FindWindowLoose(const std::string& windowClass, const std::string& title);

void DebugOut(const std::string& text);

// Milliseconds from `start` to now, correct across the tick counter's wrap-around.
inline DWORD TicksSince(DWORD start) { return GetTickCount() - start; }

}  // namespace nib

namespace nib {

// Waits up to `timeoutMs` for `handle` to be signalled, dispatching the
// thread's messages meanwhile. True when it was signalled.
bool WaitWithMessages(HANDLE handle, DWORD timeoutMs);

}  // namespace nib
