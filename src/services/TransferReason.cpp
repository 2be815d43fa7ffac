#include "services/TransferReason.h"

#include <wininet.h>

#include <cctype>

#include "com/StrConv.h"
#include "services/TextUtil.h"

namespace nib {
namespace {

std::string Number(unsigned long long value) { return std::to_string(value); }

// A few entities an error page uses; the rest is shown as written.
void DecodeEntity(std::wstring& out, const std::wstring& entity) {
  if (entity == L"amp") out += L'&';
  else if (entity == L"lt") out += L'<';
  else if (entity == L"gt") out += L'>';
  else if (entity == L"quot") out += L'"';
  else if (entity == L"nbsp" || entity == L"#160") out += L' ';
  else out += L"&" + entity + L";";
}

// Markup out, the text of the page in: tags (and what script and style
// elements hold) removed, every run of blanks and line breaks one space.
std::wstring PlainText(const std::wstring& html) {
  std::wstring out;
  bool space = false;
  for (size_t i = 0; i < html.size(); ++i) {
    wchar_t c = html[i];
    if (c == L'<') {
      size_t close = html.find(L'>', i);
      if (close == std::wstring::npos) break;
      std::wstring tag = html.substr(i + 1, close - i - 1);
      for (wchar_t& t : tag) t = static_cast<wchar_t>(towlower(t));
      for (const wchar_t* skipped : {L"script", L"style"}) {
        if (tag.rfind(skipped, 0) != 0) continue;
        size_t end = html.find(std::wstring(L"</") + skipped, close);
        close = end == std::wstring::npos ? html.size() - 1 : html.find(L'>', end);
        if (close == std::wstring::npos) close = html.size() - 1;
      }
      i = close;
      space = !out.empty();
      continue;
    }
    if (c == L'&') {
      size_t semicolon = html.find(L';', i);
      if (semicolon != std::wstring::npos && semicolon - i <= 8) {
        if (space) out += L' ';
        space = false;
        DecodeEntity(out, html.substr(i + 1, semicolon - i - 1));
        i = semicolon;
        continue;
      }
    }
    if (c <= L' ') {
      space = !out.empty();
      continue;
    }
    if (space) out += L' ';
    space = false;
    out += c;
  }
  return out;
}

std::string WordsFor(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT:
      return Gb("无法连接服务器");
    case ERROR_INTERNET_TIMEOUT:
      return Gb("超时");
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
      return Gb("连接被中断");
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case ERROR_SUCCESS:  // the connection closed before any answer, and WinINet named no error
      return Gb("服务器没有回答");
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
      return Gb("证书不受信任");
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
      return Gb("服务器要求客户证书");
    default:
      return Gb("网络错误");
  }
}

}  // namespace

UINT CodePageOfCharset(std::string name) {
  for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (name == "gb2312" || name == "gbk" || name == "gb18030" || name == "cp936") return 936;
  if (name == "big5" || name == "cp950") return 950;
  if (name == "utf-8" || name == "utf8") return CP_UTF8;
  if (name == "iso-8859-1" || name == "latin1") return 28591;
  if (name == "windows-1252") return 1252;
  if (name == "us-ascii") return 20127;
  return 0;
}

UINT CodePageOfContentType(const std::string& contentType) {
  std::string charset = TextAfter(contentType, "charset=");
  charset = TrimBlanks(TextBefore(charset + ";", ";"));
  if (!charset.empty() && charset.front() == '"') charset = TextBetween(charset, "\"", "\"");
  return CodePageOfCharset(charset);
}

std::string ReplyAsText(const std::string& body, const std::string& contentType, size_t maxChars) {
  try {
    std::string head = body.substr(0, 64 * 1024);
    UINT page = CodePageOfContentType(contentType);
    std::wstring wide;
    if (page) {
      wide = AnsiToWide(head, page);
    } else if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, head.data(), static_cast<int>(head.size()), nullptr,
                                   0) > 0) {
      wide = AnsiToWide(head, CP_UTF8);
    } else {
      wide = AnsiToWide(head, CP_ACP);
    }
    std::wstring text = PlainText(wide);
    if (text.size() > maxChars) {
      size_t cut = maxChars;
      if (cut > 0 && IS_HIGH_SURROGATE(text[cut - 1])) --cut;  // never half a character
      text = text.substr(0, cut) + L"...";
    }
    return WideToAnsi(text, kGbCodePage);
  } catch (...) {
    return "";
  }
}

std::string TransferFailureReason(const WebResult& result) {
  if (result.cancelled) return Gb("用户取消");
  if (result.stalled)
    return Gb("超时: ") + Number(result.stallMs / 1000) + Gb(" 秒内服务器没有收发任何数据");
  if (result.timedOut) return Gb("超时: 未能在 ") + Number(static_cast<unsigned>(result.timeOutMs)) + Gb(" 毫秒内完成");
  if (result.refused) return Gb("目标地址不在允许访问的范围内");
  if (result.status) {
    bool toGet = result.status == 301 || result.status == 302 || result.status == 303;
    if (result.post && toGet) return Gb("被重定向到登录页 (HTTP ") + Number(result.status) + ")";
    if (result.status >= 300 && result.status < 400) return Gb("被重定向 (HTTP ") + Number(result.status) + ")";
    std::string said = ReplyAsText(result.reply, result.contentType);
    return Gb("服务器回答 HTTP ") + Number(result.status) + (said.empty() ? "" : ": " + said);
  }
  return WordsFor(result.error) + " (WinINet " + Number(result.error) + ")";
}

}  // namespace nib
