#pragma once
// TFrmUserCtrlPop: the floating strip of eight buttons with which the user
// drives the edit cycle while Word has the document. It does no document
// work itself: every command goes to the automation object through
// IInnerFunc; the object and the Word driver report state changes back
// through IUserIntfFunc and three private messages. The window (classes,
// layout, states) is FrmUserCtrlPop.cpp; what each button does is
// CtrlPopCommands.cpp.
//
// The toggles keep their state in their captions: a handler decides by
// comparing the caption with a known text.

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NibWordLib.h"
#include "services/PageValues.h"

namespace nib {

inline constexpr wchar_t kControlWindowClass[] = L"TFrmUserCtrlPop";
inline constexpr wchar_t kControlToolbarClass[] = L"TToolBar";

// The toolbar's buttons, in design order.
enum CtrlButton : int {
  kBtnCloseAndSave,
  kSpbClose,
  kSpbShowTrack,
  kSpbUseTmpl,
  kSpbPrintMode,
  kSpbPage1BottomLine,
  kSpbHT,
  kSBInsertFile,
  kCtrlButtonCount
};

class TFrmTemplet;

class TFrmUserCtrlPop final : public IUserIntfFunc {
 public:
  // Creates the window hidden and records its handle in `values`, those of
  // the page whose cycle it drives.
  explicit TFrmUserCtrlPop(std::shared_ptr<PageValues> values);
  ~TFrmUserCtrlPop();
  TFrmUserCtrlPop(const TFrmUserCtrlPop&) = delete;
  TFrmUserCtrlPop& operator=(const TFrmUserCtrlPop&) = delete;

  HWND Window() const { return window_; }
  PageValues& Values() const { return *values_; }
  const std::shared_ptr<PageValues>& SharedValues() const { return values_; }
  HWND Toolbar() const { return toolbar_; }
  HWND Button(CtrlButton button) const { return buttons_[button]; }
  // Shows the window; the layout and initial enabling run as it appears.
  void Show();
  // Timer1 on or off (the object switches it with the close and insert buttons).
  void SetTimerRunning(bool running);
  // What "套用模板" opens once the template description passed its checks
  // (the template chooser unless replaced).
  void SetTemplateChooser(std::function<void(HWND owner)> open) { openChooser_ = std::move(open); }
  // The chooser's outcomes: a template was downloaded, to be applied; the user cancelled.
  void ApplyChosenTemplate();
  void CancelChosenTemplate();

  // IUnknown: references taken through the interface do not own the window;
  // its creator destroys it.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override { return --references_; }
  // IDispatch: callers use the interface's slots.
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  // IUserIntfFunc
  STDMETHODIMP ProcEdtStsNotify(LONG ImplAppId, LONG StsItemId, LONG StsId) override;
  STDMETHODIMP setInnerFuncIntf(IInnerFunc* InnerFuncIntf) override;
  STDMETHODIMP SetBtnsHidden(LONG BtnId) override;
  STDMETHODIMP SetToolBarEnabled(VARIANT_BOOL bEnabled, VARIANT_BOOL bUseBakSts) override;

 private:
  static void RegisterClasses();
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ToolbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateButtons();

  // Show handling.
  void LayoutForDpi();
  void LayoutButtons();
  void ApplyInitialEnabling();

  // The commands, one per button, and the steps they share.
  void RunCommand(CtrlButton button);
  void SaveAndCloseCommand();
  void CloseCommand();
  void ShowTrackCommand();
  void PrintModeCommand();
  void UseTemplateCommand();
  void BottomLineCommand();
  void SaveRedHeaderCommand();
  void InsertFileCommand();
  void TemplateStep();
  void PageInvokedTemplateStep(bool redHeader);
  bool OpenTemplateChooser();  // false when a warning ended it
  void HideRevisions();
  void EndWithRevisionsHidden();
  void OnTimer();
  void ApplyCommonRules();
  template <class Call>
  void WithToolbarLocked(Call&& call);
  IInnerFunc& Inner() const;
  bool IsGwUpload() const;
  class ButtonsHeld;

  // Buttons.
  bool Enabled(CtrlButton button) const;
  void Enable(CtrlButton button, bool enabled);
  std::wstring Caption(CtrlButton button) const;
  void SetCaption(CtrlButton button, const std::wstring& caption);
  bool Visible(CtrlButton button) const;
  void SetVisible(CtrlButton button, bool visible);
  const std::wstring& ShowTrackCaption() const { return showCaption_; }

  std::shared_ptr<PageValues> values_;
  // The object whose cycle this window drives, and the open mode it read
  // from it. Not owned: the object ends its cycle, and destroys this window,
  // before it goes; a reference here would keep it alive after its page let go.
  IInnerFunc* inner_ = nullptr;
  std::string ctrlProcID_, ctrlProcID2_;
  HWND window_ = nullptr;
  HWND toolbar_ = nullptr;
  HWND buttons_[kCtrlButtonCount]{};
  int widths_[kCtrlButtonCount]{};
  std::vector<CtrlButton> order_;  // toolbar order, left to right
  HFONT font_ = nullptr;
  HBRUSH blue_ = nullptr;
  std::wstring showCaption_, hideCaption_;
  std::vector<bool> savedBtnStates_;
  bool dragging_ = false;
  POINT grab_{};
  std::function<void(HWND)> openChooser_;
  TFrmTemplet* chooser_ = nullptr;  // while the template chooser runs
  // False once the window is destroyed. A command can end the edit cycle, and
  // with it this window, from inside its own handler: after each call into
  // the object, the handler looks here before touching the window again.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::atomic<ULONG> references_{0};
};

}  // namespace nib
