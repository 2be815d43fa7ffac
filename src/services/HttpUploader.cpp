#include "services/HttpUploader.h"

#include <urlmon.h>
#include <wininet.h>

#include <mutex>
#include <thread>
#include <vector>

#include "com/Handle.h"
#include "com/StrConv.h"
#include "services/Locale.h"
#include "services/TextUtil.h"
#include "services/WindowUtil.h"

namespace nib {
namespace {

constexpr DWORD kChunk = 64 * 1024;
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
  std::wstring scheme, host, path;
  INTERNET_PORT port = 0;
  bool secure = false;
};

bool CrackUrl(const std::wstring& url, UrlParts& out) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
      static_cast<DWORD>(-1);
  if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts)) return false;
  out.scheme.assign(parts.lpszScheme, parts.dwSchemeLength);
  out.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  out.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  out.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (out.path.empty()) out.path = L"/";
  out.port = parts.nPort;
  out.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return true;
}

// One request, run by the worker thread. It goes through WinINet, the stack
// the browser and the page's own downloads use: the process's cookies (the
// session the download opened, and those the browser stored), the Windows
// logon for intranet servers, the user's proxy settings and certificate
// trust all come with it. Cancel() may be called from the page's thread:
// closing the handles ends a blocked call.
class Transfer {
 public:
  Transfer(std::wstring url, HANDLE file, int timeOutMs) : url_(std::move(url)), file_(file), timeOut_(timeOutMs) {}

  void Run() {
    // A 307 or 308 keeps the method and the body: followed, a few times at
    // most, never from https down to http. Every other redirect (301, 302,
    // 303 turn a POST into a GET, typically towards a login page) ends the
    // upload undelivered: the page behind it must never pass for a reply.
    for (int hops = 0;; ++hops) {
      bool sent = Send();
      if (!sent) {
        std::lock_guard lock(mutex_);
        if (!result.error) result.error = GetLastError();
      }
      std::wstring next = sent && hops < kMaxRedirects ? RepeatTarget() : L"";
      {
        std::lock_guard lock(mutex_);
        request_.Reset();
        connection_.Reset();
        session_.Reset();
      }
      if (next.empty()) return;
      url_ = next;
      result = UploadResult{};
    }
  }

  void Cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    request_.Reset();
    connection_.Reset();
    session_.Reset();
  }

  UploadResult result;

 private:
  static constexpr int kMaxRedirects = 5;

  // Where a 307/308 answer sends the body again; empty for any other answer.
  std::wstring RepeatTarget() {
    if (result.status != 307 && result.status != 308) return L"";
    std::wstring location = location_;
    UrlParts current;
    if (!location.empty() && location[0] == L'/') {
      if (!CrackUrl(url_, current)) return L"";
      location = current.scheme + L"://" + current.host + L":" + std::to_wstring(current.port) + location;
    }
    std::string target = WideToAnsi(location);
    bool secure = _wcsnicmp(url_.c_str(), L"https:", 6) == 0;
    if (!IsWebAddress(target) || (secure && _strnicmp(target.c_str(), "https:", 6) != 0)) return L"";
    return location;
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
    request_.Reset(HttpOpenRequestW(connection_.Get(), L"POST", parts.path.c_str(), nullptr, nullptr, nullptr, flags, 0));
    if (!request_) return false;
    SetTimeOuts(request_.Get());
    return HttpAddRequestHeadersW(request_.Get(), L"Content-Type: text/html\r\n", static_cast<DWORD>(-1),
                                  HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  }

  // Every level gets them: some WinINet versions do not pass a session's
  // time-outs down to its requests.
  void SetTimeOuts(HINTERNET handle) const {
    DWORD timeOut = static_cast<DWORD>(timeOut_);
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
      InternetSetOptionW(handle, option, &timeOut, sizeof timeOut);
  }

  // Sends the whole file as the body, from its start.
  bool SendBody(HINTERNET request, DWORD total, std::vector<char>& chunk) {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file_, start, nullptr, FILE_BEGIN)) return false;
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = total;
    if (!HttpSendRequestExW(request, &buffers, nullptr, 0, 0)) return false;
    for (DWORD sent = 0; sent < total;) {
      DWORD read = 0, written = 0;
      if (!ReadFile(file_, chunk.data(), kChunk, &read, nullptr) || read == 0) return false;
      if (!InternetWriteFile(request, chunk.data(), read, &written) || written != read) return false;
      sent += read;
    }
    return true;
  }

  bool Send() {
    UrlParts parts;
    if (!CrackUrl(url_, parts)) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_, &size) || size.QuadPart > 0xFFFFFFFFLL) return false;
    if (!Open(parts)) return false;
    HINTERNET request = request_.Get();
    DWORD total = static_cast<DWORD>(size.QuadPart);
    std::vector<char> chunk(kChunk);
    // A server asking for the Windows logon makes the end of the request
    // answer "retry": WinINet has added the logon, the body goes again.
    for (int round = 0;; ++round) {
      if (!SendBody(request, total, chunk)) return false;
      if (HttpEndRequestW(request, nullptr, 0, 0)) break;
      if (GetLastError() != ERROR_INTERNET_FORCE_RETRY || round + 1 >= kMaxLogonRounds) return false;
    }
    DWORD status = 0, statusSize = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr))
      return false;
    location_ = Header(request, HTTP_QUERY_LOCATION);
    std::string body;
    for (;;) {
      DWORD read = 0;
      if (!InternetReadFile(request, chunk.data(), kChunk, &read)) return false;
      if (read == 0) break;
      body.append(chunk.data(), read);
    }
    std::lock_guard lock(mutex_);
    result.status = status;
    result.reply = std::move(body);
    result.delivered = status >= 200 && status < 300;
    return true;
  }

  static std::wstring Header(HINTERNET request, DWORD which) {
    DWORD size = 0;
    HttpQueryInfoW(request, which, nullptr, &size, nullptr);
    if (size == 0) return L"";
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!HttpQueryInfoW(request, which, value.data(), &size, nullptr)) return L"";
    return value.c_str();
  }

  std::wstring url_;
  std::wstring location_;  // of the last answer
  HANDLE file_;
  int timeOut_;
  std::mutex mutex_;
  bool cancelled_ = false;
  InternetHandle session_, connection_, request_;
};

}  // namespace

std::string UnreachableTargetMessage() { return Gb("Http请求未成功,可能是目标地址不可用,请与管理员联系!"); }

UploadResult THttpUploader::PostFile(const std::string& url, HANDLE file, bool trim) {
  if (!IsWebAddress(url)) {
    // Not a server of the page's: a failed transfer, told as one.
    std::wstring message = AnsiToWide(UiText(UnreachableTargetMessage()));
    MessageBoxW(nullptr, message.c_str(), L"NibWordLib", MB_OK);
    return UploadResult{};
  }
  int timeOut = timeOutMs_ < 0 ? 0 : timeOutMs_;
  Transfer transfer(AnsiToWide(url), file, timeOut);
  UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread worker([&] {
    transfer.Run();
    SetEvent(done.Get());
  });
  // The page's thread keeps its window messages flowing while the body goes out.
  bool finished = WaitWithMessages(done.Get(), static_cast<DWORD>(timeOut));
  if (!finished) transfer.Cancel();
  worker.join();

  UploadResult result = std::move(transfer.result);
  if (!finished || result.error == ERROR_INTERNET_TIMEOUT) {
    // Past the time-out: an empty reply and nothing to tell the user here.
    return UploadResult{};
  }
  if (!result.delivered) {
    result.reply.clear();
    std::wstring message = AnsiToWide(UiText(UnreachableTargetMessage()));
    MessageBoxW(nullptr, message.c_str(), L"NibWordLib", MB_OK);
    return result;
  }
  if (trim) result.reply = TrimBlanks(result.reply);
  return result;
}

}  // namespace nib
