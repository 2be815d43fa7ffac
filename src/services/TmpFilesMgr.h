#pragma once
// TTmpFilesMgr: the temporary files and folders of an edit cycle, deleted
// when the document is closed, giving Word a moment to let go of them.

#include <memory>
#include <string>

#include "services/TextUtil.h"

namespace nib {

class TTmpFilesMgr {
 public:
  static constexpr int kFolder = 1;
  static constexpr int kFile = 2;

  // Kind 1 registers a folder, 2 a file; other kinds are ignored. A path
  // already listed (ASCII case ignored) is not added again.
  void Add(int kind, const std::string& path);
  // Empties both lists; nothing is deleted from disk.
  void Reset();
  // Deletes every listed file, then every listed folder with its tree, each
  // as soon as it can be: an entry still held is tried again every `stepMs`
  // for up to `timeoutMs`. A missing or undeletable entry never stops the
  // others. The lists stay as they are.
  void Cleanup(unsigned timeoutMs, unsigned stepMs) const;

  const T1DimStrArr& Files() const { return files_; }
  const T1DimStrArr& Folders() const { return folders_; }

 private:
  T1DimStrArr files_;
  T1DimStrArr folders_;
};

}  // namespace nib
