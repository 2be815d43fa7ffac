#include "services/XMLHttpWrapU.h"

#include "com/BStr.h"
#include "com/ComError.h"
#include "com/StrConv.h"
#include "com/Variant.h"
#include "services/TextUtil.h"

#include <cctype>
#include <string>

namespace nib {
namespace {

// mingw has no msxml import library: the identifiers are ours.
constexpr CLSID kXmlHttpClass = {0xF6D90F16, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
constexpr IID kXmlHttpRequest = {0xED8C108D, 0x4349, 0x11D2, {0x91, 0xA4, 0x00, 0xC0, 0x4F, 0x79, 0x69, 0xE8}};

// An omitted optional parameter.
Variant Missing() {
  Variant missing;
  V_VT(missing.Get()) = VT_ERROR;
  V_ERROR(missing.Get()) = DISP_E_PARAMNOTFOUND;
  return missing;
}

// The code page a reply's bytes are written in: the charset the server names,
// else the XML declaration's encoding, else UTF-8 (XML's default). Decoding
// the body ourselves gives the same text with every MSXML version; some
// decode a GB2312 reply as UTF-8 in responseText.
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

TXMLHttpWrap::TXMLHttpWrap() {
  ThrowIfFailed(CoCreateInstance(kXmlHttpClass, nullptr, CLSCTX_INPROC_SERVER, kXmlHttpRequest,
                                 reinterpret_cast<void**>(request_.GetAddressOf())),
                "creating MSXML2.XMLHTTP");
}

std::string TXMLHttpWrap::GetText(const std::string& url) {
  SendGet(url);
  return ReadResponseText();
}

void TXMLHttpWrap::SendGet(const std::string& url) {
  if (!IsWebAddress(url)) Fail("XMLHTTP GET " + url + ": only http and https addresses are fetched", E_ACCESSDENIED);
  BStr method(L"GET"), address = BStr::FromAnsi(url);
  Variant async;
  V_VT(async.Get()) = VT_BOOL;
  V_BOOL(async.Get()) = VARIANT_FALSE;
  Variant user = Missing(), password = Missing();
  ThrowIfFailed(request_->open(method.Get(), address.Get(), *async.Get(), *user.Get(), *password.Get()),
                ("XMLHTTP open " + url).c_str());
  ThrowIfFailed(request_->send(*Missing().Get()), ("XMLHTTP GET " + url).c_str());
  // A server's error page (a refused session, a missing file) is not the data.
  LONG status = 0;
  ThrowIfFailed(request_->get_status(&status), "XMLHTTP status");
  if (status < 200 || status >= 300) Fail("XMLHTTP GET " + url + ": the server answered " + std::to_string(status), E_FAIL);
}

std::string TXMLHttpWrap::ReadResponseText() {
  Variant body;
  ThrowIfFailed(request_->get_responseBody(body.Get()), "XMLHTTP responseBody");
  std::string bytes;
  if (body.Type() == (VT_ARRAY | VT_UI1)) {
    SAFEARRAY* array = V_ARRAY(body.Get());
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
      bytes.assign(static_cast<const char*>(data), array->rgsabound[0].cElements);
      SafeArrayUnaccessData(array);
    }
  }
  BStr header(L"Content-Type"), contentType;
  request_->getResponseHeader(header.Get(), contentType.Out());  // a missing header is no error
  std::wstring text = AnsiToWide(bytes, ReplyCodePage(contentType.Ansi(), bytes));
  if (!text.empty() && text.front() == 0xFEFF) text.erase(0, 1);
  return WideToAnsi(text);
}

}  // namespace nib
