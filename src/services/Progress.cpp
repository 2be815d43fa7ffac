#include "services/Progress.h"

namespace nib {
namespace {
// Per thread: each page's cycle runs on its own page's thread.
thread_local ProgressDisplay* current = nullptr;
}

ProgressDisplay* CurrentProgress() { return current; }
void SetCurrentProgress(ProgressDisplay* display) { current = display; }

void SetProgressStage(ProgressStage stage) {
  if (current) current->SetStage(stage);
}

void EndProgressDisplay() {
  if (current) current->End();
}

}  // namespace nib
