#pragma once
// Private messages of the control window.

#include <windows.h>

namespace nib {

inline constexpr UINT WM_TEMPLATE_MISSING = WM_USER + 300;  // 1324: the template file is missing
inline constexpr UINT WM_INVOKETMPL_TMP = WM_USER + 303;    // 1327: apply the template ("tmp")
inline constexpr UINT WM_INVOKETMPL_HT = WM_USER + 304;     // 1328: apply the red-header template ("ht")

}  // namespace nib
