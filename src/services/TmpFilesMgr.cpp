#include "services/TmpFilesMgr.h"

#include <windows.h>

#include "services/Files.h"
#include "services/WindowUtil.h"

namespace nib {

void TTmpFilesMgr::Add(int kind, const std::string& path) {
  T1DimStrArr* list = kind == kFolder ? &folders_ : kind == kFile ? &files_ : nullptr;
  if (!list) return;
  if (IndexOfText(*list, static_cast<int>(list->size()) - 1, path, false, 0) < 0) AppendText(*list, path);
}

void TTmpFilesMgr::Reset() {
  files_.clear();
  folders_.clear();
}

void TTmpFilesMgr::Cleanup(unsigned timeoutMs, unsigned stepMs) const {
  for (const std::string& file : files_) {
    DWORD start = GetTickCount();
    while (IsFileInUse(file) && TicksSince(start) < timeoutMs) DelayWithMessages(stepMs);
    DeleteFileA(file.c_str());
  }
  for (const std::string& folder : folders_) {
    DWORD start = GetTickCount();
    while (FolderExists(folder) && TicksSince(start) < timeoutMs) DelayWithMessages(stepMs);
    DeleteTree(folder);
  }
}

}  // namespace nib
