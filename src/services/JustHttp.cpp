#include "services/JustHttp.h"

#include "com/ComError.h"
#include "com/Handle.h"
#include "com/StrConv.h"
#include "services/Progress.h"
#include "services/TextUtil.h"
#include "services/TransferReason.h"
#include "services/UniqueName.h"
#include "services/WebAddress.h"

namespace nib {

bool TJustHttp::DownloadToFile(const std::string& url, const std::string& localPath, const AddressRule& allows,
                               std::string* reason) {
  if (reason) reason->clear();
  if (!IsWebAddress(url)) {  // nothing local is read, nothing else is asked
    if (reason) *reason = Gb("不是网络地址");
    return false;
  }
  try {
    // The transfer lands under an ASCII name beside the target and is renamed
    // once complete: a failed transfer leaves nothing under the user's name,
    // and a server's error page never becomes the document.
    std::wstring target = AnsiToWide(localPath);
    std::wstring partial = AnsiToWide(FolderOfPath(localPath) + NewUniqueName() + ".download");
    bool ok;
    {
      // Deletable while open: a stalled transfer's worker may hold it a while after the failure.
      UniqueHandle sink(CreateFileW(partial.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!sink) {
        if (reason) *reason = Gb("无法写入本地文件");
        return false;
      }
      WebRequest request;
      request.url = url;
      request.sink = sink.Get();
      request.timeOutMs = kDefaultTimeOut;
      request.stallMs = DefaultStallLimitMs();
      request.allows = allows;
      request.observer = CurrentProgress();
      SetProgressStage(ProgressStage::kDownload);
      WebResult result = RunWebRequest(request);
      ok = result.delivered;
      if (!ok && reason) *reason = TransferFailureReason(result);
    }
    if (ok && !MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      ok = false;
      if (reason) *reason = Gb("无法写入本地文件");
    }
    if (!ok) DeleteFileW(partial.c_str());
    return ok;
  } catch (...) {
    return false;
  }
}

void TJustHttp::SetTimeOut(int ms) {
  timeOut_ = ms;
  if (uploader_) uploader_->SetTimeOut(ms);
}

std::string TJustHttp::PostStream(const std::string& url, HANDLE file, bool trim) {
  if (!uploader_) {
    uploader_ = std::make_unique<THttpUploader>();
    uploader_->SetTimeOut(timeOut_);
  }
  uploader_->SetAddressRule(allows_);
  uploader_->SetHeaders(uploadHeaders_);
  uploader_->SetStallLimit(timeOut_ == kDefaultTimeOut ? DefaultStallLimitMs() : 0);
  uploader_->SetObserver(CurrentProgress());
  SetProgressStage(ProgressStage::kUpload);
  last_ = uploader_->PostFile(url, file, trim);
  uploader_->SetObserver(nullptr);
  lastDelivered_ = last_.delivered;
  return last_.reply;
}

std::string TJustHttp::UploadFile(const std::string& url, const std::string& localPath) {
  lastDelivered_ = false;
  last_ = UploadResult{};
  // Deny-none: Word may hold the document open while it is sent.
  UniqueHandle file(CreateFileA(localPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  ThrowLastErrorIf(!file, ("cannot open " + localPath).c_str());
  return PostStream(url, file.Get(), true);
}

}  // namespace nib
