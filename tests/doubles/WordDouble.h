#pragma once
// The Word double: Application, Documents and Document as the system drives
// them, with the main window of class "OpusApp" and DocumentBeforeClose.

#include <windows.h>
#include <oaidl.h>

namespace doubles {

inline constexpr CLSID kWordClass = {0x000209FF, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// ApplicationEvents2, a dispinterface: marshalled as IDispatch.
inline constexpr IID kApplicationEvents2 = {0x000209FE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr DISPID kDocumentBeforeClose = 6;

// A new Application with its first reference; registered in the running-object table.
IDispatch* CreateWordApplication();

}  // namespace doubles
