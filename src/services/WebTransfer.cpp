#include "services/WebTransfer.h"

#include <objbase.h>
#include <urlmon.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <memory>
#include <vector>

#include "com/Handle.h"
#include "com/StrConv.h"
#include "services/AdminLog.h"
#include "services/Locale.h"
#include "services/TransferReason.h"
#include "services/WebAddress.h"
#include "services/WindowUtil.h"

namespace nib {
namespace {

constexpr DWORD kChunk = 64 * 1024;
// The body goes out in smaller pieces: each one written is a sign of life for
// the stall limit and a step of the progress bar, and a slow line (a few
// hundred bytes a second) still moves one within the limit.
constexpr DWORD kSendChunk = 16 * 1024;
// How often the caller's thread looks at the transfer (progress, cancel, limits).
constexpr DWORD kWatchMs = 100;
constexpr DWORD kStallLimitMs = 60 * 1000;
constexpr int kMaxRedirects = 5;
// Connection-based logons (Negotiate, NTLM) take a round or two; a server
// that keeps asking after that is refusing.
constexpr int kMaxLogonRounds = 3;

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
  ~InternetHandle() { Reset(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset(HINTERNET handle = nullptr) {
    if (handle_) InternetCloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HINTERNET handle_;
};

// The user-agent string of the host's browser, as the page's own requests send it.
std::wstring HostUserAgent() {
  char agent[512];
  DWORD size = sizeof agent;
  if (ObtainUserAgentString(0, agent, &size) == S_OK && agent[0]) return AnsiToWide(std::string(agent), CP_ACP);
  return L"NibWordLib";
}

struct UrlParts {
  std::wstring host, path;
  INTERNET_PORT port = 0;
  bool secure = false;
};

bool CrackUrl(const std::wstring& url, UrlParts& out) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
  out.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  out.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  out.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (out.path.empty()) out.path = L"/";
  out.port = parts.nPort;
  out.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return !out.host.empty();
}

std::wstring Header(HINTERNET request, DWORD which) {
  DWORD size = 0;
  HttpQueryInfoW(request, which, nullptr, &size, nullptr);
  if (size == 0) return L"";
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (!HttpQueryInfoW(request, which, value.data(), &size, nullptr)) return L"";
  return value.c_str();
}

bool IsRedirect(DWORD status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

// A handle of the caller's, duplicated for the worker: a worker left behind
// by a cancel never touches a handle the caller has closed (or whose number
// went to another file since).
UniqueHandle Duplicate(HANDLE handle) {
  HANDLE copy = nullptr;
  if (!handle || !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS))
    return UniqueHandle();
  return UniqueHandle(copy);
}

// One request, run by the worker thread. The caller's thread stops it in two
// steps. Cancel() asks: the worker stops at its next chunk and closes its
// handles itself, so that no call of its is under way on a connection that
// WinINet may hand to the next request (a retry's bytes would then mix with
// the rest of the cancelled body on one connection). Abort(), for a worker
// that did not stop within the grace, closes the handles from the caller's
// thread: that ends a blocked call where WinINet lets it; where it does not
// (a server that took the connection and reads nothing), the caller leaves
// the worker to end on its own.
class Transfer {
 public:
  explicit Transfer(const WebRequest& request)
      : request_(request), url_(request.url), body_(Duplicate(request.body)), sink_(Duplicate(request.sink)) {
    request_.body = body_.Get();
    request_.sink = sink_.Get();
    request_.observer = nullptr;  // the caller's thread alone talks to it
    MarkActivity();
  }

  // Read by the caller's thread while the worker runs.
  TransferProgress Progress() const {
    return TransferProgress{sent_.load(), sendTotal_.load(), received_.load(), receiveTotal_.load()};
  }
  DWORD LastActivity() const { return lastActivity_.load(); }

  bool Usable() const { return (!request_.body || body_) && (!request_.sink || sink_); }

  void Run() {
    for (int hops = 0;; ++hops) {
      if (cancelled_) return;
      if (request_.allows && !request_.allows(url_)) {
        std::lock_guard lock(mutex_);
        result.refused = true;
        return;
      }
      bool answered = Send();
      if (!answered) {
        std::lock_guard lock(mutex_);
        if (!result.error) result.error = GetLastError();
      }
      std::string next = answered && hops < kMaxRedirects ? NextHop() : "";
      Close();
      if (next.empty()) return;
      url_ = next;
      std::lock_guard lock(mutex_);
      result = WebResult{};
    }
  }

  void Cancel() { cancelled_ = true; }

  void Abort() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    handle_.Reset();
    connection_.Reset();
    session_.Reset();
  }

  // The worker's copies of the caller's files, closed before it says it is
  // done: the caller renames, reads or deletes them at once, and a copy still
  // open (the sink is opened without read sharing) would make that fail.
  void ReleaseFiles() {
    request_.body = nullptr;
    request_.sink = nullptr;
    body_.Reset();
    sink_.Reset();
  }

  WebResult result;

 private:
  void MarkActivity() { lastActivity_.store(GetTickCount()); }

  void Close() {
    std::lock_guard lock(mutex_);
    handle_.Reset();
    connection_.Reset();
    session_.Reset();
  }

  // Where a redirect sends the request; empty when the answer is final or
  // the redirect is not one to follow (see RunWebRequest).
  std::string NextHop() {
    bool post = request_.body != nullptr;
    if (!IsRedirect(result.status) || (post && result.status != 307 && result.status != 308)) return "";
    if (location_.empty()) return "";
    // A relative Location is read against the address that answered.
    wchar_t combined[INTERNET_MAX_URL_LENGTH];
    DWORD size = INTERNET_MAX_URL_LENGTH;
    std::wstring base = AnsiToWide(url_);
    if (!InternetCombineUrlW(base.c_str(), location_.c_str(), combined, &size, ICU_NO_ENCODE)) return "";
    std::string target = WideToAnsi(combined);
    bool secure = OriginOf(url_).rfind("https:", 0) == 0;
    if (!IsWebAddress(target) || (secure && OriginOf(target).rfind("https:", 0) != 0)) return "";
    if (post && request_.body) {
      LARGE_INTEGER start{};
      if (!SetFilePointerEx(request_.body, start, nullptr, FILE_BEGIN)) return "";
    }
    // A sink receives only the final answer's body.
    if (request_.sink) {
      LARGE_INTEGER start{};
      if (!SetFilePointerEx(request_.sink, start, nullptr, FILE_BEGIN) || !SetEndOfFile(request_.sink)) return "";
    }
    return target;
  }

  // Opens the session, connection and request; under the lock, so that a
  // cancel in between closes what exists and stops what would follow.
  bool Open(const UrlParts& parts) {
    std::lock_guard lock(mutex_);
    if (cancelled_) return false;
    // The user's Internet settings decide the way (automatic configuration,
    // named proxy, bypass list), as for the browser.
    session_.Reset(InternetOpenW(HostUserAgent().c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session_) return false;
    SetTimeOuts(session_.Get());
    connection_.Reset(InternetConnectW(session_.Get(), parts.host.c_str(), parts.port, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection_) return false;
    SetTimeOuts(connection_.Get());
    // Certificates are checked (no SECURITY_FLAG_IGNORE_*), redirects are
    // judged in Run(), nothing is cached and no dialog is shown from here.
    DWORD flags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD |
                  INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI |
                  (parts.secure ? INTERNET_FLAG_SECURE : 0);
    handle_.Reset(HttpOpenRequestW(connection_.Get(), request_.method, parts.path.c_str(), nullptr, nullptr, nullptr,
                                   flags, 0));
    if (!handle_) return false;
    SetTimeOuts(handle_.Get());
    if (!request_.body) return true;
    std::wstring header = std::wstring(L"Content-Type: ") + request_.contentType + L"\r\n" + request_.extraHeaders;
    return HttpAddRequestHeadersW(handle_.Get(), header.c_str(), static_cast<DWORD>(-1),
                                  HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  }

  // Every level gets them: some WinINet versions do not pass a session's
  // time-outs down to its requests.
  void SetTimeOuts(HINTERNET handle) const {
    DWORD timeOut = static_cast<DWORD>(request_.timeOutMs < 0 ? 0 : request_.timeOutMs);
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
      InternetSetOptionW(handle, option, &timeOut, sizeof timeOut);
  }

  // A body cut short leaves its connection expecting the rest. WinINet may
  // keep such a connection for the next request to the server (Wine's does),
  // whose bytes the server would then read as the rest of this body: ending
  // the request at once, with no time to wait for an answer, makes WinINet
  // drop the connection instead.
  void SpoilConnection(HINTERNET request) {
    DWORD instant = 1;
    InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &instant, sizeof instant);
    HttpEndRequestW(request, nullptr, 0, 0);
  }

  // Sends the request with the whole file as its body, from the file's start.
  bool SendBody(HINTERNET request, DWORD total, std::vector<char>& chunk) {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(request_.body, start, nullptr, FILE_BEGIN)) return false;
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = total;
    sent_ = 0;
    sendTotal_ = total;
    if (!HttpSendRequestExW(request, &buffers, nullptr, 0, 0)) return false;
    MarkActivity();
    for (DWORD sent = 0; sent < total;) {
      if (cancelled_) {
        SpoilConnection(request);
        return false;
      }
      DWORD read = 0, written = 0;
      if (!ReadFile(request_.body, chunk.data(), kSendChunk, &read, nullptr) || read == 0) return false;
      if (!InternetWriteFile(request, chunk.data(), read, &written) || written != read) return false;
      sent += read;
      sent_ = sent;
      MarkActivity();
    }
    return true;
  }

  bool SendRequest(HINTERNET request, std::vector<char>& chunk) {
    if (!request_.body) return HttpSendRequestW(request, nullptr, 0, nullptr, 0);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(request_.body, &size) || size.QuadPart > 0xFFFFFFFFLL) return false;
    DWORD total = static_cast<DWORD>(size.QuadPart);
    // A server asking for the Windows logon makes the end of the request
    // answer "retry": WinINet has added the logon, the body goes again.
    for (int round = 0;; ++round) {
      if (!SendBody(request, total, chunk)) return false;
      if (HttpEndRequestW(request, nullptr, 0, 0)) return true;
      if (GetLastError() != ERROR_INTERNET_FORCE_RETRY || round + 1 >= kMaxLogonRounds) return false;
    }
  }

  bool Send() {
    UrlParts parts;
    if (!CrackUrl(AnsiToWide(url_), parts)) return false;
    if (!Open(parts)) return false;
    HINTERNET request = handle_.Get();
    std::vector<char> chunk(kChunk);
    if (!SendRequest(request, chunk)) return false;
    DWORD status = 0, statusSize = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr))
      return false;
    MarkActivity();
    location_ = Header(request, HTTP_QUERY_LOCATION);
    received_ = 0;
    DWORD announced = 0, announcedSize = sizeof announced;
    receiveTotal_ = HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced,
                                   &announcedSize, nullptr)
                        ? announced
                        : 0;
    std::string contentType = WideToAnsi(Header(request, HTTP_QUERY_CONTENT_TYPE));
    bool toSink = request_.sink && status >= 200 && status < 300;
    std::string body;
    for (;;) {
      if (cancelled_) return false;
      DWORD read = 0;
      if (!InternetReadFile(request, chunk.data(), kChunk, &read)) return false;
      if (read == 0) break;
      received_ += read;
      MarkActivity();
      if (!toSink) {
        body.append(chunk.data(), read);
        continue;
      }
      DWORD written = 0;
      if (!WriteFile(request_.sink, chunk.data(), read, &written, nullptr) || written != read) return false;
    }
    std::lock_guard lock(mutex_);
    result.status = status;
    result.reply = std::move(body);
    result.contentType = std::move(contentType);
    result.delivered = status >= 200 && status < 300;
    return true;
  }

  WebRequest request_;
  std::string url_;
  UniqueHandle body_, sink_;
  std::wstring location_;  // of the last answer
  std::mutex mutex_;
  std::atomic<bool> cancelled_{false};
  InternetHandle session_, connection_, handle_;
  std::atomic<uint64_t> sent_{0}, sendTotal_{0}, received_{0}, receiveTotal_{0};
  std::atomic<DWORD> lastActivity_{0};
};

// What the worker thread holds: the transfer and the event it signals, both
// shared with the caller, who may have gone by the time it ends.
struct WorkerContext {
  std::shared_ptr<Transfer> transfer;
  std::shared_ptr<UniqueHandle> done;
  HMODULE module = nullptr;  // kept loaded while the worker runs
};

DWORD WINAPI WorkerMain(void* parameter) {
  std::unique_ptr<WorkerContext> context(static_cast<WorkerContext*>(parameter));
  // The rule may ask the zone manager, a COM object, about each hop.
  HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  context->transfer->Run();
  context->transfer->ReleaseFiles();
  if (SUCCEEDED(com)) CoUninitialize();
  SetEvent(context->done->Get());
  HMODULE module = context->module;
  context.reset();
  if (module) FreeLibraryAndExitThread(module, 0);
  return 0;
}

// How long a cancelled transfer's worker is waited for before its handles are
// closed under it and it is left to end by itself.
constexpr DWORD kCancelGraceMs = 1000;

enum class WaitEnd { kFinished, kTimedOut, kStalled, kCancelled, kQuit };

// The caller's side of a transfer: waits for the worker, dispatching the
// thread's messages when asked, and ends the wait at the first limit reached.
WaitEnd WatchTransfer(const WebRequest& request, Transfer& transfer, HANDLE done) {
  DWORD start = GetTickCount();
  DWORD limit = static_cast<DWORD>(request.timeOutMs < 0 ? 0 : request.timeOutMs);
  for (;;) {
    if (request.pumpMessages && !ProcessMessages()) return WaitEnd::kQuit;
    if (WaitForSingleObject(done, 0) == WAIT_OBJECT_0) return WaitEnd::kFinished;
    DWORD elapsed = TicksSince(start);
    if (elapsed >= limit) return WaitEnd::kTimedOut;
    if (request.stallMs && TicksSince(transfer.LastActivity()) >= request.stallMs) return WaitEnd::kStalled;
    if (request.observer) {
      request.observer->OnProgress(transfer.Progress());
      if (request.observer->CancelRequested()) return WaitEnd::kCancelled;
    }
    DWORD wait = std::min<DWORD>(kWatchMs, limit - elapsed);
    if (request.pumpMessages)
      MsgWaitForMultipleObjectsEx(1, &done, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    else
      WaitForSingleObject(done, wait);
  }
}

void LogTransfer(const WebRequest& request, const WebResult& result) {
  std::string line = WideToAnsi(request.method) + " " + AddressForLog(request.url);
  line += result.status ? " -> HTTP " + std::to_string(result.status) : std::string(" -> no answer");
  if (result.post) line += ", sent " + std::to_string(result.progress.sent) + " of " +
                           std::to_string(result.progress.sendTotal) + " bytes";
  line += ", received " + std::to_string(result.progress.received) + " bytes, " + std::to_string(result.elapsedMs) +
          " ms";
  // The log reads the system's code page: on a Big5 system the reason is turned to Big5 first.
  if (!result.delivered) line += ", failed: " + UiText(TransferFailureReason(result));
  AdminLog(line);
}

}  // namespace

DWORD DefaultStallLimitMs() {
  wchar_t value[32];
  DWORD length = GetEnvironmentVariableW(L"NIBWORD_STALL_LIMIT_MS", value, 32);
  if (length == 0 || length >= 32) return kStallLimitMs;
  wchar_t* end = nullptr;
  unsigned long ms = wcstoul(value, &end, 10);
  return end && *end == L'\0' && ms > 0 ? static_cast<DWORD>(ms) : kStallLimitMs;
}


WebResult RunWebRequest(const WebRequest& request) {
  if (!IsWebAddress(request.url)) {
    WebResult refused;
    refused.refused = true;
    refused.post = request.body != nullptr;
    LogTransfer(request, refused);
    return refused;
  }
  WebRequest trimmed = request;
  trimmed.url = TrimAddress(request.url);
  auto transfer = std::make_shared<Transfer>(trimmed);
  auto done = std::make_shared<UniqueHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!*done || !transfer->Usable()) {
    WebResult failed;
    failed.error = GetLastError();
    return failed;
  }
  auto context = std::make_unique<WorkerContext>(WorkerContext{transfer, done, nullptr});
  // In the DLL, the worker holds a reference to it: a page that lets the
  // library go while a left-behind worker still waits must not unload its code.
  HMODULE self = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&WorkerMain), &self) &&
      self != GetModuleHandleW(nullptr))
    context->module = self;
  else if (self)
    FreeLibrary(self);
  UniqueHandle thread(CreateThread(nullptr, 0, WorkerMain, context.get(), 0, nullptr));
  if (!thread) {
    WebResult failed;
    failed.error = GetLastError();
    if (context->module) FreeLibrary(context->module);
    return failed;
  }
  context.release();  // the worker's now
  DWORD start = GetTickCount();
  WaitEnd end = WatchTransfer(trimmed, *transfer, done->Get());
  if (end != WaitEnd::kFinished) {
    transfer->Cancel();
    if (WaitForSingleObject(done->Get(), kCancelGraceMs) != WAIT_OBJECT_0) {
      transfer->Abort();
      WaitForSingleObject(done->Get(), kCancelGraceMs);
    }
  }
  WebResult result;
  if (end == WaitEnd::kFinished) result = std::move(transfer->result);
  TransferProgress progress = transfer->Progress();
  if (end == WaitEnd::kStalled || end == WaitEnd::kCancelled) {
    result = WebResult{};
    result.stalled = end == WaitEnd::kStalled;
    result.cancelled = end == WaitEnd::kCancelled;
    result.error = end == WaitEnd::kStalled ? ERROR_INTERNET_TIMEOUT : ERROR_CANCELLED;
  } else if (end != WaitEnd::kFinished || result.error == ERROR_INTERNET_TIMEOUT) {
    result = WebResult{};
    result.timedOut = true;
    result.error = ERROR_INTERNET_TIMEOUT;
  }
  result.post = trimmed.body != nullptr;
  result.timeOutMs = trimmed.timeOutMs;
  result.stallMs = trimmed.stallMs;
  result.progress = progress;
  result.elapsedMs = TicksSince(start);
  if (trimmed.observer) trimmed.observer->OnProgress(progress);
  LogTransfer(trimmed, result);
  return result;
}

}  // namespace nib
