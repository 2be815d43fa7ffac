#include "services/Locale.h"

namespace nib {
namespace {
LCID systemDefaultLocale = 0;
}

void RecordSystemDefaultLocale() { systemDefaultLocale = GetSystemDefaultLCID(); }

LCID SystemDefaultLocale() { return systemDefaultLocale ? systemDefaultLocale : GetSystemDefaultLCID(); }

}  // namespace nib
