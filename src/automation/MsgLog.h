#pragma once
// TLoger: decides from an INI switch whether diagnostic files may be written
// and writes them. The name is "section.key" of the switch.

#include <string>

namespace nib {

class TLoger {
 public:
  TLoger();

  void SetSwitchFile(const std::string& file);
  void SetName(const std::string& name);
  bool Enabled() const { return enabled_; }

  // Writes `text` as the whole content of `fileName` when `mustWrite` is set
  // or the switch is on. Returns false when nothing could be written.
  bool WriteFile(const std::string& text, const std::string& fileName, bool mustWrite) const;

 private:
  void Evaluate();

  bool enabled_ = false;
  std::string name_;
  std::string switchFile_;
  std::string section_;
  std::string key_;
};

}  // namespace nib
