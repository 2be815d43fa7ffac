#pragma once
// The administrators' log: what each edit cycle did, for IT to read when a
// clerk reports a failed save. One file per user,
// %LOCALAPPDATA%\NibWordLib\nibword.log, UTF-8, a line per step; at 1 MB it
// moves to nibword.log.1 (and that one to nibword.log.2), so at most three
// files are kept. On unless the machine policy value Log (REG_DWORD) is 0.
//
// What goes in: steps, addresses without their query or credentials (see
// AddressForLog), sizes, times, statuses, errors. What never goes in: a
// document's contents, a token, a password.

#include <windows.h>

#include <string>
#include <string_view>

namespace nib {

// False when the policy turned the log off.
bool AdminLogEnabled();

// Appends one line (text in the system code page, as all of the system's
// texts are), stamped with the local time and the process id. A log that
// cannot be written is skipped: it must never stop the user's work.
void AdminLog(std::string_view ansiText);

// The same for an error: the HRESULT in hexadecimal and the error's text.
void AdminLogError(std::string_view step, HRESULT code, std::string_view ansiText);

// The log's path for this user.
std::wstring AdminLogPath();

}  // namespace nib
