// CPU used by a 2 s DelayWithMessages: the wait must sleep, not spin.
#include <windows.h>

#include <cstdio>

#include "services/WindowUtil.h"

namespace {
double CpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e4; };
  return ms(kernel) + ms(user);
}
}  // namespace

int main() {
  // A timer keeps messages coming during the wait, as a page's thread has.
  SetTimer(nullptr, 0, 50, nullptr);
  double cpuBefore = CpuMs();
  DWORD start = GetTickCount();
  nib::DelayWithMessages(2000);
  DWORD wall = GetTickCount() - start;
  std::printf("cpu_ms=%.1f wall_ms=%lu\n", CpuMs() - cpuBefore, static_cast<unsigned long>(wall));
  return 0;
}
