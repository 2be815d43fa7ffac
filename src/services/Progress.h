#pragma once
// The progress display of the long step under way (a save with its
// conversion and upload, the download of a document): what the clerk sees
// between pressing a button and the answer. The window itself is the user
// interface's (ui/FrmProgress); the services only tell it the stage and,
// through TransferObserver, the bytes, and ask it whether the user cancelled.
// One at a time per process, on the page's thread.

#include "services/WebTransfer.h"

namespace nib {

enum class ProgressStage { kSaveDocument, kConvert, kPack, kUpload, kDownload };

class ProgressDisplay : public TransferObserver {
 public:
  virtual void SetStage(ProgressStage stage) = 0;
  // A message is about to be shown: the window goes for the rest of the step,
  // so that it never covers the message or waits under it.
  virtual void End() = 0;
};

// The display of the step under way; null when none.
ProgressDisplay* CurrentProgress();
void SetCurrentProgress(ProgressDisplay* display);

// Conveniences that do nothing when no step is under way.
void SetProgressStage(ProgressStage stage);
void EndProgressDisplay();

}  // namespace nib
