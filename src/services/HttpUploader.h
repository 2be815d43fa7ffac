#pragma once
// The uploader: a POST of a file's raw bytes with "Content-Type: text/html",
// the reply body returned as text. It runs the transfer on a worker thread
// while the page's thread keeps dispatching its window messages, streams the
// file in chunks (memory does not grow with its size) and honours a time-out
// over the whole request (see WebTransfer).

#include <windows.h>

#include <string>

#include "services/WebTransfer.h"

namespace nib {

struct UploadResult {
  std::string reply;       // the reply body (raw bytes), trimmed when asked
  std::string contentType; // of the reply
  bool delivered = false;  // the server took the body and answered 2xx
  DWORD status = 0;        // HTTP status, 0 when there was no answer
  DWORD error = 0;         // WinINet error when the transfer failed
  bool refused = false;    // the address or a redirect hop is not one the page may reach
  bool cancelled = false;  // the user stopped it
  std::string reason;      // why it failed (GB2312, one line); empty when delivered
  bool reasonTold = false; // the user has seen the reason already, under the transfer's message
  uint64_t sentBytes = 0;
  DWORD elapsedMs = 0;
};

class THttpUploader {
 public:
  void SetTimeOut(int ms) { timeOutMs_ = ms; }
  int TimeOut() const { return timeOutMs_; }
  // No byte moving for this long fails the upload (0: only the time-out counts).
  void SetStallLimit(DWORD ms) { stallMs_ = ms; }
  // Progress and cancel of the next uploads; null: nobody watches.
  void SetObserver(TransferObserver* observer) { observer_ = observer; }
  // Judges the address and every redirect hop; empty: any web address.
  void SetAddressRule(AddressRule allows) { allows_ = std::move(allows); }
  // Request headers sent with the next uploads, each ending in "\r\n".
  void SetHeaders(std::wstring headers) { headers_ = std::move(headers); }

  // Uploads the open file `file` (read from its start) to `url`. When the
  // target cannot be reached, answers outside 2xx or stalls, the user is told
  // so in a message box, with the reason on a line of its own; the time-out
  // and a cancel show nothing (the caller tells those). Never throws for
  // transfer failures.
  UploadResult PostFile(const std::string& url, HANDLE file, bool trim);

 private:
  int timeOutMs_ = 30000;
  DWORD stallMs_ = 0;
  TransferObserver* observer_ = nullptr;
  AddressRule allows_;
  std::wstring headers_;
};

// "Http请求未成功,可能是目标地址不可用,请与管理员联系!"
std::string UnreachableTargetMessage();
// That message, with the reason on a line of its own, as the user is shown it
// (in Big5 on traditional-Chinese systems).
std::string UnreachableTargetMessageWithReason(const std::string& reason);

}  // namespace nib
