#pragma once
// TFrmProgress: the window that shows a long step while it runs (a save in
// Word, the conversion, the packing, the upload; the download of a
// document): its stage, while bytes move a progress bar with the kilobytes
// moved of the total, and while uploading a cancel button. It appears only
// once the step has taken half a second, so quick saves show nothing; it
// belongs to the control window and stays above Word.
//
// One per step: the object creates it when the step starts and destroys it
// once the outcome is known; meanwhile it is its thread's CurrentProgress().

#include <windows.h>

#include <string>

#include "services/Progress.h"

namespace nib {

inline constexpr wchar_t kProgressWindowClass[] = L"TFrmProgress";
// Child control ids, for tests that read the window as a user does.
inline constexpr int kProgressStageId = 101, kProgressBarId = 102, kProgressFiguresId = 103, kProgressCancelId = 104;

class TFrmProgress final : public ProgressDisplay {
 public:
  // `owner`: the cycle's control window (none yet while the document
  // downloads); `delayMs`: how long the step runs before the window shows.
  explicit TFrmProgress(HWND owner, DWORD delayMs = 500);
  ~TFrmProgress() override;
  TFrmProgress(const TFrmProgress&) = delete;
  TFrmProgress& operator=(const TFrmProgress&) = delete;

  void SetStage(ProgressStage stage) override;
  void End() override;
  void OnProgress(const TransferProgress& progress) override;
  bool CancelRequested() override { return cancelRequested_; }

  HWND Window() const { return window_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static void CALLBACK OnTick(HWND, UINT, UINT_PTR, DWORD);
  void ShowWhenDue();
  void Create();
  void Refresh();

  HWND owner_;
  DWORD start_;
  DWORD delayMs_;
  ProgressStage stage_ = ProgressStage::kSaveDocument;
  TransferProgress progress_;
  bool ended_ = false;
  bool cancelRequested_ = false;
  UINT_PTR timer_ = 0;
  HWND window_ = nullptr;
  HWND stageLabel_ = nullptr, bar_ = nullptr, figures_ = nullptr, cancel_ = nullptr;
  HFONT font_ = nullptr;
  ProgressDisplay* previous_ = nullptr;
};

}  // namespace nib
