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

namespace nib {

bool IsServerGone(HRESULT hr) {
  return hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) || hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
         hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE) || hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_DIED ||
         hr == RPC_E_SERVER_DIED_DNE || hr == CO_E_OBJNOTCONNECTED;
}

}  // namespace nib
