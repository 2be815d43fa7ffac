#pragma once
// One HTTP request through WinINet, the stack of the browser and the page's
// own requests: the process's cookies (the session a download opened and
// those the browser stored), the Windows logon of intranet servers, the
// user's proxy settings and certificate trust come with it. Every transfer of
// the system (download, XML fetch, upload, the launcher's job and event posts)
// goes through here, so that one rule judges the first address and every
// redirect hop: WinINet's own redirects are off, each hop is followed here.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace nib {

// True when a transfer may reach the address (the first one and each hop).
using AddressRule = std::function<bool(const std::string& url)>;

// How far a transfer has come: bytes of the body sent (of its size) and of
// the reply received (of its announced length, 0 when none was announced).
struct TransferProgress {
  uint64_t sent = 0, sendTotal = 0, received = 0, receiveTotal = 0;
};

// Watches a transfer from the caller's thread, about ten times a second:
// the progress window's figures and its cancel button.
class TransferObserver {
 public:
  virtual ~TransferObserver() = default;
  virtual void OnProgress(const TransferProgress& progress) = 0;
  // True once the user asked to stop: the transfer ends, cancelled.
  virtual bool CancelRequested() = 0;
};

// How long a transfer may move no byte before it counts as failed, when the
// caller set no time-out of its own: 60 s. NIBWORD_STALL_LIMIT_MS in the
// environment replaces it, so that tests of a stalled server take seconds.
DWORD DefaultStallLimitMs();

struct WebRequest {
  std::string url;
  const wchar_t* method = L"GET";
  HANDLE body = nullptr;   // POST: the open file sent from its start, as the raw body
  const wchar_t* contentType = L"text/html";  // of the body
  std::wstring extraHeaders;  // more request headers, each ending in "\r\n"
  HANDLE sink = nullptr;   // where the reply's body is written; null keeps it in `reply`
  int timeOutMs = 30000;   // over the whole request
  DWORD stallMs = 0;       // fails the request once no byte moved for this long; 0: no such limit
  TransferObserver* observer = nullptr;
  bool pumpMessages = false;  // the caller's thread keeps dispatching its window messages meanwhile
  AddressRule allows;      // empty: every web address
};

struct WebResult {
  std::string reply;        // the reply body when no sink was given (raw bytes)
  std::string contentType;  // of the reply
  DWORD status = 0;         // HTTP status of the last answer, 0 when there was none
  DWORD error = 0;          // WinINet or system error when the transfer failed
  bool delivered = false;   // the request completed with a 2xx answer
  bool refused = false;     // the address or a redirect hop broke the rule: nothing was sent there
  bool timedOut = false;    // the whole-request time-out passed
  bool stalled = false;     // no byte moved within the stall limit
  bool cancelled = false;   // the observer asked to stop
  bool post = false;        // the request carried a body
  int timeOutMs = 0;        // the request's limits, for the reason told to the user
  DWORD stallMs = 0;
  TransferProgress progress;
  DWORD elapsedMs = 0;
};

// Runs the request on a worker thread. Redirects: a GET follows 301, 302,
// 303, 307 and 308; a POST follows only 307 and 308, which keep the method
// and the body (the others turn it into a GET, typically towards a login
// page, and end the upload undelivered); at most five hops, never from https
// down to http. The observer, if any, is called on the caller's thread.
// Each request leaves a line in the administrators' log. Never throws.
WebResult RunWebRequest(const WebRequest& request);

}  // namespace nib
