#include "services/XMLHttpWrapU.h"

#include "com/ComError.h"
#include "com/StrConv.h"
#include "services/TextUtil.h"
#include "services/WebAddress.h"

#include <cctype>
#include <string>

namespace nib {
namespace {

// The code page a reply's bytes are written in: the charset the server names,
// else the XML declaration's encoding, else UTF-8 (XML's default).
UINT ReplyCodePage(const std::string& contentType, const std::string& body) {
  auto named = [](std::string name) -> UINT {
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (name == "gb2312" || name == "gbk" || name == "gb18030" || name == "cp936") return 936;
    if (name == "big5" || name == "cp950") return 950;
    if (name == "utf-8" || name == "utf8") return CP_UTF8;
    if (name == "iso-8859-1" || name == "latin1") return 28591;
    if (name == "windows-1252") return 1252;
    if (name == "us-ascii") return 20127;
    return 0;
  };
  std::string charset = TextAfter(contentType, "charset=");
  charset = TrimBlanks(TextBefore(charset + ";", ";"));
  if (!charset.empty() && charset.front() == '"') charset = TextBetween(charset, "\"", "\"");
  if (UINT page = named(charset)) return page;
  std::string declaration = TextBetween(body.substr(0, 256), "<?xml", "?>");
  std::string encoding = TextAfter(declaration, "encoding=");
  if (!encoding.empty()) encoding = TextBetween(encoding, encoding.substr(0, 1), encoding.substr(0, 1));
  if (UINT page = named(encoding)) return page;
  return CP_UTF8;
}

}  // namespace

std::string TXMLHttpWrap::GetText(const std::string& url) {
  if (!IsWebAddress(url)) Fail("GET " + url + ": only http and https addresses are fetched", E_ACCESSDENIED);
  WebRequest request;
  request.url = url;
  request.timeOutMs = kTimeOutMs;
  request.allows = allows_;
  WebResult reply = RunWebRequest(request);
  if (reply.refused) Fail("GET " + url + ": the address or a redirect is not one this page may reach", E_ACCESSDENIED);
  if (reply.timedOut) Fail("GET " + url + ": no answer in time", HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  // A server's error page (a refused session, a missing file) is not the data.
  if (!reply.status) Fail("GET " + url + ": the server could not be reached", HRESULT_FROM_WIN32(reply.error));
  if (!reply.delivered) Fail("GET " + url + ": the server answered " + std::to_string(reply.status), E_FAIL);
  std::wstring text = AnsiToWide(reply.reply, ReplyCodePage(reply.contentType, reply.reply));
  if (!text.empty() && text.front() == 0xFEFF) text.erase(0, 1);
  return WideToAnsi(text);
}

}  // namespace nib
