#include "services/XMLHttpWrapU.h"

#include "com/ComError.h"
#include "com/StrConv.h"
#include "services/TextUtil.h"
#include "services/TransferReason.h"
#include "services/WebAddress.h"

#include <cctype>
#include <string>

namespace nib {
namespace {

// The code page a reply's bytes are written in: the charset the server names,
// else the XML declaration's encoding, else UTF-8 (XML's default).
UINT ReplyCodePage(const std::string& contentType, const std::string& body) {
  if (UINT page = CodePageOfContentType(contentType)) return page;
  std::string declaration = TextBetween(body.substr(0, 256), "<?xml", "?>");
  std::string encoding = TextAfter(declaration, "encoding=");
  if (!encoding.empty()) encoding = TextBetween(encoding, encoding.substr(0, 1), encoding.substr(0, 1));
  if (UINT page = CodePageOfCharset(encoding)) return page;
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
  // (Never a success code: a failure WinINet gave no number for is still one.)
  if (!reply.status)
    Fail("GET " + url + ": the server could not be reached", reply.error ? HRESULT_FROM_WIN32(reply.error) : E_FAIL);
  if (!reply.delivered) Fail("GET " + url + ": the server answered " + std::to_string(reply.status), E_FAIL);
  std::wstring text = AnsiToWide(reply.reply, ReplyCodePage(reply.contentType, reply.reply));
  if (!text.empty() && text.front() == 0xFEFF) text.erase(0, 1);
  return WideToAnsi(text);
}

}  // namespace nib
