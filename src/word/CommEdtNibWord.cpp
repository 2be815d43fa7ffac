#include "word/CommEdtNibWord.h"

#include "services/Events.h"
#include "com/BStr.h"
#include "com/ComError.h"
#include "com/ErrorInfo.h"
#include "com/StrConv.h"
#include "services/Files.h"
#include "services/Locale.h"
#include "services/TextUtil.h"
#include "services/UniqueName.h"
#include "services/WindowUtil.h"
#include "ui/MessageDialog.h"
#include "word/PageMeasure.h"

namespace nib {
namespace {

constexpr long kMinimised = 2;
constexpr long kAllowOnlyRevisions = 0;
constexpr long kUnprotected = -1;
constexpr long kShadeFieldsWhenSelected = 2;
constexpr long kAlertsAll = -1;

std::string Ansi(BSTR text) { return BstrToAnsi(text); }

// Word 2013 (version 15) brought the Office account: from then on Word names
// the author of a change by the account signed in, not by UserName, unless
// Options.UseLocalUserInfo is true.
constexpr long kFirstWordWithAccounts = 15;

// Told when the document came protected and the page gave no password. Word
// would ask the user for it in a dialog of its own, in a Word the user may not
// see; the document stays protected as it came.
constexpr char kProtectionKeptText[] =
    "\r\n文档已设置密码保护,页面没有提供密码,不能解除保护.\r\n文档将保持原有的保护,修改将作为修订记录.";

}  // namespace

Microsoft::WRL::ComPtr<TCommEdt_NibWord> TCommEdt_NibWord::Create(std::shared_ptr<PageValues> values) {
  auto driver = NewComObject<TCommEdt_NibWord>();
  if (values) driver->values_ = std::move(values);
  return driver;
}

TCommEdt_NibWord::~TCommEdt_NibWord() {
  WordDocNew = DispObject();
  WordApp.Disconnect();
}

// --- messages and notifications -------------------------------------------------------

LONG TCommEdt_NibWord::Message(const char* utf8Text, LONG dlgType) {
  std::string text = UiText(Gb(utf8Text));
  if (!CommGUI) return ShowMessageDialog(text, dlgType, 1u << kOk, 0);
  BStr message = BStr::FromAnsi(text), okOnly(L"2");
  return CommGUI->MyMessageDlg(message.Get(), dlgType, okOnly.Get(), 0);
}

void TCommEdt_NibWord::Log(const std::string& text) {
  if (!CommGUI) return;
  BStr message = BStr::FromAnsi(text);
  CommGUI->WLog(message.Get(), VARIANT_TRUE, VARIANT_FALSE);
}

void TCommEdt_NibWord::Notify(long item, long sts) {
  if (OnEdtStsNotify) OnEdtStsNotify(0, item, sts);
}

// --- starting Word ------------------------------------------------------------------

namespace {

struct CaptionSearch {
  std::wstring exact, suffix;
  // With a document named: Word 2007 and later caption a file of the 97-2003
  // format "<name> [Compatibility Mode] - <title>" (the mark is in Word's
  // language): "<document> [<anything>] - <title>" counts as the document's.
  std::wstring document, title;
  HWND found = nullptr;
};

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool MarkedCaption(const std::wstring& caption, const std::wstring& document, const std::wstring& title) {
  if (document.empty()) return false;
  std::wstring start = document + L" [", end = L"] - " + title;
  return caption.size() > start.size() + end.size() && caption.compare(0, start.size(), start) == 0 &&
         EndsWith(caption, end);
}

BOOL CALLBACK MatchWordCaption(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<CaptionSearch*>(data);
  // Any class: WPS Writer's frame is not Word's "OpusApp"; the caption marker is ours alone.
  int length = GetWindowTextLengthW(window);
  std::wstring caption(static_cast<size_t>(length) + 1, L'\0');
  caption.resize(static_cast<size_t>(GetWindowTextW(window, caption.data(), length + 1)));
  const std::wstring& suffix = search->suffix;
  bool suffixed = !suffix.empty() && caption.size() > suffix.size() && EndsWith(caption, suffix);
  if (caption != search->exact && !suffixed && !MarkedCaption(caption, search->document, search->title)) return TRUE;
  search->found = window;
  return FALSE;
}

// The Word main window whose caption is `title`, "<any document> - <title>",
// or, when `document` is named, "<document> - <title>".
HWND FindWordCaption(const std::wstring& title, const std::wstring& document) {
  CaptionSearch search{document.empty() ? title : document + L" - " + title, document.empty() ? L" - " + title : L"",
                       document, title};
  EnumWindows(MatchWordCaption, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

// Our own Word's window (of `document`, when named), never the window of a
// Word the user runs beside it. Captions differ between versions (" - Microsoft
// Word", " - Word") and languages, so Word is given a caption of ours for the
// moment of the search.
HWND TCommEdt_NibWord::FindWordWindow(const std::wstring& document) {
  try {
    std::wstring own = WordApp.app.Text(L"Caption");
    std::wstring marker = L"NibWordLib " + AnsiToWide(NewUniqueName());
    WordApp.app.Put(L"Caption", marker);
    HWND window = FindWordCaption(marker, document);
    WordApp.app.Put(L"Caption", own);
    return window;
  } catch (const ComError&) {
    return nullptr;  // no window to bring forward: the commands work without one
  }
}

bool TCommEdt_NibWord::ConnectWordApp() {
  bAppConnected = false;
  try {
    TWordUtil::BackupNormalDot(NormalDotRec);
    // The backup must be on disk before a Word that may change the template starts.
    WaitUntil(200, [&] { return !NormalDotRec.valid || FileExists(NormalDotRec.BakFN); });
    WordApp.ConnectNew([this](DISPID id, DISPPARAMS& params) { OnWordEvent(id, params); });
    values_->WordApplication = WordApp.app.Get();
    bAppConnected = true;
    // Before any document or template is opened in this Word.
    ForbidMacros(WordApp.app);
    // A Word that has just started may still refuse calls: it is ready once it answers one.
    WaitUntil(500, [&] { return WordAnswers(WordApp.app); });
    WordApp.app.Put(L"Visible", true);
    if (ProcID == "3") WordApp.app.Put(L"WindowState", kMinimised);
    WaitUntil(100, [&] { return WordWindowShown(); });
    OptionalMember("Application.DisplayAlerts", [&] { WordApp.app.Put(L"DisplayAlerts", 0L); });
    if (!UserName.empty()) {
      OldUserName = WideToAnsi(WordApp.app.Text(L"UserName"));
      if (bAppConnected) {
        ApplyUserName(UserName);
        UseLocalUserInfo();
      }
    }
    return true;
  } catch (const ComError&) {
    // Inside a browser the host process must go on: the start fails, nothing more.
    Message("\r\n不能启动Word!", kDlgWarning);
    return false;
  }
}

void TCommEdt_NibWord::ApplyUserName(const std::string& name) {
  bSettingUserName = true;
  try {
    WordApp.app.Put(L"UserName", Arg::Ansi(name));
  } catch (const ComError&) {
    // Word keeps its own name: revisions still get recorded.
  }
  bSettingUserName = false;
}

void TCommEdt_NibWord::UseLocalUserInfo() {
  OldUseLocalUserInfo.reset();
  if (OfficeVersion(WordApp.app) < kFirstWordWithAccounts) return;  // Word 2010 and earlier: UserName is the author
  try {
    DispObject options = WordApp.app.Object(L"Options");
    bool old = options.Bool(L"UseLocalUserInfo");
    if (!old) options.Put(L"UseLocalUserInfo", true);
    OldUseLocalUserInfo = old;
  } catch (const ComError&) {
    // As with the user name: the start goes on, Word keeps its own author.
  }
}

void TCommEdt_NibWord::RestoreLocalUserInfo() {
  if (!OldUseLocalUserInfo) return;
  bool old = *OldUseLocalUserInfo;
  OldUseLocalUserInfo.reset();
  // Word keeps the option among the user's settings: given back as found.
  if (old) return;
  try {
    WordApp.app.Object(L"Options").Put(L"UseLocalUserInfo", false);
  } catch (const ComError&) {
    // Word is on its way out; the user's setting stays on, which only names
    // the user's own changes by the local name.
  }
}

void TCommEdt_NibWord::BackupSrcDoc() {
  if (DestFN == values_->LocalTmplFN) {
    SrcBakFN = DestFN;
    return;
  }
  SrcBakFN = MakeTempName("", ".doc", false, false, false, true);
  if (!FileExists(DestFN)) return;
  if (CopyFileW(AnsiToWide(DestFN).c_str(), AnsiToWide(SrcBakFN).c_str(), FALSE) && CommGUI) {
    BStr name = BStr::FromAnsi(SrcBakFN);
    CommGUI->AddTmpDirFile(2, name.Get());
  }
}

bool TCommEdt_NibWord::OpenWordDoc() {
  bool opened = false;
  try {
    DispObject documents = WordApp.app.Object(L"Documents");
    if (FileExists(DestFN)) {
      WordDocNew = documents.CallObject(L"Open", {},
                                        {{L"FileName", Arg::Ansi(DestFN)}, {L"AddToRecentFiles", Arg(false)}});
    } else {
      WordDocNew = documents.CallObject(L"Add", {}, {{L"Visible", Arg(true)}});
      TWordUtil::SaveDocumentAs(WordDocNew, DestFN);
    }
    OptionalMember("Document.PrintRevisions", [&] { WordDocNew.Put(L"PrintRevisions", false); });
    OptionalMember("View.FieldShading", [&] {
      WordDocNew.Object(L"ActiveWindow").Object(L"View").Put(L"FieldShading", kShadeFieldsWhenSelected);
    });
    opened = true;
  } catch (const ComError&) {
    Message("打开Word文档未成功!", kDlgInformation);
  }
  Arg document(WordDocNew.Get());
  FireOnEventStart(values_->EventSink.Get(), "TempletFN", values_->DestBaseFN, "b", *document.Get(), *document.Get());
  return opened;
}

VARIANT_BOOL STDMETHODCALLTYPE TCommEdt_NibWord::StartEdtAppAndOpenDoc(BSTR procID, BSTR procID2) {
  ProcID = Ansi(procID);
  ProcID2 = Ansi(procID2);
  if (!ConnectWordApp()) return VARIANT_FALSE;
  if (hAppWnd && ProcID != "3") SetForegroundWindow(hAppWnd);
  BackupSrcDoc();
  if (!OpenWordDoc()) return VARIANT_FALSE;
  ApplyOpenProtection();
  _SetShowTrack(bTrackRev, true);
  if (ProcID == "6") {
    if (ProcID2 != "0" && ProcID2 != "1" && ProcID2 != "3" && ProcID2 != "4") {
      WordDocNew.Call(L"AcceptAllRevisions");
      Save();
      OptionalMember("Document.UndoClear", [&] { WordDocNew.Call(L"UndoClear"); });
      _SetShowTrack(false, true);
    } else {
      ThrowIfFailed(SetUseTmpl(VARIANT_TRUE), "applying the red-header template");
    }
  }
  if (!values_->IniXMLCont.empty()) FillFromXML(WordDocNew);
  Save();
  return VARIANT_TRUE;
}

VARIANT_BOOL STDMETHODCALLTYPE TCommEdt_NibWord::StartEdtAppAndOpenHtDoc() {
  if (!ConnectWordApp()) return VARIANT_FALSE;
  if (hAppWnd) SetForegroundWindow(hAppWnd);
  BackupSrcDoc();
  if (!OpenWordDoc()) return VARIANT_FALSE;
  _SetShowTrack(bTrackRev, true);
  ApplyOpenProtection();
  Save();
  return VARIANT_TRUE;
}

// --- watching, saving and quitting ------------------------------------------------------

void TCommEdt_NibWord::OnWordEvent(DISPID id, DISPPARAMS& params) {
  if (id != WordApp.documentBeforeClose || params.cArgs != 2) return;
  // Arguments arrive last first: rgvarg[1] is the document, rgvarg[0] the cancel flag.
  VARIANT& doc = params.rgvarg[1];
  VARIANT& cancel = params.rgvarg[0];
  IDispatch* document = V_VT(&doc) == VT_DISPATCH ? V_DISPATCH(&doc) : nullptr;
  VARIANT_BOOL* flag = V_VT(&cancel) == (VT_BOOL | VT_BYREF) ? V_BOOLREF(&cancel) : nullptr;
  WordAppDocumentBeforeClose(document, flag);
}

void TCommEdt_NibWord::WordAppDocumentBeforeClose(IDispatch* doc, VARIANT_BOOL* cancel) {
  if (!bClosingByProg && WordDocNew.SameObject(doc)) {
    std::wstring text = AnsiToWide(UiText(Gb("\r\n请不要使用这种方式来关闭文档,而使用\"关闭\"按钮来关闭!")));
    MessageBoxW(values_->ControlWindow, text.c_str(), AnsiToWide("确认", CP_UTF8).c_str(), MB_OK | MB_ICONINFORMATION);
    if (cancel) *cancel = VARIANT_TRUE;
  }
  bClosingByProg = false;
}

bool TCommEdt_NibWord::ChkDocIsMine() {
  std::string wordName = FileNameOfPath(WideToAnsi(WordDocNew.Text(L"FullName")));
  if (TextEquals(wordName, FileNameOfPath(DestFN))) return true;
  Message("文档被非正常地关闭！\r\n程序将尝试打开源文件...", kDlgWarning);
  Message("\r\n无法再打开源文件，请重新打开文件进入！", kDlgWarning);
  return false;
}

void TCommEdt_NibWord::Save() { WordDocNew.Call(L"Save"); }

VARIANT_BOOL STDMETHODCALLTYPE TCommEdt_NibWord::SaveDoc() {
  if (!ChkDocIsMine()) return VARIANT_FALSE;
  bool shown = WordDocNew.Bool(L"ShowRevisions");
  if (shown) _SetShowTrack(false, false);
  try {
    // Word raises for Unprotect on a document that is not protected. One
    // protected with a password nobody gave is saved as it is, protected.
    bool lift = bSaveTrack && WordDocNew.Long(L"ProtectionType") != kUnprotected && !ProtectPwd.empty();
    if (lift) WordDocNew.Call(L"Unprotect", {Arg::Ansi(ProtectPwd)});
    WordDocNew.Put(L"ShowRevisions", false);
    WithPrintModeLifted([this] { Save(); });
    if (bSaveTrack && WordDocNew.Long(L"ProtectionType") == kUnprotected)
      WordDocNew.Call(L"Protect", {Arg(kAllowOnlyRevisions), Arg::Omitted(), Arg::Ansi(ProtectPwd)});
  } catch (...) {
    if (shown) _SetShowTrack(true, false);
    throw;
  }
  if (shown) _SetShowTrack(true, false);
  return VARIANT_TRUE;
}

VARIANT_BOOL STDMETHODCALLTYPE TCommEdt_NibWord::AppQuit() {
  bClosingByProg = true;
  try {
    if (bAppConnected) {
      if (!OldUserName.empty()) ApplyUserName(OldUserName);
      RestoreLocalUserInfo();
      WordDocNew = DispObject();
      try {
        WordApp.app.Call(L"Quit", {}, {{L"SaveChanges", Arg(false)}});
      } catch (const ComError& e) {
        // A Word that is gone before its answer arrived has quit.
        if (!IsServerGone(e.Code())) throw;
      }
      WordApp.Disconnect();
      values_->WordApplication.Reset();
      bAppConnected = false;
    }
  } catch (...) {
    TWordUtil::RestoreNormalDot(NormalDotRec, CommGUI);
    throw;
  }
  TWordUtil::RestoreNormalDot(NormalDotRec, CommGUI);
  NormalDotRec = TResotreNormalDotRec{};
  return VARIANT_TRUE;
}

void TCommEdt_NibWord::LetGo() noexcept {
  if (bAppConnected) {
    try {
      // Word's own questions (save changes?) apply again to the user's close.
      WordApp.app.Put(L"DisplayAlerts", kAlertsAll);
    } catch (const ComError&) {
      // Word is gone or busy: there is nothing more to tell it.
    }
  }
  WordDocNew = DispObject();
  WordApp.Disconnect();  // no more refusing Word's own close
  values_->WordApplication.Reset();
  bAppConnected = false;
}

VARIANT_BOOL STDMETHODCALLTYPE TCommEdt_NibWord::getSaved() {
  // No document open (one that could not be opened again): nothing in Word is
  // unsaved; the working copy on disk is the latest.
  if (!WordDocNew) return VARIANT_TRUE;
  return WordDocNew.Bool(L"Saved") ? VARIANT_TRUE : VARIANT_FALSE;
}

LONG STDMETHODCALLTYPE TCommEdt_NibWord::getFileAge() { return FileAge(DestFN); }

STDMETHODIMP TCommEdt_NibWord::SetDestFN(BSTR destFN) {
  DestFN = Ansi(destFN);
  return S_OK;
}

STDMETHODIMP TCommEdt_NibWord::SetDocSaveToSerOK(VARIANT_BOOL) { return S_OK; }

STDMETHODIMP TCommEdt_NibWord::SetICommGUI(ICommGUI* commGUI) {
  CommGUI = commGUI;
  return S_OK;
}

void TCommEdt_NibWord::SetAppWindowState(long state, bool force) {
  WordApp.app.Put(L"WindowState", state);
  OptionalMember("Application.Activate", [&] { WordApp.app.Call(L"Activate"); });
  if (!force || !hAppWnd || state == kMinimised) return;
  // Forced to the front only once Word shows the window in its new state.
  WaitUntil(300, [&] { return WordWindowShown() && !IsIconic(hAppWnd); });
  if (!hAppWnd) return;
  DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  DWORD ownThread = GetCurrentThreadId();
  bool attached = foregroundThread != ownThread && AttachThreadInput(ownThread, foregroundThread, TRUE);
  SetForegroundWindow(hAppWnd);
  if (attached) AttachThreadInput(ownThread, foregroundThread, FALSE);
  SetForegroundWindow(hAppWnd);
}

bool TCommEdt_NibWord::WordWindowShown() {
  hAppWnd = FindWordWindow();
  return hAppWnd && IsWindowVisible(hAppWnd);
}

HWND TCommEdt_NibWord::FindDocWnd() {
  hAppWnd = FindWordWindow(WordDocNew.Text(L"Name"));
  return hAppWnd;
}

// --- revisions and protection -------------------------------------------------------------

void TCommEdt_NibWord::_SetShowTrack(bool show, bool notify) {
  if (!bAppConnected || !WordDocNew) return;
  Log(std::string("in _SetShowTrack,WordDocNew.ShowRevisions=:") +
      (WordDocNew.Bool(L"ShowRevisions") ? "true" : "false"));
  WordDocNew.Put(L"ShowRevisions", show);
  OptionalMember("Document.PrintRevisions", [&] { WordDocNew.Put(L"PrintRevisions", show); });
  if (notify) Notify(0, WordDocNew.Bool(L"ShowRevisions") ? 0 : 1);
}

std::string TCommEdt_NibWord::GetProtectPwd() {
  ProtectPwd = !RevPassWord.empty() ? RevPassWord : NewUniqueName().substr(0, 12);
  return ProtectPwd;
}

void TCommEdt_NibWord::SetDocProtect(bool protect) {
  bool isProtected = WordDocNew.Long(L"ProtectionType") != kUnprotected;
  // A document that arrives protected can only be unprotected with the page's
  // password: without it every later save would fail.
  if (isProtected && ProtectPwd.empty()) ProtectPwd = RevPassWord;
  if (isProtected == protect) return;
  if (protect) {
    GetProtectPwd();
    WordDocNew.Call(L"Protect", {Arg(kAllowOnlyRevisions), Arg::Omitted(), Arg::Ansi(ProtectPwd)});
    return;
  }
  // Unprotect without the password of a document protected with one shows
  // Word's password dialog (in a Word the user may not even see) and holds
  // this call until someone answers it. No password: never asked.
  if (ProtectPwd.empty()) {
    TellProtectionKept();
    Fail(UiText(Gb(kProtectionKeptText)), kProtectionKept);
  }
  WordDocNew.Call(L"Unprotect", {Arg::Ansi(ProtectPwd)});
}

void TCommEdt_NibWord::ApplyOpenProtection() {
  try {
    SetDocProtect(bSaveTrack);
  } catch (const ComError& e) {
    // Opened as it came: protected, the user told (once, in SetDocProtect).
    if (e.Code() != kProtectionKept) throw;
  }
  // Kept protected either way: saves keep it, and the commands that would
  // lift it (template, print mode) cannot. The user hears why once, now.
  if (ProtectPwd.empty() && WordDocNew.Long(L"ProtectionType") != kUnprotected) TellProtectionKept();
}

void TCommEdt_NibWord::TellProtectionKept() {
  if (protectionKeptTold_) return;
  protectionKeptTold_ = true;
  Message(kProtectionKeptText, kDlgInformation);
}

STDMETHODIMP TCommEdt_NibWord::SetUserName(BSTR sUserName) {
  UserName = Ansi(sUserName);
  return S_OK;
}

STDMETHODIMP TCommEdt_NibWord::setTrackRev(VARIANT_BOOL trackRev) {
  return TrapToHResult([&] {
    bTrackRev = trackRev != VARIANT_FALSE;
    _SetShowTrack(bTrackRev, true);
  });
}

VARIANT_BOOL STDMETHODCALLTYPE TCommEdt_NibWord::getTrackRev() {
  return WordDocNew.Bool(L"ShowRevisions") ? VARIANT_TRUE : VARIANT_FALSE;
}

STDMETHODIMP TCommEdt_NibWord::setSaveTrack(VARIANT_BOOL saveTrack) {
  bSaveTrack = saveTrack != VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP TCommEdt_NibWord::SetRvePassWord(BSTR password) {
  RevPassWord = Ansi(password);
  return S_OK;
}

void TCommEdt_NibWord::MakeRevisionCopy() {
  revisionCopyMade_ = false;
  // Beside the working copy, in the cycle's own folder, and deleted with it:
  // standard users cannot write to the root of C:, and there every user of
  // the machine could read or replace another's document.
  std::string stem = FolderOfPath(DestFN) + NewUniqueName();
  OriRevisionFN = stem + "-OriRevision.doc";
  RevisionFN = stem + "-Revision.doc";
  for (const std::string* copy : {&OriRevisionFN, &RevisionFN}) {
    if (!CommGUI) break;
    BStr name = BStr::FromAnsi(*copy);
    ThrowIfFailed(CommGUI->AddTmpDirFile(2, name.Get()), "registering the red-header copy for deletion");
  }
  if (bPrintMode) {
    // The copies are closed and reopened: print mode ends here, as the user sees it.
    bool wasProtected = WordDocNew.Long(L"ProtectionType") != kUnprotected;
    SetDocProtect(false);
    LeavePrintMode();
    SetDocProtect(wasProtected);
    bPrintMode = false;
    Notify(1, 1);
  }
  Save();
  TWordUtil::SaveDocumentAs(WordDocNew, OriRevisionFN);
  revisionCopyMade_ = true;
  // Each copy is written, Word's document bears its name and Word has let go
  // of the file it had before: the working copy is written over later.
  WaitUntil(300, [&] {
    return FileExists(OriRevisionFN) && IsDocumentOf(WordDocNew, OriRevisionFN) && !IsFileInUse(DestFN);
  });
  TWordUtil::SaveDocumentAs(WordDocNew, RevisionFN);
  WaitUntil(300, [&] {
    return FileExists(RevisionFN) && IsDocumentOf(WordDocNew, RevisionFN) && !IsFileInUse(OriRevisionFN);
  });
  DispObject accepted = WordApp.app.Object(L"Documents")
                            .CallObject(L"Open", {}, {{L"FileName", Arg::Ansi(RevisionFN)},
                                                      {L"AddToRecentFiles", Arg(false)}});
  accepted.Call(L"AcceptAllRevisions");
  accepted.Call(L"Save");
  WaitUntil(300, [&] { return accepted.Bool(L"Saved"); });
  bClosingByProg = true;
  accepted.Call(L"Close", {}, {{L"SaveChanges", Arg(false)}});
  WordDocNew = DispObject();
}

void TCommEdt_NibWord::ReopenDoc() {
  WordDocNew = WordApp.app.Object(L"Documents")
                   .CallObject(L"Open", {}, {{L"FileName", Arg::Ansi(DestFN)}, {L"AddToRecentFiles", Arg::Empty()}});
}

void TCommEdt_NibWord::CloseDocNoSave() {
  if (!WordDocNew) return;  // already closed (the revisions-accepted copy closes it)
  bClosingByProg = true;
  WordDocNew.Call(L"Close", {}, {{L"SaveChanges", Arg::Empty()}});
  WordDocNew = DispObject();
}

// --- setters of the template and print features ---------------------------------------------

STDMETHODIMP TCommEdt_NibWord::SetIsPrinter(VARIANT_BOOL isPrinter) {
  bIsPrinter = isPrinter != VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP TCommEdt_NibWord::SetHtmWidth(LONG width) {
  HtmWidth = width;
  return S_OK;
}

BSTR STDMETHODCALLTYPE TCommEdt_NibWord::procQozerOnHtmlConvtOK(BSTR HtmlFN) {
  std::string file = Ansi(HtmlFN), page;
  // Embedded objects (ActiveX controls) have no place in the uploaded page.
  if (LoadTextFile(page, file)) {
    DeleteAllBetween(page, "<object", "/object>");
    if (!SaveTextFile(page, file)) Fail("procQozerOnHtmlConvtOK: the page cannot be written back: " + file);
  }
  long height = MeasurePageHeight(file, HtmWidth);
  return BStr::FromAnsi("OK:" + std::to_string(height)).Detach();
}

}  // namespace nib
