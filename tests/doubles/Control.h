#pragma once
// How tests steer and watch the doubles. A local server started by COM does
// not see the test's environment, so both sides use fixed files in the prefix:
//   C:\doubles\control.ini  [fail] Member=error text  (or Object.Member)
//                           [slow] Member=milliseconds
//                           [create] fail=1  (the next instance refuses to start)
//                           [busy] on=1  (a dialog of Word's is open: calls are refused)
//                           [word] caption=Word  (the window captions of Word 2013 and later;
//                                  "Microsoft Word", the earlier style, when missing)
//   C:\doubles\calls.log    one line per call: pid, Object.Member, arguments, outcome, local time
//                           (hh:mm:ss.mmm), separated by tabs (UTF-8)

#include <windows.h>

#include <string>

namespace doubles {

inline constexpr wchar_t kControlFolder[] = L"C:\\doubles";
inline constexpr wchar_t kControlFile[] = L"C:\\doubles\\control.ini";
inline constexpr wchar_t kCallLog[] = L"C:\\doubles\\calls.log";

std::wstring InjectedFailure(const std::wstring& object, const std::wstring& member);
DWORD InjectedDelay(const std::wstring& object, const std::wstring& member);
bool CreationRefused();
// Word with one of its dialogs open, or busy, refuses every automation call
// from outside with "retry later" (RPC_E_SERVERCALL_RETRYLATER reaches a
// caller whose COM does not retry it).
bool InjectedBusy();
// A modal dialog of Word's own is open (the insert-file dialog): calls from
// outside are refused as while Word is busy. Set by the dialog's owner.
void SetModalDialogOpen(bool open);
// The application's own part of Word's window captions: "Microsoft Word" or "Word".
std::wstring WordCaptionStyle();
void LogCall(const std::wstring& object, const std::wstring& member, const std::wstring& args,
             const std::wstring& outcome);

}  // namespace doubles
