#pragma once
// TJustHttp: downloads into local files and uploads files to the server.

#include <memory>
#include <string>

#include "services/HttpUploader.h"

namespace nib {

class TJustHttp {
 public:
  static constexpr int kDefaultTimeOut = 2147483647;

  // Downloads `url` into `localPath`. False when the transfer fails, the
  // server answers outside 2xx (its error page is not kept as the document),
  // or the address or a redirect hop breaks `allows`.
  // With `reason`, a failure's reason (GB2312, one line) is written there.
  // A transfer that moves no byte within the stall limit fails.
  static bool DownloadToFile(const std::string& url, const std::string& localPath, const AddressRule& allows = {},
                             std::string* reason = nullptr);

  // Posts the file's bytes to `url` and returns the reply text, trimmed; empty
  // on failure. Whether the server took the upload is LastUploadDelivered():
  // an empty reply alone cannot tell a failure from an empty answer. Throws
  // ComError when the local file cannot be opened.
  std::string UploadFile(const std::string& url, const std::string& localPath);
  std::string PostStream(const std::string& url, HANDLE file, bool trim);
  bool LastUploadDelivered() const { return lastDelivered_; }
  // All that is known of the last upload: status, reason, whether the user saw the reason.
  const UploadResult& LastUpload() const { return last_; }

  // The page's time-out over the whole upload. Left at its default (no
  // time-out set), an upload instead fails once no byte moved for the stall
  // limit: a server that stops reading must not freeze the save.
  int TimeOut() const { return timeOut_; }
  void SetTimeOut(int ms);
  // Which addresses uploads may reach (each redirect hop included).
  void SetAddressRule(AddressRule allows) { allows_ = std::move(allows); }
  // Request headers of the next uploads, each ending in "\r\n".
  void SetUploadHeaders(std::wstring headers) { uploadHeaders_ = std::move(headers); }

 private:
  std::unique_ptr<THttpUploader> uploader_;
  int timeOut_ = kDefaultTimeOut;
  bool lastDelivered_ = false;
  UploadResult last_;
  AddressRule allows_;
  std::wstring uploadHeaders_;
};

}  // namespace nib
