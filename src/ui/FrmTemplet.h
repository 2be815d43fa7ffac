#pragma once
// TFrmTemplet: the modal list of the templates a page offered. The user's
// pick goes to the page ("TempletFN" event), the page answers with the
// template's address, the template is downloaded and the control window
// applies it.

#include <windows.h>

#include <string>
#include <memory>
#include <vector>

#include "services/PageValues.h"
#include "ui/TemplateList.h"

namespace nib {

class TFrmUserCtrlPop;

inline constexpr wchar_t kTemplateChooserClass[] = L"TFrmTemplet";

class TFrmTemplet {
 public:
  explicit TFrmTemplet(TFrmUserCtrlPop& controlWindow);
  ~TFrmTemplet();
  TFrmTemplet(const TFrmTemplet&) = delete;
  TFrmTemplet& operator=(const TFrmTemplet&) = delete;

  // Shows the chooser and returns once it is closed (or the thread is told to quit).
  void ShowModal();
  // The control window is being destroyed (the edit cycle ended meanwhile):
  // the chooser closes without touching it again.
  void OwnerGone();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  void FillTree();
  void Confirm();
  void Cancel();
  bool DownloadTemplate();
  void Close();

  TFrmUserCtrlPop& controlWindow_;
  // Held: the cycle (and its window) may end while the chooser waits.
  std::shared_ptr<PageValues> values_;
  std::vector<TemplateEntry> entries_;
  HWND window_ = nullptr;
  HWND tree_ = nullptr;
  HFONT font_ = nullptr;
  bool closed_ = false;
  bool ownerGone_ = false;
};

}  // namespace nib
