#pragma once
// The one exception type used inside the system: an HRESULT and a message in
// the ANSI (GB2312) code page. COM boundaries turn it into error info.

#include <windows.h>

#include <stdexcept>
#include <string>

namespace nib {

class ComError : public std::runtime_error {
 public:
  explicit ComError(const std::string& message, HRESULT code = E_UNEXPECTED)
      : std::runtime_error(message), code_(code) {}
  HRESULT Code() const { return code_; }

 private:
  HRESULT code_;
};

// Throws ComError when `hr` failed; `where` names the step for the message.
void ThrowIfFailed(HRESULT hr, const char* where);

// Throws ComError carrying GetLastError() when `failed` is true.
void ThrowLastErrorIf(bool failed, const char* where);

[[noreturn]] void Fail(const std::string& message, HRESULT code = E_UNEXPECTED);

// The out-of-process server behind a call has died or disconnected (Word
// ended from the task manager, say): no retry can reach it.
bool IsServerGone(HRESULT hr);

// "0x80004005" style text of an HRESULT, for messages.
std::string HResultText(HRESULT hr);

}  // namespace nib
