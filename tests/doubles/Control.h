#pragma once
// How tests steer and watch the doubles. A local server started by COM does
// not see the test's environment, so both sides use fixed files in the prefix:
//   C:\doubles\control.ini  [fail] Member=error text  (or Object.Member)
//                           [slow] Member=milliseconds
//                           [create] fail=1  (the next instance refuses to start)
//                           [busy] on=1  (a dialog of Word's is open: calls are refused)
//                           [word] caption=Word  (the window captions of Word 2013 and later;
//                                  "Microsoft Word", the earlier style, when missing)
//                           [word] compatibility=1  (a .doc is captioned "<name> [Compatibility Mode] - ...",
//                                  as Word 2007 and later show a file of the 97-2003 format)
//                           [word] version=14  (Word 2010: no Options.UseLocalUserInfo; 16 when missing)
//                           [word] signedin=<name>  (the Office account signed in: Word 2013 and later
//                                  record revisions under it unless Options.UseLocalUserInfo is true)
//                           [excel] english=1  (an English Excel on a Chinese system: every call whose
//                                  locale is not 1033 fails with 0x80028018)
//                           [excel] links=1  (the workbooks hold links: Workbooks.Open without
//                                  UpdateLinks asks the user, a modal prompt)
//                           [powerpoint] savehtml=0  (PowerPoint 2013 and later: no web-page format 12)
//                           [settle] start=ms  (a Word that has just started refuses calls, "retry
//                                  later", for ms: as a real Word still loading its add-ins)
//                           [settle] window=ms  (Word's window appears ms after Visible := true)
//                           [settle] release=ms  (a closed or renamed document's file stays held ms
//                                  after Close, SaveAs to another name or Quit; SaveAs onto a held
//                                  file fails, as Word's does)
//                           [wps] missing=View.FieldShading,Document.UndoClear  (members, named as the
//                                  call log names them, the editor does not have: DISP_E_UNKNOWNNAME)
//   C:\doubles\calls.log    one line per call: pid, Object.Member, arguments (a property put adds
//                           "= value"), outcome, locale ("lcid=1033"), local time (hh:mm:ss.mmm),
//                           separated by tabs (UTF-8)

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
// The milliseconds of a [settle] key; 0 when it is not set.
DWORD SettleMs(const wchar_t* key);
// The served application has just started: calls are refused until [settle] start passed.
void MarkStarted();
// A modal dialog of Word's own is open (the insert-file dialog): calls from
// outside are refused as while Word is busy. Set by the dialog's owner.
void SetModalDialogOpen(bool open);
// The application's own part of Word's window captions: "Microsoft Word" or "Word".
std::wstring WordCaptionStyle();
// A value of the control file; empty when it is not there.
std::wstring Setting(const wchar_t* section, const wchar_t* key);
// The application this process serves ("Word", "Excel", "PowerPoint"), set when it starts.
void SetServedApplication(const std::wstring& name);
const std::wstring& ServedApplication();
// The WPS Writer identity (office-double.exe /WPS, registered by /RegServer /Editor:wps):
// Word's model under WPS's class, event interface, window class and captions.
bool WpsIdentity();
// [wps] missing names `object`.`member`: GetIDsOfNames refuses it.
bool MemberMissing(const std::wstring& object, const std::wstring& member);
// The major version of the Word served (16 unless the control file says otherwise).
long WordVersion();
// An English Excel asked in another locale than 1033 (TYPE_E_INVDATAREAD, as Excel answers).
inline constexpr HRESULT kLocaleRefused = static_cast<HRESULT>(0x80028018);
bool LocaleRefused(LCID locale);
// `locale` is the call's; kNoLocale for what no call carried (what the printer renders, say).
inline constexpr LCID kNoLocale = static_cast<LCID>(-1);
void LogCall(const std::wstring& object, const std::wstring& member, const std::wstring& args,
             const std::wstring& outcome, LCID locale = kNoLocale);

}  // namespace doubles
