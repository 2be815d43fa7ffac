#include "com/ComError.h"

#include <cstdio>

namespace nib {

std::string HResultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

void ThrowIfFailed(HRESULT hr, const char* where) {
  if (FAILED(hr)) throw ComError(std::string(where) + " failed (" + HResultText(hr) + ")", hr);
}

void ThrowLastErrorIf(bool failed, const char* where) {
  if (!failed) return;
  DWORD error = GetLastError();
  HRESULT hr = error ? HRESULT_FROM_WIN32(error) : E_FAIL;
  throw ComError(std::string(where) + " failed (" + HResultText(hr) + ")", hr);
}

void Fail(const std::string& message, HRESULT code) { throw ComError(message, code); }

}  // namespace nib
