#include "services/JustHttp.h"

#include <urlmon.h>
#include <wrl/client.h>

#include "com/ComError.h"
#include "com/ComObject.h"
#include "com/Handle.h"
#include "com/StrConv.h"
#include "services/TextUtil.h"
#include "services/UniqueName.h"

namespace nib {
namespace {

// Learns the HTTP status of a URL-moniker download: URLDownloadToFile answers
// S_OK for an error page and writes it as the file.
class StatusCallback final : public ComObject<IBindStatusCallback, IHttpNegotiate> {
 public:
  DWORD Status() const { return status_; }

  STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
  STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  // The download's own binding options stand: it needs its cache file.
  STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
  STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) override {
    if (additional) *additional = nullptr;
    return S_OK;
  }
  STDMETHODIMP OnResponse(DWORD code, LPCWSTR, LPCWSTR, LPWSTR* additional) override {
    if (additional) *additional = nullptr;
    status_ = code;
    return S_OK;
  }

 private:
  DWORD status_ = 0;
};

}  // namespace

bool TJustHttp::DownloadToFile(const std::string& url, const std::string& localPath) {
  if (!IsWebAddress(url)) return false;  // nothing local is read, nothing else is asked
  try {
    // The transfer lands under an ASCII name beside the target and is renamed
    // once complete: some URL-moniker versions mangle non-ASCII target names
    // (and report success), and a failed transfer leaves nothing under the
    // user's name.
    std::wstring target = AnsiToWide(localPath);
    std::wstring partial = AnsiToWide(FolderOfPath(localPath) + NewUniqueName() + ".download");
    Microsoft::WRL::ComPtr<StatusCallback> callback = NewComObject<StatusCallback>();
    HRESULT hr = URLDownloadToFileW(nullptr, AnsiToWide(url).c_str(), partial.c_str(), 0, callback.Get());
    DWORD status = callback->Status();
    // No status means a non-HTTP address (file:, for instance): the call's result decides.
    bool ok = hr == S_OK && (status == 0 || (status >= 200 && status < 300)) &&
              GetFileAttributesW(partial.c_str()) != INVALID_FILE_ATTRIBUTES &&
              MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
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
  UploadResult result = uploader_->PostFile(url, file, trim);
  lastDelivered_ = result.delivered;
  return result.reply;
}

std::string TJustHttp::UploadFile(const std::string& url, const std::string& localPath) {
  lastDelivered_ = false;
  // Deny-none: Word may hold the document open while it is sent.
  UniqueHandle file(CreateFileA(localPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  ThrowLastErrorIf(!file, ("cannot open " + localPath).c_str());
  return PostStream(url, file.Get(), true);
}

}  // namespace nib
