#include "services/Locale.h"

#include "services/TextUtil.h"

namespace nib {
namespace {
LCID systemDefaultLocale = 0;
// The text routines split paths and names by the system's double-byte rules
// from the first moment, in the DLL and in every program built with it.
const bool codePageRecorded = (SetAnsiCodePage(GetACP()), true);
}

void RecordSystemDefaultLocale() {
  systemDefaultLocale = GetSystemDefaultLCID();
  SetAnsiCodePage(GetACP());
}

LCID SystemDefaultLocale() { return systemDefaultLocale ? systemDefaultLocale : GetSystemDefaultLCID(); }

}  // namespace nib

#include "services/Gb2Big5.h"

namespace nib {

bool IsTraditionalLocale() { return IsTraditionalLocaleId(SystemDefaultLocale()); }

std::string UiText(std::string_view gb) { return IsTraditionalLocale() ? GbToBig5(gb) : std::string(gb); }

}  // namespace nib
