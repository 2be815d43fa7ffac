// Ending an edit cycle: the control window's commands (IInnerFunc), saving,
// converting, uploading, judging the reply, telling the page, cleaning up.

#include <cmath>

#include "automation/Events.h"
#include "automation/NibWordImpl.h"
#include "automation/ProcessValues.h"
#include "automation/Switches.h"
#include "com/BStr.h"
#include "com/StrConv.h"
#include "com/Dispatch.h"
#include "convert/MSDocConvter.h"
#include "services/Files.h"
#include "services/Locale.h"
#include "services/TextUtil.h"
#include "services/TmpFilesMgr.h"
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
  MessageBoxW(nullptr, AnsiToWide(gbText).c_str(), AnsiToWide(utf8Caption, CP_UTF8).c_str(), MB_OK);
}

void Fire(const std::string& p1, const std::string& p2, const std::string& p3, const Arg& p4, const Arg& p5) {
  if (Process().EventSink) FireOnEventStart(p1, p2, p3, *p4.Get(), *p5.Get());
}

}  // namespace

// --- IInnerFunc ---------------------------------------------------------------------------

STDMETHODIMP TNibWord::ProcQuit(VARIANT_BOOL bForceQuit, BSTR* Value) {
  if (!Value) return E_POINTER;
  *Value = nullptr;
  return Boundary([&] {
    Quit(bForceQuit != VARIANT_FALSE);
    *Value = BStr::FromAnsi("").Detach();
  });
}

STDMETHODIMP TNibWord::ProcSaveAndClose(BSTR* Value) {
  if (!Value) return E_POINTER;
  *Value = nullptr;
  return Boundary([&] { *Value = BStr::FromAnsi(SaveAndClose()).Detach(); });
}

STDMETHODIMP TNibWord::IsReadOnly(VARIANT_BOOL* Value) {
  if (!Value) return E_POINTER;
  *Value = ReadOnly() ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP TNibWord::ProcUserSetEdtSts(LONG ImplAppId, LONG StsItemId, LONG StsId) {
  return Boundary([&] { SetEdtSts(ImplAppId, StsItemId, StsId); });
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
  return Boundary([&] { *Value = BStr::FromAnsi(Save(IsHt != VARIANT_FALSE)).Detach(); });
}

STDMETHODIMP TNibWord::InsertFile() {
  return Boundary([&] {
    if (!driver_) Fail("InsertFile: no document is open");
    ThrowIfFailed(driver_->InsertFile(), "InsertFile");
  });
}

STDMETHODIMP TNibWord::AccpetAllRevision_() {
  return Boundary([&] {
    if (!driver_) Fail("AccpetAllRevision_: no document is open");
    driver_->MakeRevisionCopy();
  });
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
  const std::string& prefix = Process().SucceedPrefix;
  return reply.size() >= prefix.size() && TextEquals(reply.substr(0, prefix.size()), prefix);
}

bool TNibWord::UploadWithSaveMode(const std::string& file) {
  ProcessValues& p = Process();
  if (p.SaveModeOnlySave) p.UpURL = p.UpURLBase + "&isSave=OnlySave";
  if (p.SaveModeSaveAndClose) p.UpURL = p.UpURLBase + "&isSave=SaveAndClose";
  std::string reply = http_.UploadFile(p.UpURL, file);
  p.UpURL = p.UpURLBase;
  // A reply that never arrived is no success, whatever the prefix.
  return http_.LastUploadDelivered() && ReplyIsSuccess(reply);
}

bool TNibWord::UploadHt(const std::string& file) {
  std::string reply = http_.UploadFile(settings_.UpURLHt, file);
  return http_.LastUploadDelivered() && ReplyIsSuccess(reply);
}

std::string TNibWord::ConvertForUpload(const std::string& file) {
  SetEdtSts(0, 0, 1);
  TMSDocConvter converter;
  converter.OnHtmlConvtOK = [this](const std::string& html) {
    BStr name = BStr::FromAnsi(html);
    std::string reply = BstrToAnsi(BStr::Attach(driver_->procQozerOnHtmlConvtOK(name.Get())).Get());
    int number = -1;
    settings_.ConvResult = reply.rfind("OK", 0) == 0 && TryTextToInt(TextAfter(reply, "OK:"), number) ? number : -1;
  };
  return converter.Convert(file, true, true);
}

void TNibWord::SetControlsEnabled(bool enabled) {
  if (!ctrlWindow_) return;
  EnableWindow(ctrlWindow_->Button(kSpbClose), enabled);
  EnableWindow(ctrlWindow_->Button(kSBInsertFile), enabled);
  ctrlWindow_->SetTimerRunning(enabled);
}

void TNibWord::RegisterUploadFile(const std::string& file) {
  if (GwUpload() || !TmpFilesManager()) return;
  TmpFilesManager()->Add(TTmpFilesMgr::kFolder, FolderOfPath(file));
  TmpFilesManager()->Add(TTmpFilesMgr::kFile, file);
}

void TNibWord::ShowTestModeMessage() {
  std::string text = UiText(Gb("\r\n因为配置文件中设置参数为\"不上传文件\",所以文件未上传\r\n!(供测试使用)"));
  ShowMessageDialog(text, kDlgInformation, 1u << kOk, 0);
}

void TNibWord::ShowUploadFailed() { Inform("文件上传未成功,请稍后再试!", kDlgWarning); }

// --- the sequences ----------------------------------------------------------------------------

std::string TNibWord::SaveAndClose() {
  SetEdtSts(0, 0, 1);
  if (!driver_->SaveDoc()) return "";
  const std::string& local = Process().LocalDocFN;
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
  if (settings_.ProcID != "3") {
    bool gw = GwUpload();
    Fire(gw ? "GWQuit" : "quit", "Save", gw ? "0" : std::to_string(settings_.ConvResult), Arg(L"a"), Arg(L"b"));
  }
  EndCycle();
  return "OK";
}

std::string TNibWord::Save(bool isHt) {
  SetControlsEnabled(false);
  SetEdtSts(0, 0, 1);
  try {
    if (!driver_->SaveDoc()) {
      SetControlsEnabled(true);
      return "";
    }
  } catch (const ComError&) {
    // The save goes on with what Word has on disk.
  }
  std::string& local = Process().LocalDocFN;
  if (isHt) {
    driver_->MakeRevisionCopy();
    if (!CopyFileW(AnsiToWide(kRevisionFN).c_str(), AnsiToWide(local).c_str(), FALSE)) {
      PlainMessage(Gb("生成红头文件出错"));
      SetControlsEnabled(true);  // the user must still be able to save again or close
      return "";
    }
    driver_->ReopenDoc();
  }
  std::string file = GwUpload() ? local : ConvertForUpload(local);
  bool uploaded = false, noUpload = NoUploadMode();
  if (!file.empty()) {
    RegisterUploadFile(file);
    if (noUpload) {
      ShowTestModeMessage();
      SetControlsEnabled(true);
    } else {
      if (isHt) {
        uploaded = UploadHt(file);
        driver_->CloseDocNoSave();
        CopyFileW(AnsiToWide(kOriRevisionFN).c_str(), AnsiToWide(local).c_str(), FALSE);
        driver_->ReopenDoc();
      } else {
        uploaded = UploadWithSaveMode(file);
      }
      if (!uploaded) {
        ShowUploadFailed();
        SetControlsEnabled(true);
        return "";
      }
      PlainMessage(Gb("保存成功!"), "提示");
      SetControlsEnabled(true);
    }
  }
  if (!noUpload && !uploaded) {
    SetControlsEnabled(true);
    return "";
  }
  if (isHt) {
    if (noUpload) PlainMessage(Gb("保存成功!"), "提示");
    SetControlsEnabled(true);
    return "OK";
  }
  if (settings_.ProcID != "3") {
    bool gw = GwUpload();
    Fire(gw ? "GWQuit" : "quit", "TempSave", gw ? "0" : std::to_string(settings_.ConvResult), Arg::Empty(),
         Arg::Empty());
  }
  return "OK";
}

void TNibWord::Quit(bool forceQuit) {
  bool templateApplied = false;
  if (ctrlWindow_) {
    wchar_t caption[64] = L"";
    GetWindowTextW(ctrlWindow_->Button(kSpbUseTmpl), caption, 64);
    templateApplied = std::wstring(caption) != AnsiToWide("套用模板", CP_UTF8);
  }
  if (!forceQuit) {
    bool ask = GwUpload() || (!ReadOnly() && driver_ && driver_->getSaved() == VARIANT_FALSE);
    if (ask && !templateApplied) {
      std::wstring text = AnsiToWide("\r\n" + UiText(Gb("您对文档进行了修改,是否要保存?")));
      if (MessageBoxW(nullptr, text.c_str(), AnsiToWide("确认", CP_UTF8).c_str(), MB_YESNO) == IDYES) {
        if (HtModeIsSet()) {
          Save(true);
          EndCycle();
        } else {
          SaveAndClose();
        }
        return;
      }
    }
  }
  // Word's Application as the page last knew it; empty when Word never started.
  Arg word = Process().WordApplication ? Arg(Process().WordApplication.Get()) : Arg::Empty();
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

void TNibWord::EndCycle() {
  ctrlWindow_.reset();
  if (driver_) driver_->AppQuit();
  if (!SwitchIsOn("NoClearTmpFiles") && TmpFilesManager()) TmpFilesManager()->Cleanup(1000, 200);
  HtMode().reset();
}

}  // namespace nib
