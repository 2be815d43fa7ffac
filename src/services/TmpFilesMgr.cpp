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
  // Word may hold a file (or a file in a folder) a moment after it closed it:
  // each entry is deleted as soon as it can be, and given up to the time-out.
  for (const std::string& file : files_)
    WaitUntil(timeoutMs, [&] { return (DeleteFileA(file.c_str()) || !FileExists(file)); }, stepMs);
  for (const std::string& folder : folders_)
    WaitUntil(timeoutMs, [&] { return DeleteTree(folder) || !FolderExists(folder); }, stepMs);
}

}  // namespace nib
