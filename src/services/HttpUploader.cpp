#include "services/HttpUploader.h"

#include <winhttp.h>

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

class WinHttpHandle {
 public:
  explicit WinHttpHandle(HINTERNET handle = nullptr) : handle_(handle) {}
  ~WinHttpHandle() { Reset(); }
  WinHttpHandle(const WinHttpHandle&) = delete;
  WinHttpHandle& operator=(const WinHttpHandle&) = delete;
  HINTERNET Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset(HINTERNET handle = nullptr) {
    if (handle_) WinHttpCloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HINTERNET handle_;
};

// The proxy the user's Internet settings name for `url`, as the page's own
// requests take it: automatic configuration where it is set, else the named
// proxy with its bypass list; none means a direct connection.
class UserProxy {
 public:
  explicit UserProxy(const std::wstring& url) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&settings)) return;
    // The automatic configuration is asked through a session of its own.
    WinHttpHandle session(settings.fAutoDetect || settings.lpszAutoConfigUrl
                              ? WinHttpOpen(L"NibWordLib", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                            WINHTTP_NO_PROXY_BYPASS, 0)
                              : nullptr);
    if (session) {
      WINHTTP_AUTOPROXY_OPTIONS options{};
      if (settings.lpszAutoConfigUrl) {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = settings.lpszAutoConfigUrl;
      }
      if (settings.fAutoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
      }
      options.fAutoLogonIfChallenged = TRUE;
      WINHTTP_PROXY_INFO found{};
      if (WinHttpGetProxyForUrl(session.Get(), url.c_str(), &options, &found)) {
        Keep(found.dwAccessType, found.lpszProxy, found.lpszProxyBypass);
        Free(found.lpszProxy);
        Free(found.lpszProxyBypass);
      }
    }
    // No automatic answer: the named proxy, when there is one.
    if (!found_ && settings.lpszProxy) Keep(WINHTTP_ACCESS_TYPE_NAMED_PROXY, settings.lpszProxy, settings.lpszProxyBypass);
    Free(settings.lpszAutoConfigUrl);
    Free(settings.lpszProxy);
    Free(settings.lpszProxyBypass);
  }

  // A session that takes this way: through the proxy, or direct.
  HINTERNET OpenSession() const {
    if (!found_ || accessType_ != WINHTTP_ACCESS_TYPE_NAMED_PROXY)
      return WinHttpOpen(L"NibWordLib", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    return WinHttpOpen(L"NibWordLib", WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy_.c_str(),
                       bypass_.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass_.c_str(), 0);
  }

 private:
  void Keep(DWORD accessType, const wchar_t* proxy, const wchar_t* bypass) {
    if (!proxy || !*proxy) return;
    found_ = true;
    accessType_ = accessType;
    proxy_ = proxy;
    bypass_ = bypass ? bypass : L"";
  }
  static void Free(wchar_t* text) {
    if (text) GlobalFree(text);
  }

  bool found_ = false;
  DWORD accessType_ = WINHTTP_ACCESS_TYPE_NO_PROXY;
  std::wstring proxy_, bypass_;
};

// One request, run by the worker thread. Cancel() may be called from the
// page's thread: closing the request handle ends a blocked WinHTTP call.
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
  }

  UploadResult result;

 private:
  static constexpr int kMaxRedirects = 5;

  // Where a 307/308 answer sends the body again; empty for any other answer.
  std::wstring RepeatTarget() {
    if (result.status != 307 && result.status != 308) return L"";
    std::wstring location = location_;
    if (!location.empty() && location[0] == L'/') {
      URL_COMPONENTS parts{};
      parts.dwStructSize = sizeof parts;
      parts.dwSchemeLength = parts.dwHostNameLength = static_cast<DWORD>(-1);
      if (!WinHttpCrackUrl(url_.c_str(), 0, 0, &parts)) return L"";
      location = std::wstring(parts.lpszScheme, parts.dwSchemeLength) + L"://" +
                 std::wstring(parts.lpszHostName, parts.dwHostNameLength) + L":" + std::to_wstring(parts.nPort) +
                 location;
    }
    std::string target = WideToAnsi(location);
    bool secure = _wcsnicmp(url_.c_str(), L"https:", 6) == 0;
    if (!IsWebAddress(target) || (secure && _strnicmp(target.c_str(), "https:", 6) != 0)) return L"";
    return location;
  }

  bool Send() {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url_.c_str(), 0, 0, &parts)) return false;
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";
    bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_, &size) || size.QuadPart > 0xFFFFFFFFLL) return false;
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file_, start, nullptr, FILE_BEGIN)) return false;
    {
      std::lock_guard lock(mutex_);
      if (cancelled_) return false;
      // The way the user's Internet settings name. Certificates are validated
      // (WinHTTP's default) and redirects never go from https to http.
      session_.Reset(UserProxy(url_).OpenSession());
      if (!session_) return false;
      WinHttpSetTimeouts(session_.Get(), timeOut_, timeOut_, timeOut_, timeOut_);
      connection_.Reset(WinHttpConnect(session_.Get(), host.c_str(), parts.nPort, 0));
      if (!connection_) return false;
      request_.Reset(WinHttpOpenRequest(connection_.Get(), L"POST", path.c_str(), nullptr,
                                                  WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                  secure ? WINHTTP_FLAG_SECURE : 0));
      if (!request_) return false;
      // The wait for the answer has a time-out of its own, infinite unless set.
      DWORD responseTimeOut = static_cast<DWORD>(timeOut_);
      WinHttpSetOption(request_.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeOut,
                       sizeof responseTimeOut);
      DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;  // redirects are judged above
      WinHttpSetOption(request_.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
    }
    HINTERNET request = request_.Get();
    DWORD total = static_cast<DWORD>(size.QuadPart);
    if (!WinHttpSendRequest(request, L"Content-Type: text/html", static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0,
                            total, 0))
      return false;
    std::vector<char> chunk(kChunk);
    for (DWORD sent = 0; sent < total;) {
      DWORD read = 0, written = 0;
      if (!ReadFile(file_, chunk.data(), kChunk, &read, nullptr) || read == 0) return false;
      if (!WinHttpWriteData(request, chunk.data(), read, &written) || written != read) return false;
      sent += read;
    }
    if (!WinHttpReceiveResponse(request, nullptr)) return false;
    DWORD status = 0, statusSize = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &status, &statusSize, WINHTTP_NO_HEADER_INDEX))
      return false;
    location_.clear();
    DWORD locationSize = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &locationSize, WINHTTP_NO_HEADER_INDEX);
    if (locationSize > 0) {
      std::wstring location(locationSize / sizeof(wchar_t) + 1, L'\0');
      if (WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, location.data(),
                              &locationSize, WINHTTP_NO_HEADER_INDEX))
        location_ = location.c_str();
    }
    std::string body;
    for (;;) {
      DWORD read = 0;
      if (!WinHttpReadData(request, chunk.data(), kChunk, &read)) return false;
      if (read == 0) break;
      body.append(chunk.data(), read);
    }
    std::lock_guard lock(mutex_);
    result.status = status;
    result.reply = std::move(body);
    result.delivered = status >= 200 && status < 300;
    return true;
  }

  std::wstring url_;
  std::wstring location_;  // of the last answer
  HANDLE file_;
  int timeOut_;
  std::mutex mutex_;
  bool cancelled_ = false;
  WinHttpHandle session_, connection_, request_;
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
  if (!finished || result.error == ERROR_WINHTTP_TIMEOUT) {
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
