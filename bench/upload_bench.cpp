// Uploads a file with the system's uploader and prints the time it took and
// the process's peak working set: upload_bench <url> <file>
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "com/StrConv.h"
#include "services/JustHttp.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  nib::TJustHttp http;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  std::string reply = http.UploadFile(argv[1], argv[2]);
  QueryPerformanceCounter(&end);
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  std::printf("seconds=%.4f peak_kb=%zu delivered=%d\n",
              static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart, memory.PeakWorkingSetSize / 1024,
              http.LastUploadDelivered() ? 1 : 0);
  return http.LastUploadDelivered() ? 0 : 1;
}
