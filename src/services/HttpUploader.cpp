#include "services/HttpUploader.h"

#include "com/StrConv.h"
#include "services/Locale.h"
#include "services/TextUtil.h"
#include "services/WebAddress.h"

namespace nib {
namespace {

void TellUnreachable() {
  std::wstring message = AnsiToWide(UiText(UnreachableTargetMessage()));
  MessageBoxW(nullptr, message.c_str(), L"NibWordLib", MB_OK);
}

}  // namespace

std::string UnreachableTargetMessage() { return Gb("Http请求未成功,可能是目标地址不可用,请与管理员联系!"); }

UploadResult THttpUploader::PostFile(const std::string& url, HANDLE file, bool trim) {
  if (!IsWebAddress(url)) {
    // Not a server of the page's: a failed transfer, told as one.
    TellUnreachable();
    return UploadResult{};
  }
  WebRequest request;
  request.url = url;
  request.method = L"POST";
  request.body = file;
  request.timeOutMs = timeOutMs_;
  // The page's thread keeps its window messages flowing while the body goes out.
  request.pumpMessages = true;
  request.allows = allows_;
  WebResult sent = RunWebRequest(request);

  UploadResult result;
  result.status = sent.status;
  result.error = sent.error;
  result.refused = sent.refused;
  // Past the time-out: an empty reply and nothing to tell the user here.
  if (sent.timedOut) return result;
  if (!sent.delivered) {
    TellUnreachable();
    return result;
  }
  result.delivered = true;
  result.reply = trim ? TrimBlanks(sent.reply) : std::move(sent.reply);
  return result;
}

}  // namespace nib
