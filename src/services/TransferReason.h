#pragma once
// Why a transfer failed, told so that a clerk can pass it on and IT can act:
// the server's HTTP status with the start of what it said, or in words what
// happened when no answer came.

#include <windows.h>

#include <string>

#include "services/WebTransfer.h"

namespace nib {

// The Windows code page of a charset name ("gb2312", "utf-8", "big5", ...);
// 0 for a name it does not know.
UINT CodePageOfCharset(std::string name);

// The charset named by a Content-Type header's "charset=" parameter, as a
// code page; 0 when none is named or it is not known.
UINT CodePageOfContentType(const std::string& contentType);

// The start of a reply body as plain text, in GB2312 as the system's texts
// are: decoded by its charset (else UTF-8 when it reads as such, else the
// system's code page), markup and line breaks taken out, at most `maxChars`
// characters. Never throws.
std::string ReplyAsText(const std::string& body, const std::string& contentType, size_t maxChars = 200);

// The reason of a failed transfer (GB2312, one line), e.g.
// "服务器回答 HTTP 413: 文件太大", "无法连接服务器 (WinINet 12029)", "用户取消".
std::string TransferFailureReason(const WebResult& result);

}  // namespace nib
