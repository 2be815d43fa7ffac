#include "services/Locale.h"

namespace nib {
namespace {
LCID systemDefaultLocale = 0;
}

void RecordSystemDefaultLocale() { systemDefaultLocale = GetSystemDefaultLCID(); }

LCID SystemDefaultLocale() { return systemDefaultLocale ? systemDefaultLocale : GetSystemDefaultLCID(); }

}  // namespace nib

#include "services/Gb2Big5.h"

namespace nib {

bool IsTraditionalLocale() { return IsTraditionalLocaleId(SystemDefaultLocale()); }

std::string UiText(std::string_view gb) { return IsTraditionalLocale() ? GbToBig5(gb) : std::string(gb); }

}  // namespace nib
