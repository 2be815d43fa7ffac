#include "services/HttpUploader.h"

#include "com/StrConv.h"
#include "services/AdminLog.h"
#include "services/Locale.h"
#include "services/Progress.h"
#include "services/TextUtil.h"
#include "services/TransferReason.h"
#include "services/WebAddress.h"

namespace nib {
namespace {

// The message stays as users and their helpdesks know it; the reason follows
// on a line of its own.
void TellUnreachable(const std::string& reason) {
  EndProgressDisplay();  // the message must not hide behind the progress window
  std::string shown = UnreachableTargetMessageWithReason(reason);
  AdminLog("told the user: " + shown);
  std::wstring message = AnsiToWide(shown);
  MessageBoxW(nullptr, message.c_str(), L"NibWordLib", MB_OK);
}

}  // namespace

std::string UnreachableTargetMessage() { return Gb("Http请求未成功,可能是目标地址不可用,请与管理员联系!"); }

std::string UnreachableTargetMessageWithReason(const std::string& reason) {
  std::string text = UnreachableTargetMessage();
  if (!reason.empty()) text += "\r\n" + Gb("原因: ") + reason;
  return UiText(text);
}

UploadResult THttpUploader::PostFile(const std::string& url, HANDLE file, bool trim) {
  if (!IsWebAddress(url)) {
    // Not a server of the page's: a failed transfer, told as one.
    UploadResult result;
    result.reason = Gb("不是网络地址");
    result.reasonTold = true;
    AdminLog("POST " + AddressForLog(url) + " refused: not a web address");
    TellUnreachable(result.reason);
    return result;
  }
  WebRequest request;
  request.url = url;
  request.method = L"POST";
  request.body = file;
  request.timeOutMs = timeOutMs_;
  // The page's thread keeps its window messages flowing while the body goes out.
  request.pumpMessages = true;
  request.allows = allows_;
  request.extraHeaders = headers_;
  request.stallMs = stallMs_;
  request.observer = observer_;
  WebResult sent = RunWebRequest(request);

  UploadResult result;
  result.status = sent.status;
  result.error = sent.error;
  result.refused = sent.refused;
  result.cancelled = sent.cancelled;
  result.sentBytes = sent.progress.sent;
  result.elapsedMs = sent.elapsedMs;
  if (!sent.delivered) result.reason = TransferFailureReason(sent);
  // Past the page's time-out, or stopped by the user: an empty reply, and the
  // caller's own message tells it.
  if (sent.timedOut || sent.cancelled) return result;
  if (!sent.delivered) {
    result.reasonTold = true;
    TellUnreachable(result.reason);
    return result;
  }
  result.delivered = true;
  result.contentType = sent.contentType;
  result.reply = trim ? TrimBlanks(sent.reply) : std::move(sent.reply);
  std::string firstLine = TextBefore(result.reply + "\n", "\n");
  AdminLog("upload reply: " + ReplyAsText(firstLine, result.contentType));
  return result;
}

}  // namespace nib
