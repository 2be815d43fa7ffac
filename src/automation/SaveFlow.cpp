// Ending an edit cycle: the control window's commands (IInnerFunc), saving,
// converting, uploading, judging the reply, telling the page, cleaning up.

#include <cmath>

#include "services/Events.h"
#include "automation/EditCycleClaim.h"
#include "automation/NibWordImpl.h"
#include "services/WebAddress.h"
#include "services/PageValues.h"
#include "services/Switches.h"
#include "com/BStr.h"
#include "com/StrConv.h"
#include "com/Dispatch.h"
#include "convert/MSDocConvter.h"
#include "services/Files.h"
#include "services/Locale.h"
#include "services/TextUtil.h"
#include "services/TmpFilesMgr.h"
#include "services/WindowUtil.h"
#include "services/AdminLog.h"
#include "services/Progress.h"
#include "services/TransferReason.h"
#include "ui/FrmProgress.h"
#include "ui/GlobalSign.h"
#include "ui/MessageDialog.h"

namespace nib {
namespace {

double FileSizeK(const std::string& file) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(AnsiToWide(file).c_str(), GetFileExInfoStandard, &data)) return 0;
  ULARGE_INTEGER size{{data.nFileSizeLow, data.nFileSizeHigh}};
  return static_cast<double>(size.QuadPart) / 1024.0;
}

void PlainMessage(const std::string& gbText, const char* utf8Caption = "") {
  EndProgressDisplay();
  // In Big5 on traditional systems, as every other message.
  MessageBoxW(nullptr, AnsiToWide(UiText(gbText)).c_str(), AnsiToWide(UiText(Gb(utf8Caption))).c_str(), MB_OK);
}


}  // namespace

// The page's own event, on this object's thread: a cycle is driven only from
// the thread of the object that opened it.
void TNibWord::Fire(const std::string& p1, const std::string& p2, const std::string& p3, const Arg& p4,
                    const Arg& p5) {
  FireOnEventStart(Values().EventSink.Get(), p1, p2, p3, *p4.Get(), *p5.Get());
}

// --- IInnerFunc ---------------------------------------------------------------------------

STDMETHODIMP TNibWord::ProcQuit(VARIANT_BOOL bForceQuit, BSTR* Value) {
  if (!Value) return E_POINTER;
  *Value = nullptr;
  return CommandBoundary(Value, [&] {
    Quit(bForceQuit != VARIANT_FALSE);
    return std::string();
  });
}

STDMETHODIMP TNibWord::ProcSaveAndClose(BSTR* Value) {
  if (!Value) return E_POINTER;
  *Value = nullptr;
  return CommandBoundary(Value, [&] { return SaveAndCloseTold(); });
}

STDMETHODIMP TNibWord::IsReadOnly(VARIANT_BOOL* Value) {
  if (!Value) return E_POINTER;
  *Value = ReadOnly() ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP TNibWord::ProcUserSetEdtSts(LONG ImplAppId, LONG StsItemId, LONG StsId) {
  Microsoft::WRL::ComPtr<TNibWord> keepAlive(this);  // the template switch pumps messages for a second
  return Boundary([&] {
    if (!WatchingForWord([&] { SetEdtSts(ImplAppId, StsItemId, StsId); })) FailWordGone();
  });
}

STDMETHODIMP TNibWord::ProcTest(LONG, BSTR, BSTR) { return S_OK; }

STDMETHODIMP TNibWord::getProcID(LONG ProcIdIdx, BSTR* Value) {
  if (!Value) return E_POINTER;
  std::string id = ProcIdIdx == 1 ? settings_.ProcID : ProcIdIdx == 2 ? settings_.ProcID2 : "";
  *Value = BStr::FromAnsi(id).Detach();
  return S_OK;
}

STDMETHODIMP TNibWord::ProcSave(VARIANT_BOOL IsHt, BSTR* Value) {
  if (!Value) return E_POINTER;
  *Value = nullptr;
  return CommandBoundary(Value, [&] { return Save(IsHt != VARIANT_FALSE); });
}

STDMETHODIMP TNibWord::InsertFile() {
  return Boundary([&] {
    if (!driver_) Fail("InsertFile: no document is open");
    if (!WatchingForWord([&] { ThrowIfFailed(driver_->InsertFile(), "InsertFile"); })) FailWordGone();
  });
}

STDMETHODIMP TNibWord::AccpetAllRevision_() {
  return Boundary([&] {
    if (!driver_) Fail("AccpetAllRevision_: no document is open");
    if (!WatchingForWord([&] { driver_->MakeRevisionCopy(); })) FailWordGone();
  });
}

// The save and quit commands: the object stays alive while they pump
// messages (the page may let go of it meanwhile), Word gone underneath ends
// the cycle, told, with an empty result, and Word busy (or one of its dialogs
// open) past the wait is told too, the cycle kept to be retried or closed once
// Word answers. (The saves tell their own failures, refused calls included.)
template <class Command>
HRESULT TNibWord::CommandBoundary(BSTR* value, Command&& command) {
  Microsoft::WRL::ComPtr<TNibWord> keepAlive(this);
  return Boundary([&] {
    std::string result;
    try {
      if (!WatchingForWord([&] { result = command(); })) result.clear();
    } catch (const ComError& e) {
      if (!IsRejectedCall(e.Code())) throw;
      BStr text = BStr::FromAnsi("\r\n" + UiText(RejectedCallText())), okOnly(L"2");
      MyMessageDlg(text.Get(), kDlgWarning, okOnly.Get(), 0);
      result.clear();
    }
    *value = BStr::FromAnsi(result).Detach();
  });
}

// The HRESULT members' answer once Word vanished and the cycle ended: a
// failure, so that the window's command stops (its window is gone).
void TNibWord::FailWordGone() { Fail("Word is gone: the edit cycle has ended", RPC_E_DISCONNECTED); }

// False when Word vanished during `step` and the cycle was ended.
template <class Step>
bool TNibWord::WatchingForWord(Step&& step) {
  try {
    step();
    return true;
  } catch (const ComError& e) {
    if (!IsServerGone(e.Code()) || !driver_) throw;
    EndCycleWithoutWord();
    return false;
  }
}

void TNibWord::SetEdtSts(LONG implAppId, LONG stsItemId, LONG stsId) {
  if (implAppId != 0) return;
  if (!driver_) Fail("no document is open");
  VARIANT_BOOL on = stsId == 0 ? VARIANT_TRUE : VARIANT_FALSE;
  switch (stsItemId) {
    case 0: ThrowIfFailed(driver_->setTrackRev(on), "setTrackRev"); break;
    case 1: ThrowIfFailed(driver_->SetPrintMode(on), "SetPrintMode"); break;
    case 2: ThrowIfFailed(driver_->SetUseTmpl(on), "SetUseTmpl"); break;
    case 3: ThrowIfFailed(driver_->SetBottomLine(), "SetBottomLine"); break;
  }
}

// --- upload ----------------------------------------------------------------------------------

bool TNibWord::ReplyIsSuccess(const std::string& reply) const {
  const std::string& prefix = Values().SucceedPrefix;
  return reply.size() >= prefix.size() && TextEquals(reply.substr(0, prefix.size()), prefix);
}

// Every upload of a cycle names the cycle and counts its attempts, so that a
// server can tell the user's retry of a save it stored (its reply lost, or
// not understood) from a new save; servers that do not know the headers
// ignore them.
void TNibWord::NameUploadAttempt() {
  ++uploadAttempt_;
  http_.SetUploadHeaders(L"X-NibWord-Cycle: " + AnsiToWide(cycleId_) + L"\r\nX-NibWord-Attempt: " +
                         std::to_wstring(uploadAttempt_) + L"\r\n");
}

bool TNibWord::UploadWithSaveMode(const std::string& file) {
  PageValues& p = Values();
  NameUploadAttempt();
  if (p.SaveModeOnlySave) p.UpURL = WithQueryParameter(p.UpURLBase, "isSave=OnlySave");
  if (p.SaveModeSaveAndClose) p.UpURL = WithQueryParameter(p.UpURLBase, "isSave=SaveAndClose");
  std::string reply = http_.UploadFile(p.UpURL, file);
  p.UpURL = p.UpURLBase;
  // A reply that never arrived is no success, whatever the prefix.
  return http_.LastUploadDelivered() && ReplyIsSuccess(reply);
}

bool TNibWord::UploadHt(const std::string& file) {
  NameUploadAttempt();
  std::string reply = http_.UploadFile(settings_.UpURLHt, file);
  return http_.LastUploadDelivered() && ReplyIsSuccess(reply);
}

std::string TNibWord::ConvertForUpload(const std::string& file) {
  SetProgressStage(ProgressStage::kConvert);
  SetEdtSts(0, 0, 1);
  TMSDocConvter converter;
  converter.UseWord(Values().WordApplication.Get());
  converter.OnHtmlConvtOK = [this](const std::string& html) {
    BStr name = BStr::FromAnsi(html);
    std::string reply = BstrToAnsi(BStr::Attach(driver_->procQozerOnHtmlConvtOK(name.Get())).Get());
    int number = -1;
    settings_.ConvResult = reply.rfind("OK", 0) == 0 && TryTextToInt(TextAfter(reply, "OK:"), number) ? number : -1;
    SetProgressStage(ProgressStage::kPack);  // the page is written; the archive comes next
  };
  std::string archive = converter.Convert(file, true, true);
  AdminLog("converted to HTML and packed: " + (archive.empty() ? std::string("no archive")
                                                                : std::to_string(static_cast<long long>(FileSizeK(archive) * 1024)) + " bytes"));
  return archive;
}

void TNibWord::SetControlsEnabled(bool enabled) {
  if (!ctrlWindow_) return;
  EnableWindow(ctrlWindow_->Button(kSpbClose), enabled);
  EnableWindow(ctrlWindow_->Button(kSBInsertFile), enabled);
  ctrlWindow_->SetTimerRunning(enabled);
}

void TNibWord::RegisterUploadFile(const std::string& file) {
  if (GwUpload()) return;
  Values().TmpFiles->Add(TTmpFilesMgr::kFolder, FolderOfPath(file));
  Values().TmpFiles->Add(TTmpFilesMgr::kFile, file);
}

void TNibWord::ShowTestModeMessage() {
  std::string text = UiText(Gb("\r\n因为配置文件中设置参数为\"不上传文件\",所以文件未上传\r\n!(供测试使用)"));
  ShowMessageDialog(text, kDlgInformation, 1u << kOk, 0);
}

// The message as users know it; when the transfer's own message did not show
// why (the server answered, but not with success; a time-out; a cancel), the
// reason follows on a line of its own.
void TNibWord::ShowUploadFailed() {
  const UploadResult& last = http_.LastUpload();
  std::string reason = last.delivered ? Gb("服务器回答: ") + ReplyAsText(last.reply, last.contentType) : last.reason;
  if (reason.empty() || last.reasonTold) return Inform("文件上传未成功,请稍后再试!", kDlgWarning);
  BStr text = BStr::FromAnsi("\r\n" + UiText(Gb("文件上传未成功,请稍后再试!") + "\r\n" + Gb("原因: ") + reason)),
       okOnly(L"2");
  MyMessageDlg(text.Get(), kDlgWarning, okOnly.Get(), 0);
}

void TNibWord::InformWithPath(const char* utf8Text, const std::string& path) {
  BStr text = BStr::FromAnsi("\r\n" + UiText(Gb(utf8Text)) + "\r\n" + path), okOnly(L"2");
  MyMessageDlg(text.Get(), kDlgWarning, okOnly.Get(), 0);
}

void TNibWord::ShowSaveFailed(const ComError& error) {
  std::string reason = IsRejectedCall(error.Code()) ? RejectedCallText() : std::string(error.what());
  BStr text = BStr::FromAnsi("\r\n" + UiText(Gb("文档保存未成功:")) + "\r\n" + reason), okOnly(L"2");
  MyMessageDlg(text.Get(), kDlgWarning, okOnly.Get(), 0);
}

// Word's save, told to the user when it fails: false then, and nothing of
// the failed save may go on to the server.
bool TNibWord::SaveInWord() {
  SetProgressStage(ProgressStage::kSaveDocument);
  try {
    bool saved = driver_->SaveDoc() != VARIANT_FALSE;
    unsentEdit_ = unsentEdit_ || saved;
    AdminLog(saved ? "Word saved the document" : "Word did not save the document");
    return saved;
  } catch (const ComError& e) {
    AdminLogError("Word's save", e.Code(), e.what());
    if (IsServerGone(e.Code())) throw;
    ShowSaveFailed(e);
    return false;
  }
}

// --- the sequences ----------------------------------------------------------------------------

std::string TNibWord::SaveAndClose() {
  TFrmProgress progress(Values().ControlWindow);  // shown from half a second on, gone once the outcome is known
  AdminLog("save and close");
  SetEdtSts(0, 0, 1);
  if (!SaveInWord()) return "";
  const std::string& local = Values().LocalDocFN;
  std::string file = GwUpload() ? local : ConvertForUpload(local);
  if (FileSizeK(file) > settings_.FileSizeLmt) {
    PlainMessage(Gb("文件大小不能超过") + std::to_string(static_cast<long long>(std::trunc(settings_.FileSizeLmt))) +
                 "K");
    if (ctrlWindow_) EnableWindow(ctrlWindow_->Button(kSpbClose), TRUE);
    return "";
  }
  bool uploaded = false, noUpload = NoUploadMode();
  if (!file.empty()) {
    RegisterUploadFile(file);
    if (noUpload) {
      ShowTestModeMessage();
    } else if (!(uploaded = UploadWithSaveMode(file))) {
      ShowUploadFailed();
      return "NoSave";  // Word stays open for another try
    }
  }
  if (!noUpload && !uploaded) return "";
  // The cycle ends before the page hears of it: a page that opens its next
  // document from the event must find nothing of this cycle left to end.
  EndCycle();
  if (SaveIsTold()) {
    bool gw = GwUpload();
    Fire(gw ? "GWQuit" : "quit", "Save", gw ? "0" : std::to_string(settings_.ConvResult), Arg(L"a"), Arg(L"b"));
  }
  return "OK";
}

std::string TNibWord::Save(bool isHt) {
  TFrmProgress progress(Values().ControlWindow);  // shown from half a second on, gone once the outcome is known
  AdminLog(isHt ? "save the red-header document" : "save");
  SetControlsEnabled(false);
  // Whatever the outcome, the cycle stays open: the user gets the controls back.
  struct GiveBack {
    TNibWord* self;
    ~GiveBack() { self->SetControlsEnabled(true); }
  } giveBack{this};
  return SaveFailureTold([&] {
    SetEdtSts(0, 0, 1);
    if (!SaveInWord()) return std::string();
    return isHt ? SaveRedHeader() : SaveForPage();
  });
}

// The user's "保存并关闭": a failure is told, never only dropped by the window.
std::string TNibWord::SaveAndCloseTold() {
  return SaveFailureTold([&] { return SaveAndClose(); });
}

// A save that fails (Word refusing, the conversion failing) is told to the
// user and answers empty; Word gone is left to WatchingForWord.
template <class SaveSteps>
std::string TNibWord::SaveFailureTold(SaveSteps&& steps) {
  try {
    return steps();
  } catch (const ComError& e) {
    if (IsServerGone(e.Code())) throw;
    ShowSaveFailed(e);
    return "";
  }
}

std::string TNibWord::SaveForPage() {
  std::string file = GwUpload() ? Values().LocalDocFN : ConvertForUpload(Values().LocalDocFN);
  if (file.empty()) return "";
  RegisterUploadFile(file);
  if (NoUploadMode()) {
    ShowTestModeMessage();
  } else if (UploadWithSaveMode(file)) {
    unsentEdit_ = false;
    PlainMessage(Gb("保存成功!"), "提示");
  } else {
    ShowUploadFailed();
    return "";
  }
  if (SaveIsTold()) {
    bool gw = GwUpload();
    Fire(gw ? "GWQuit" : "quit", "TempSave", gw ? "0" : std::to_string(settings_.ConvResult), Arg::Empty(),
         Arg::Empty());
  }
  return "OK";
}

// The red-header copy is the document with every revision accepted. Word
// works on the working copy itself while the copy is made and converted;
// afterwards, on every path, the working copy gets its revisions back and is
// open in Word again.
std::string TNibWord::SaveRedHeader() {
  const std::string& local = Values().LocalDocFN;
  bool uploaded = false;
  try {
    driver_->MakeRevisionCopy();
    uploaded = UploadRedHeaderCopy(local);
  } catch (const ComError& e) {
    if (IsServerGone(e.Code())) throw;
    // Failing before the untouched copy exists, Word still has the working
    // copy itself; after it, Word's document is a copy under another name
    // (perhaps with its revisions accepted) and the working copy is given back.
    if (driver_->RevisionCopyMade()) RestoreRevisions(local);
    throw;
  }
  RestoreRevisions(local);
  if (!uploaded) return "";
  PlainMessage(Gb("保存成功!"), "提示");
  return "OK";
}

bool TNibWord::UploadRedHeaderCopy(const std::string& local) {
  if (!CopyFileW(AnsiToWide(driver_->RevisionFN).c_str(), AnsiToWide(local).c_str(), FALSE)) {
    PlainMessage(Gb("生成红头文件出错"));
    return false;
  }
  driver_->ReopenDoc();
  std::string file = GwUpload() ? local : ConvertForUpload(local);
  if (file.empty()) return false;
  RegisterUploadFile(file);
  if (NoUploadMode()) {
    ShowTestModeMessage();
    return true;
  }
  if (UploadHt(file)) return true;
  ShowUploadFailed();
  return false;
}

void TNibWord::RestoreRevisions(const std::string& local) {
  driver_->CloseDocNoSave();
  // Word may hold the file a moment after closing it.
  bool copied = false;
  for (int attempt = 0; attempt < 10 && !copied; ++attempt) {
    copied = CopyFileW(AnsiToWide(driver_->OriRevisionFN).c_str(), AnsiToWide(local).c_str(), FALSE) != FALSE;
    if (!copied) DelayWithMessages(200);
  }
  try {
    driver_->ReopenDoc();
  } catch (const ComError& e) {
    if (IsServerGone(e.Code())) throw;
    // Word cannot open it again: the user learns where it is, and 关闭 still
    // ends the cycle (nothing in Word is left unsaved).
    InformWithPath("工作文档未能在Word中重新打开,文档保存在:", local);
  }
  if (!copied) {
    // The copy with the revisions is all the user has now: it moves out of
    // the cycle's folder, which the clean-up deletes, into the user's own
    // temporary folder.
    std::string kept = TempFolderPath() + FileNameOfPath(driver_->OriRevisionFN);
    if (!MoveFileExW(AnsiToWide(driver_->OriRevisionFN).c_str(), AnsiToWide(kept).c_str(),
                     MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING))
      kept = driver_->OriRevisionFN;
    InformWithPath("工作文档未能恢复修订痕迹,带修订痕迹的文档保存在:", kept);
  }
}

void TNibWord::Quit(bool forceQuit) {
  bool templateApplied = false;
  if (ctrlWindow_) {
    wchar_t caption[64] = L"";
    GetWindowTextW(ctrlWindow_->Button(kSpbUseTmpl), caption, 64);
    templateApplied = std::wstring(caption) != AnsiToWide("套用模板", CP_UTF8);
  }
  if (!forceQuit) {
    // A document saved in Word whose upload failed is still the user's
    // unsent edit: the clean-up would delete it without asking. The
    // red-header document is the user's to edit as well.
    bool editable = !ReadOnly() || HtModeIsSet(htMode_);
    bool ask = GwUpload() || (editable && driver_ && (driver_->getSaved() == VARIANT_FALSE || unsentEdit_));
    if (ask && !templateApplied) {
      std::wstring text = AnsiToWide("\r\n" + UiText(Gb("您对文档进行了修改,是否要保存?")));
      if (MessageBoxW(nullptr, text.c_str(), AnsiToWide("确认", CP_UTF8).c_str(), MB_YESNO) == IDYES) {
        // Only a save that reached the server ends the cycle: otherwise Word
        // keeps the edit and the user can try again.
        if (HtModeIsSet(htMode_)) {
          if (Save(true) == "OK") EndCycle();
        } else {
          SaveAndCloseTold();
        }
        return;
      }
    }
  }
  // Word's Application as the page last knew it; empty when Word never started.
  Arg word = Values().WordApplication ? Arg(Values().WordApplication.Get()) : Arg::Empty();
  EndCycle();
  Fire("quit", "NoSave", "", word, word);
}

void TNibWord::AbandonCycle() noexcept {
  try {
    EndCycle();
  } catch (const ComError&) {
    // Word is gone already or refuses: the error that brought us here counts.
  }
}

// The cycle's parts go: the control window (and its link to this object), the
// driver (Word asked to quit, or only let go of when it is gone), the cycle's
// flag and message filter.
void TNibWord::CloseCycleParts(bool quitWord) {
  // Whatever Word answers to the quit, the cycle is over: this page or
  // another may open the next document.
  struct ReleaseClaim {
    TNibWord* owner;
    ~ReleaseClaim() {
      owner->htMode_.reset();
      owner->messageFilter_.reset();
      ReleaseEditCycle(owner);
    }
  } release{this};
  ctrlWindow_.reset();
  if (driver_) {
    Microsoft::WRL::ComPtr<TCommEdt_NibWord> driver = std::move(driver_);
    if (quitWord)
      driver->AppQuit();
    else
      driver->LetGo();
  }
}

void TNibWord::EndCycle() {
  AdminLog("cycle ends: Word asked to quit, temporary files removed");
  CloseCycleParts(true);
  // Last, because it pumps messages for a second or more: a page that starts
  // its next cycle meanwhile finds this one fully ended. The list is held
  // here, as the object that owns it may go away during the wait, and a
  // cycle this object opens meanwhile has a list of its own.
  std::shared_ptr<TTmpFilesMgr> files = Values().TmpFiles;
  Values().TmpFiles = std::make_shared<TTmpFilesMgr>();
  if (!SwitchIsOn("NoClearTmpFiles")) files->Cleanup(1000, 50);
}

void TNibWord::EndCycleWithoutWord() {
  AdminLog("cycle ends: Word is gone, the working copy is kept");
  std::string kept = Values().LocalDocFN;
  InformWithPath("Word已意外关闭,本次编辑已结束。最近一次保存的文档保留在:", kept);
  CloseCycleParts(false);
  // The temporary files stay: the working copy holds the last save.
  Fire("quit", "NoSave", "", Arg::Empty(), Arg::Empty());
}

}  // namespace nib
