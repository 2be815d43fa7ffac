#pragma once
// The system default locale, recorded once when the library loads; the
// user-interface texts follow it (Big5 on traditional-Chinese systems).

#include <windows.h>

namespace nib {

void RecordSystemDefaultLocale();
LCID SystemDefaultLocale();

}  // namespace nib

#include <string>
#include <string_view>

namespace nib {

// The system locale is traditional Chinese (1028 Taiwan, 3076 Hong Kong).
bool IsTraditionalLocale();
// A GB2312 user-interface text as the system shows it: Big5 on traditional systems.
std::string UiText(std::string_view gb);

}  // namespace nib
