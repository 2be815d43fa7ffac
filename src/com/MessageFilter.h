#pragma once
// The page's thread's OLE message filter while an edit cycle runs. Word
// rejects calls from outside while one of its dialogs is open (the insert-file
// dialog, a save question) and asks callers to retry while it is busy: such
// calls are retried, the page's messages flowing meanwhile, for a bounded
// time, and then fail (RPC_E_CALL_REJECTED) instead of failing at once.

#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <string>

namespace nib {

inline constexpr DWORD kRejectedCallRetryMs = 15000;
inline constexpr DWORD kRejectedCallPauseMs = 100;  // cheap: a person closes Word's dialog

// A call Word still refused after the retries.
bool IsRejectedCall(HRESULT hr);
// What the user is told then (GB2312).
std::string RejectedCallText();

// Registers the filter for its lifetime on the calling (single-threaded
// apartment) thread and gives the thread's previous filter back at its end.
class ScopedMessageFilter {
 public:
  explicit ScopedMessageFilter(DWORD retryLimitMs = kRejectedCallRetryMs);
  ~ScopedMessageFilter();
  ScopedMessageFilter(const ScopedMessageFilter&) = delete;
  ScopedMessageFilter& operator=(const ScopedMessageFilter&) = delete;

 private:
  Microsoft::WRL::ComPtr<IMessageFilter> ours_;
  Microsoft::WRL::ComPtr<IMessageFilter> previous_;
  bool registered_ = false;
};

}  // namespace nib
