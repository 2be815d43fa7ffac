// What the control window's buttons do: each command asks the object whose
// cycle the window drives (IInnerFunc), holding the buttons while it works.

#include "ui/CtrlPopParts.h"
#include "ui/FrmTemplet.h"
#include "ui/TemplateCheck.h"

namespace nib {

using namespace ctrlpop;

namespace {

void Warn(HWND owner, const char* text, const char* title) {
  MessageBoxW(owner, Text(text).c_str(), Text(title).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

void TFrmUserCtrlPop::RunCommand(CtrlButton button) {
  // A disabled window (the template chooser is up) takes no command either.
  if (!IsWindowEnabled(buttons_[button]) || !IsWindowEnabled(toolbar_) || !IsWindowEnabled(window_)) return;
  switch (button) {
    case kBtnCloseAndSave: SaveAndCloseCommand(); break;
    case kSpbClose: CloseCommand(); break;
    case kSpbShowTrack: ShowTrackCommand(); break;
    case kSpbUseTmpl: UseTemplateCommand(); break;
    case kSpbPrintMode: PrintModeCommand(); break;
    case kSpbPage1BottomLine: BottomLineCommand(); break;
    case kSpbHT: SaveRedHeaderCommand(); break;
    case kSBInsertFile: InsertFileCommand(); break;
    case kCtrlButtonCount: break;
  }
}

IInnerFunc& TFrmUserCtrlPop::Inner() const {
  if (!inner_) Fail("the control window has no object to work with");
  return *inner_;
}

bool TFrmUserCtrlPop::IsGwUpload() const {
  return ctrlProcID_ == "6" && (ctrlProcID2_ == "3" || ctrlProcID2_ == "4");
}

// The whole toolbar is disabled while the object works, so that a second
// command cannot start while the call pumps messages.
template <class Call>
void TFrmUserCtrlPop::WithToolbarLocked(Call&& call) {
  struct Unlock {
    HWND toolbar;
    ~Unlock() { EnableWindow(toolbar, TRUE); }
  } unlock{toolbar_};
  EnableWindow(toolbar_, FALSE);
  call();
}

// The buttons a command disables while the object saves or quits. When the
// command leaves the edit cycle open, however it ended (a result, "NoSave" or
// an error), the user gets them back as they were, so that they can try again
// or close; when the cycle ended, the window is gone and nothing is touched.
class TFrmUserCtrlPop::ButtonsHeld {
 public:
  ButtonsHeld(TFrmUserCtrlPop& window, std::initializer_list<CtrlButton> buttons, bool stopTimer)
      : window_(window), alive_(window.alive_), stopTimer_(stopTimer) {
    for (CtrlButton button : buttons) held_.push_back({button, window.Enabled(button)});
    if (stopTimer_) window.SetTimerRunning(false);
    for (auto [button, enabled] : held_) window.Enable(button, false);
  }
  ~ButtonsHeld() {
    if (!*alive_) return;
    for (auto [button, enabled] : held_) window_.Enable(button, enabled);
    if (stopTimer_) window_.SetTimerRunning(true);
  }
  ButtonsHeld(const ButtonsHeld&) = delete;
  ButtonsHeld& operator=(const ButtonsHeld&) = delete;

 private:
  TFrmUserCtrlPop& window_;
  std::shared_ptr<bool> alive_;
  bool stopTimer_;
  std::vector<std::pair<CtrlButton, bool>> held_;
};

void TFrmUserCtrlPop::HideRevisions() {
  WithToolbarLocked([&] { ThrowIfFailed(Inner().ProcUserSetEdtSts(0, 0, 1), "hiding revisions"); });
}

void TFrmUserCtrlPop::EndWithRevisionsHidden() {
  if (Caption(kSpbShowTrack) != ShowTrackCaption()) ShowTrackCommand();
}

void TFrmUserCtrlPop::SaveAndCloseCommand() {
  PageValues& p = *values_;
  if (p.InvokedTmplKind == "tmp" && p.ExtraDispState == "NoUse") {
    // The overprint template the page applied is not part of the saved document.
    Enable(kSpbPrintMode, false);
    WithToolbarLocked([&] { ThrowIfFailed(Inner().ProcUserSetEdtSts(0, 2, 1), "removing the template"); });
    Enable(kBtnCloseAndSave, true);
    Enable(kSpbPrintMode, false);
    Enable(kSpbHT, false);
    Enable(kSpbShowTrack, true);
  }
  p.SaveModeSaveAndClose = true;
  ButtonsHeld held(*this, kSixButtons, false);
  TextOf([&](BSTR* text) { return Inner().ProcSaveAndClose(text); }, "ProcSaveAndClose");
}

void TFrmUserCtrlPop::CloseCommand() {
  // The quit may turn into a save (the user answers Yes) that fails: the
  // cycle then stays open and the user must be able to try again.
  ButtonsHeld held(*this, kSixButtons, true);
  TextOf([&](BSTR* text) { return Inner().ProcQuit(VARIANT_FALSE, text); }, "ProcQuit");
}

void TFrmUserCtrlPop::ShowTrackCommand() {
  LONG sts = Caption(kSpbShowTrack) == ShowTrackCaption() ? 0 : 1;
  // The caption follows when the editor reports the new state.
  WithToolbarLocked([&] { ThrowIfFailed(Inner().ProcUserSetEdtSts(0, 0, sts), "showing revisions"); });
}

void TFrmUserCtrlPop::PrintModeCommand() {
  LONG sts = Caption(kSpbPrintMode) == PrintModeOff() ? 0 : 1;
  if (sts == 0) {
    Enable(kSpbHT, false);
    Enable(kSBInsertFile, false);
  } else {
    Enable(kSpbHT, values_->InvokedTmplKind != "tmp");
    Enable(kSBInsertFile, true);
  }
  WithToolbarLocked([&] { ThrowIfFailed(Inner().ProcUserSetEdtSts(0, 1, sts), "switching print mode"); });
  HideRevisions();
}

void TFrmUserCtrlPop::UseTemplateCommand() {
  PageValues& p = *values_;
  p.InvokedTmplKind.clear();
  HideRevisions();
  const std::wstring before = Caption(kSpbUseTmpl);
  bool applying = before == UseTmplOff();
  if (applying) {
    Enable(kSpbPrintMode, true);
    if (p.ExtraDispState == "NoUse") {
      wchar_t title[256] = L"";
      GetWindowTextW(window_, title, 256);
      int answer = MessageBoxW(window_, Text("在套用模板前是否先保存正文？").c_str(), title,
                               MB_YESNOCANCEL | MB_ICONQUESTION);
      if (answer == IDCANCEL) return;
      if (answer == IDYES) {
        p.SaveModeOnlySave = true;
        std::shared_ptr<bool> alive = alive_;
        TextOf([&](BSTR* text) { return Inner().ProcSave(VARIANT_FALSE, text); }, "ProcSave");
        if (!*alive) return;  // Word was gone and the cycle ended
      }
    }
  } else {
    Enable(kSpbPrintMode, false);
    SetCaption(kSpbPrintMode, PrintModeOff());
    TemplateStep();
    Enable(kSpbHT, false);
    Enable(kSpbShowTrack, true);
    if (p.ExtraDispState == "NoUse") return;
    if (p.ExtraDispState == "ExtraState_1") {
      Enable(kSpbShowTrack, false);
      Enable(kBtnCloseAndSave, false);
    }
  }
  if (p.IsMultTemplet) {
    if (applying && !OpenTemplateChooser()) return;  // a warning, or the cycle ended meanwhile
  } else {
    Enable(kSpbHT, Caption(kSpbUseTmpl) == UseTmplOff());
    TemplateStep();
  }
  EndWithRevisionsHidden();
}

void TFrmUserCtrlPop::TemplateStep() {
  LONG sts = Caption(kSpbUseTmpl) == UseTmplOff() ? 0 : 1;
  WithToolbarLocked([&] {
    ThrowIfFailed(Inner().ProcUserSetEdtSts(0, 2, sts), "applying the template");
    const PageValues& p = *values_;
    Enable(kBtnCloseAndSave, p.TmplMissing || (sts == 1 && (ctrlProcID_ == "1" || ctrlProcID_ == "5")));
    Enable(kSpbPrintMode, sts == 0);
  });
}

void TFrmUserCtrlPop::PageInvokedTemplateStep(bool redHeader) {
  HideRevisions();
  if (redHeader) {
    Enable(kBtnCloseAndSave, false);
    SetCaption(kSpbUseTmpl, UseTmplOn());
    Enable(kSpbUseTmpl, false);
    Enable(kSpbHT, true);
    Enable(kSpbClose, true);
  } else {
    Enable(kSpbPrintMode, true);
    Enable(kSpbUseTmpl, false);
    Enable(kSpbHT, false);
    Enable(kBtnCloseAndSave, true);
  }
  if (values_->IsMultTemplet) {
    OpenTemplateChooser();
    return;
  }
  WithToolbarLocked([&] {
    ThrowIfFailed(Inner().ProcUserSetEdtSts(0, 2, 0), "applying the template");
    Enable(kSpbPrintMode, true);
  });
  EndWithRevisionsHidden();
}

bool TFrmUserCtrlPop::OpenTemplateChooser() {
  switch (CheckTemplateDescription(values_->MultTemplet)) {
    case TemplateCheck::kEmpty:
      Warn(window_, "没有可供使用的套打模板!", "系统提示：");
      return false;
    case TemplateCheck::kSegmentFault:
      Warn(window_, "您的模板格式字符串中**或##错误，请检查！", "系统提示:");
      return false;
    case TemplateCheck::kCharacterFault:
      Warn(window_, "您提供的模板字符串格式错误，请重新输入!", "系统提示：");
      return false;
    case TemplateCheck::kOk:
      break;
  }
  // Modal toward this window, as a modal form is: while the chooser waits for
  // the user and the page, no command of this window may end the cycle.
  std::shared_ptr<bool> alive = alive_;
  EnableWindow(window_, FALSE);
  if (openChooser_) {
    openChooser_(nullptr);
  } else {
    TFrmTemplet chooser(*this);  // without an owner window
    chooser_ = &chooser;
    struct Forget {
      TFrmUserCtrlPop* window;
      std::shared_ptr<bool> alive;
      ~Forget() {
        if (*alive) window->chooser_ = nullptr;
      }
    } forget{this, alive};
    chooser.ShowModal();
  }
  if (!*alive) return false;  // the cycle ended while the chooser was up
  EnableWindow(window_, TRUE);
  return true;
}

void TFrmUserCtrlPop::ApplyChosenTemplate() {
  LONG sts = Caption(kSpbUseTmpl) == UseTmplOff() ? 0 : 1;
  WithToolbarLocked([&] { ThrowIfFailed(Inner().ProcUserSetEdtSts(0, 2, sts), "applying the template"); });
  const PageValues& p = *values_;
  if (p.TmplMissing) {
    Enable(kSpbShowTrack, true);
    Enable(kBtnCloseAndSave, true);
    Enable(kSpbClose, true);
  } else {
    Enable(kSpbShowTrack, false);
    Enable(kBtnCloseAndSave, sts == 1 && (ctrlProcID_ == "1" || ctrlProcID_ == "5"));
  }
  Enable(kSpbPrintMode, sts == 0);
}

void TFrmUserCtrlPop::CancelChosenTemplate() { Enable(kSpbPrintMode, false); }

void TFrmUserCtrlPop::BottomLineCommand() {
  ThrowIfFailed(Inner().ProcUserSetEdtSts(0, 3, 0), "drawing the bottom line");
}

void TFrmUserCtrlPop::SaveRedHeaderCommand() {
  HideRevisions();
  std::shared_ptr<bool> alive = alive_;
  try {
    TextOf([&](BSTR* text) { return Inner().ProcSave(VARIANT_TRUE, text); }, "ProcSave");
  } catch (const ComError&) {
    // The object reported the failure to the user; the window must stay usable.
  }
  if (!*alive) return;  // Word was gone and the cycle ended
  Enable(kSpbClose, true);
  Enable(kSBInsertFile, true);
  SetTimerRunning(true);
  HideRevisions();
}

void TFrmUserCtrlPop::InsertFileCommand() { ThrowIfFailed(Inner().InsertFile(), "inserting the body"); }

}  // namespace nib
