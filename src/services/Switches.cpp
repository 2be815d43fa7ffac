#include "services/Switches.h"

#include "com/StrConv.h"
#include "services/Config.h"
#include "services/Policy.h"
#include "services/TextUtil.h"

namespace nib {

bool SwitchIsOn(const std::string& key) {
  return PolicySwitchIsOn(AnsiToWide(key)) || ReadIniString(kSwitchFile, kSwitchSection, key, "0") == "1";
}

bool NoUploadMode() {
  if (SwitchIsOn("NoULFile")) return true;
  std::string dll = ServerPathOfProgID("NibWordLib.NibWord");
  if (dll.empty()) return false;
  return ReadIniString(FolderOfPath(dll) + "DoLog.txt", kSwitchSection, "NoULFile", "0") == "1";
}

}  // namespace nib
