#pragma once
// TGlobalSign: the flag object behind a page's HtMode, which tells the quit
// logic which kind of edit cycle runs (true: the red-header document of
// OpenHtFile). No object means false. Each object keeps its own: a cycle
// another page opened must not change how this one quits.

#include <memory>

namespace nib {

class TGlobalSign {
 public:
  explicit TGlobalSign(bool value) : value_(value) {}
  bool Get() const { return value_; }
  void Set(bool value) { value_ = value; }

 private:
  bool value_;
};

inline bool HtModeIsSet(const std::unique_ptr<TGlobalSign>& htMode) { return htMode && htMode->Get(); }

// The editor programs the system knows: "WinWord.exe", "excel.exe",
// "POWERPNT.EXE". Which editor a cycle drives is no longer judged by them (by
// the program registered for .doc files) but by ChooseEditor (word/Editor.h).
inline constexpr const char* kSupportedApps[] = {"WinWord.exe", "excel.exe", "POWERPNT.EXE"};

}  // namespace nib
