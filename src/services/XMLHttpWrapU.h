#pragma once
// TXMLHttpWrap: the text behind a URL, fetched with a GET on the browser's
// stack. It rides WinINet itself rather than MSXML's XMLHTTP, which follows
// redirects without showing them: every hop must be judged by the page's
// rule. An answer outside 2xx is no data. Failures throw ComError.

#include <string>

#include "services/WebTransfer.h"

namespace nib {

class TXMLHttpWrap {
 public:
  static constexpr int kTimeOutMs = 60000;

  // Which addresses the fetch may reach (each redirect hop included).
  void SetAddressRule(AddressRule allows) { allows_ = std::move(allows); }
  std::string GetText(const std::string& url);

 private:
  AddressRule allows_;
};

}  // namespace nib
