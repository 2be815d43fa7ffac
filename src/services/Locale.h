#pragma once
// The system default locale, recorded once when the library loads; the
// user-interface texts follow it (Big5 on traditional-Chinese systems).

#include <windows.h>

namespace nib {

void RecordSystemDefaultLocale();
LCID SystemDefaultLocale();

}  // namespace nib
