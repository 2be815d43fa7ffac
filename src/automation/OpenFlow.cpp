// Opening a document: downloads, the checks of the processing mode, the Word
// driver and the control window.

#include "services/Events.h"
#include "automation/EditCycleClaim.h"
#include "automation/NibWordImpl.h"
#include "services/PageValues.h"
#include "services/Switches.h"
#include "com/BStr.h"
#include "com/StrConv.h"
#include "services/Config.h"
#include "services/Files.h"
#include "services/Locale.h"
#include "services/TextUtil.h"
#include "services/TmpFilesMgr.h"
#include "services/UniqueName.h"
#include "services/WindowUtil.h"
#include "services/AdminLog.h"
#include "ui/FrmProgress.h"
#include "ui/GlobalSign.h"
#include "ui/MessageDialog.h"
#include "word/Editor.h"

namespace nib {
namespace {

bool IsBlank(const std::string& text) { return TrimBlanks(text).empty(); }

void CopyForLog(const std::string& from, const char* to) {
  CreateDirectoryW(L"c:\\tmp", nullptr);
  CopyFileW(AnsiToWide(from).c_str(), AnsiToWide(to).c_str(), FALSE);
}

struct Placement {
  int width, height, top, offset, offsetHt;
};
constexpr Placement kPlacements[] = {
    {800, 600, 5, 90, 10},    {1152, 864, 5, 99, 10},  {1280, 600, 5, 90, 40},   {1280, 720, 9, 35, 55},
    {1280, 768, 5, 125, 75},  {1280, 960, 5, 80, 50},  {1280, 1024, 5, 99, 49},
};

}  // namespace

bool TNibWord::ReadOnly() const {
  const std::string& id = settings_.ProcID;
  return id != "1" && id != "3" && id != "5";
}

bool TNibWord::GwUpload() const {
  return settings_.ProcID == "6" && (settings_.ProcID2 == "3" || settings_.ProcID2 == "4");
}

void TNibWord::Inform(const char* utf8Text, LONG dlgType) {
  BStr text = BStr::FromAnsi("\r\n" + UiText(Gb(utf8Text))), okOnly(L"2");
  MyMessageDlg(text.Get(), dlgType, okOnly.Get(), 0);
}

void TNibWord::StartCycleValues() {
  PageValues& p = Values();
  p.CycleAddressRule = trust_.AsAddressRule();
  // A save mode is the last command's of this cycle: left from an earlier
  // cycle, an only-save would reach the server labelled "SaveAndClose", and a
  // server that finalises a document on it would do so mid-edit.
  p.SaveModeOnlySave = p.SaveModeSaveAndClose = false;
  p.TmpFiles->Reset();
  cycleId_ = NewUniqueName();
  uploadAttempt_ = 0;
  if (!p.EventSink && pageSink_) p.EventSink = MakeForwardingSink(pageSink_);
}

// Before anything is fetched or started: a document nobody can edit here is
// not downloaded, and the clerk hears why instead of nothing.
void TNibWord::RequireEditor() {
  std::optional<Editor> editor = ChooseEditor();
  if (editor) {
    AdminLog("editor: " + editor->name + " (" + WideToAnsi(editor->progId) + "), policy " + EditorPolicy());
    return;
  }
  AdminLog("open refused: no editor installed (Word, WPS Writer), policy " + EditorPolicy());
  std::string text = NoEditorText();
  BStr shown = BStr::FromAnsi("\r\n" + text), okOnly(L"2");
  MyMessageDlg(shown.Get(), kDlgWarning, okOnly.Get(), 0);
  Fail(text, kNoEditorInstalled);
}

void TNibWord::ClaimCycle() {
  if (ClaimEditCycle(this)) return;
  AdminLog("open refused: another page's document is open for editing in this process");
  std::string text = UiText(Gb("已有一个文档正在编辑,请先在它的控制窗口中保存并关闭或关闭它,再打开新的文档!"));
  BStr shown = BStr::FromAnsi("\r\n" + text), okOnly(L"2");
  MyMessageDlg(shown.Get(), kDlgInformation, okOnly.Get(), 0);
  Fail(text, kEditCycleOpenElsewhere);
}

void TNibWord::ReleaseClaimIfNoCycle() {
  if (!driver_ && !ctrlWindow_) ReleaseEditCycle(this);
}

std::string TNibWord::RunOpenFile() {
  AdminLog("open: mode " + settings_.ProcID + (settings_.ProcID2.empty() ? "" : "/" + settings_.ProcID2));
  RequireEditor();
  ClaimCycle();
  htMode_ = std::make_unique<TGlobalSign>(false);
  StartCycleValues();
  WaitCursor cursor;
  reachedDriverOpen_ = false;
  unsentEdit_ = false;
  messageFilter_ = std::make_unique<ScopedMessageFilter>();
  try {
    if (!OpenStep(false)) messageFilter_.reset();  // no cycle to retry Word's calls for
  } catch (const ComError&) {
    // A half-opened cycle must not leave Word or the control window behind.
    AbandonCycle();
    ReleaseClaimIfNoCycle();
    throw;
  }
  ReleaseClaimIfNoCycle();
  if (settings_.ProcID != "3" || !reachedDriverOpen_) return "";
  unattendedSave_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{unattendedSave_};
  return SaveAndClose() == "OK" ? "OK:" + std::to_string(settings_.ConvResult) : "";
}

void TNibWord::RunOpenHtFile() {
  AdminLog("open the red-header document");
  RequireEditor();
  ClaimCycle();
  StartCycleValues();
  unsentEdit_ = false;
  struct ReleaseUnlessOpen {
    TNibWord* self;
    ~ReleaseUnlessOpen() { self->ReleaseClaimIfNoCycle(); }
  } release{this};
  ShowCtrlWindow(true, true);
  htMode_ = std::make_unique<TGlobalSign>(true);
  for (auto [button, enabled] : {std::pair{kBtnCloseAndSave, false}, {kSpbClose, true}, {kSpbShowTrack, false},
                                 {kSpbPrintMode, false}, {kSpbUseTmpl, false}, {kSpbPage1BottomLine, false},
                                 {kSpbHT, true}})
    EnableWindow(ctrlWindow_->Button(button), enabled);
  WaitCursor cursor;
  messageFilter_ = std::make_unique<ScopedMessageFilter>();
  if (!OpenStep(true)) messageFilter_.reset();
}

bool TNibWord::OpenStep(bool ht) {
  PageValues& p = Values();
  settings_.LogInputFiles = SwitchIsOn("LogInputFile");
  p.LocalDocFN.clear();
  p.LocalTmplFN.clear();
  if (!PreOpenCheck()) return false;

  std::string folder = TempFolderPath() + NewUniqueName();
  CreateDirectoryW(AnsiToWide(folder).c_str(), nullptr);
  std::string base = FileNameOfPath(p.DestBaseFN);
  base = base.substr(0, base.size() - ExtensionOfPath(base).size());
  p.LocalDocFN = folder + "\\" + (IsBlank(p.DestBaseFN) ? NewUniqueName() : base) + ".doc";
  p.DocExt = ExtensionOfPath(p.LocalDocFN);
  const std::string& url = ht ? settings_.DownURLHt : p.DownURL;
  if (!IsBlank(url) && !DownloadTo(url, p.LocalDocFN)) {
    // No cycle starts, so no clean-up would ever come for the folder.
    DeleteFileW(AnsiToWide(p.LocalDocFN).c_str());
    RemoveDirectoryW(AnsiToWide(folder).c_str());
    return false;
  }
  if (settings_.LogInputFiles) CopyForLog(p.LocalDocFN, "c:\\tmp\\FLog_OriDoc.doc");
  p.TmpFiles->Add(TTmpFilesMgr::kFile, p.LocalDocFN);
  p.TmpFiles->Add(TTmpFilesMgr::kFolder, folder);

  bool needTemplate = ht ? settings_.IsPrinter : true;
  if (needTemplate && !DownloadTemplate()) {
    if (ht || settings_.IsPrinter) {
      MessageBoxW(nullptr, AnsiToWide(UiText(Gb("没有找到模板!"))).c_str(), L"", MB_OK);
      if (ctrlWindow_) EnableWindow(ctrlWindow_->Button(kSpbHT), FALSE);
      return false;
    }
  }
  if (!PrepareEditor()) return false;
  ShowCtrlWindow(ht || settings_.ProcID != "3", ht);
  ctrlWindow_->SetToolBarEnabled(VARIANT_FALSE, VARIANT_FALSE);
  struct Reenable {
    TFrmUserCtrlPop* window;
    ~Reenable() { window->SetToolBarEnabled(VARIANT_TRUE, VARIANT_TRUE); }
  } reenable{ctrlWindow_.get()};
  try {
    if (!p.RevPassword.empty()) {
      BStr password = BStr::FromAnsi(p.RevPassword);
      ThrowIfFailed(driver_->SetRvePassWord(password.Get()), "SetRvePassWord");
    }
    reachedDriverOpen_ = true;
    if (ht) {
      driver_->StartEdtAppAndOpenHtDoc();
    } else {
      BStr id = BStr::FromAnsi(settings_.ProcID), id2 = BStr::FromAnsi(settings_.ProcID2);
      driver_->StartEdtAppAndOpenDoc(id.Get(), id2.Get());
    }
    AdminLog("Word started, the document is open");
    if (p.IsSetFont) {
      BStr font = BStr::FromAnsi(p.FontName);
      ThrowIfFailed(driver_->SetFontByWebPage(font.Get(), settings_.FontSize, p.FontColorR, p.FontColorG,
                                              p.FontColorB),
                    "SetFontByWebPage");
    }
  } catch (const ComError& e) {
    AdminLogError("starting Word and opening the document", e.Code(), e.what());
    if (!ht) throw;  // the red-header open keeps quiet
  }
  return true;
}

bool TNibWord::PreOpenCheck() {
  if (ReadOnly() && settings_.Drafting) {
    Inform("只读状态下不能起草文档!", kDlgInformation);
    return false;
  }
  if (settings_.ProcID == "6") {
    settings_.IsPrinter = true;
    if (IsBlank(Values().DocTmplDLURL)) {
      Inform("打印时必须提供模板的下载地址!", kDlgInformation);
      return false;
    }
    if ((settings_.XMLGetType != 1 && settings_.XMLGetType != 2) || IsBlank(settings_.XMLCont)) {
      Inform("打印时必须提供XML文件的下载地址!", kDlgInformation);
      return false;
    }
  }
  return true;
}

bool TNibWord::DownloadTo(const std::string& url, const std::string& file) {
  WaitCursor cursor;
  std::string reason;
  {
    TFrmProgress progress(Values().ControlWindow);  // a large document takes a while: shown from half a second on
    if (TJustHttp::DownloadToFile(url, file, trust_.AsAddressRule(), &reason)) return true;
  }
  // The message as users know it, then why.
  BStr text = BStr::FromAnsi("\r\n" + UiText(Gb("不能正确下载目标文档! ")) + "\r\n" + url + "\r\n" +
                             UiText(Gb("原因: ") + reason)),
       okOnly(L"2");
  MyMessageDlg(text.Get(), kDlgInformation, okOnly.Get(), 0);
  return false;
}

bool TNibWord::DownloadTemplate() {
  PageValues& p = Values();
  if (IsBlank(p.DocTmplDLURL)) return true;
  if (p.LocalTmplFN.empty()) p.LocalTmplFN = TempFolderPath() + NewUniqueName() + ".doc";
  if (!DownloadTo(p.DocTmplDLURL, p.LocalTmplFN)) return false;
  p.TmpFiles->Add(TTmpFilesMgr::kFile, p.LocalTmplFN);
  if (settings_.LogInputFiles) CopyForLog(p.LocalTmplFN, "c:\\tmp\\FLog_TmplDoc.doc");
  return true;
}

bool TNibWord::PrepareEditor() {
  const PageValues& p = Values();
  driver_ = TCommEdt_NibWord::Create(values_);
  driver_->RevisionFN = settings_.RevisionFN;
  driver_->OnEdtStsNotify = [this](long app, long item, long sts) { OnEdtStsNotify(app, item, sts); };
  ThrowIfFailed(driver_->SetICommGUI(this), "SetICommGUI");
  BStr dest = BStr::FromAnsi(p.LocalDocFN), tmpl = BStr::FromAnsi(p.LocalTmplFN);
  ThrowIfFailed(driver_->SetDestFN(dest.Get()), "SetDestFN");
  ThrowIfFailed(driver_->SetIsPrinter(settings_.IsPrinter ? VARIANT_TRUE : VARIANT_FALSE), "SetIsPrinter");
  ThrowIfFailed(driver_->SetDocTmplFN(tmpl.Get()), "SetDocTmplFN");
  if (settings_.ProcID != "5") {
    // For an address (kind 2) the driver gets what was fetched from it, not
    // the address: the fill parses what it is given.
    BStr xml = BStr::FromAnsi(p.XMLContent);
    ThrowIfFailed(driver_->SetXMLCont(settings_.XMLGetType, xml.Get()), "SetXMLCont");
  }
  BStr user = BStr::FromAnsi(p.UserName);
  ThrowIfFailed(driver_->SetUserName(user.Get()), "SetUserName");
  bool forced = !settings_.Drafting && !ReadOnly() && !settings_.IsAdmin && settings_.ProcID != "3";
  ThrowIfFailed(driver_->setSaveTrack(forced ? VARIANT_TRUE : VARIANT_FALSE), "setSaveTrack");
  bool marks = settings_.ShowTrack && settings_.ProcID != "3";
  ThrowIfFailed(driver_->setTrackRev(marks ? VARIANT_TRUE : VARIANT_FALSE), "setTrackRev");
  ThrowIfFailed(driver_->SetHtmWidth(settings_.HtmWidth), "SetHtmWidth");
  return true;
}

void TNibWord::OnEdtStsNotify(long implAppId, long stsItemId, long stsId) {
  if (implAppId != 0 || stsItemId < 0 || stsItemId > 2 || !ctrlWindow_) return;
  ctrlWindow_->ProcEdtStsNotify(0, stsItemId, stsId);
}

void TNibWord::ShowCtrlWindow(bool place, bool ht) {
  if (!ctrlWindow_) {
    ctrlWindow_ = std::make_unique<TFrmUserCtrlPop>(values_);
    ThrowIfFailed(ctrlWindow_->setInnerFuncIntf(this), "setInnerFuncIntf");
  }
  HWND window = ctrlWindow_->Window();
  auto widthOf = [](HWND button) {
    RECT r;
    GetWindowRect(button, &r);
    return static_cast<int>(r.right - r.left);
  };
  RECT closeRect;
  GetWindowRect(ctrlWindow_->Button(kBtnCloseAndSave), &closeRect);
  int toolbarHeight = (closeRect.bottom - closeRect.top) + 5, toolbarWidth = 40;
  for (CtrlButton button : {kBtnCloseAndSave, kSpbClose, kSpbShowTrack, kSpbPrintMode, kSpbUseTmpl,
                            kSpbPage1BottomLine, kSpbHT, kSBInsertFile})
    toolbarWidth += widthOf(ctrlWindow_->Button(button));
  SetWindowPos(ctrlWindow_->Toolbar(), nullptr, 0, 0, toolbarWidth, toolbarHeight, SWP_NOMOVE | SWP_NOZORDER);
  int width = ht ? toolbarWidth - 60 : toolbarWidth + 20;
  RECT frame;
  GetWindowRect(window, &frame);
  int left = frame.left, top = frame.top;
  if (place) {
    int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    top = 5;
    if (screenWidth == 1024 && screenHeight == 768) left = width / 2 - 20 + (ht ? 30 : 0);
    for (const Placement& placement : kPlacements) {
      if (placement.width != screenWidth || placement.height != screenHeight) continue;
      top = placement.top;
      left = (screenWidth - width) / 2 + (ht ? placement.offsetHt : placement.offset);
      break;
    }
  }
  SetWindowPos(window, nullptr, left, top, width, toolbarHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  if (ht) {
    try {
      ctrlWindow_->Show();
    } catch (const ComError& e) {
      MessageBoxW(nullptr, AnsiToWide(e.what()).c_str(), L"", MB_OK);
    }
    return;
  }
  ctrlWindow_->Show();
  HideButtonsForMode();
}

void TNibWord::HideButtonsForMode() {
  TFrmUserCtrlPop& window = *ctrlWindow_;
  if (settings_.ProcID == "5" || !settings_.IsPrinter) {
    window.SetBtnsHidden(0);
    window.SetBtnsHidden(1);
  }
  if (settings_.ProcID == "6") {
    if (!GwUpload()) {
      for (LONG id : {2, 1, 6}) window.SetBtnsHidden(id);
    } else if (settings_.ProcID2 == "3") {
      window.SetBtnsHidden(3);
    } else if (settings_.ProcID2 == "4") {
      window.SetBtnsHidden(5);
    }
  }
  window.SetBtnsHidden(4);
}

}  // namespace nib
