#pragma once
// TXMLHttpWrap: the text behind a URL, fetched with a synchronous GET through
// MSXML2's XMLHTTP. The HTTP status is not examined: an error page's text is
// the result. Failures of the request object throw ComError.

#include <msxml2.h>
#include <wrl/client.h>

#include <string>

namespace nib {

class TXMLHttpWrap {
 public:
  TXMLHttpWrap();
  std::string GetText(const std::string& url);

 private:
  void SendGet(const std::string& url);
  std::string ReadResponseText();

  Microsoft::WRL::ComPtr<IXMLHTTPRequest> request_;
};

}  // namespace nib
