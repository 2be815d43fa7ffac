#include "automation/MsgLog.h"

#include <windows.h>

#include "services/Switches.h"
#include "com/Handle.h"
#include "com/StrConv.h"
#include "services/Config.h"
#include "services/Policy.h"

namespace nib {

TLoger::TLoger() : switchFile_(kSwitchFile) {}

void TLoger::SetSwitchFile(const std::string& file) {
  if (file == switchFile_) return;
  switchFile_ = file;
  Evaluate();
}

void TLoger::SetName(const std::string& name) {
  if (name == name_) return;
  name_ = name;
  size_t dot = name.find('.');
  section_ = dot == std::string::npos ? name : name.substr(0, dot);
  key_ = dot == std::string::npos ? name : name.substr(dot + 1);
  Evaluate();
}

void TLoger::Evaluate() {
  if (section_.empty() || key_.empty()) return;
  // An administrator may switch it on through the machine policy as well.
  enabled_ = ReadIniString(switchFile_, section_, key_, "0") == "1" || PolicySwitchIsOn(AnsiToWide(key_));
}

bool TLoger::WriteFile(const std::string& text, const std::string& fileName, bool mustWrite) const {
  if (!mustWrite && !enabled_) return false;
  UniqueHandle file(
      CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

}  // namespace nib
