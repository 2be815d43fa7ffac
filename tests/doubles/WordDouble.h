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
// WPS Writer's: Word's GUIDs with WPS's suffix.
inline constexpr CLSID kWpsWriterClass = {0x000209FF, 0x0000, 0x4B30, {0xA9, 0x77, 0xD2, 0x14, 0x85, 0x20, 0x36, 0xFF}};
inline constexpr IID kWpsApplicationEvents = {0x000209FE, 0x0000, 0x4B30, {0xA9, 0x77, 0xD2, 0x14, 0x85, 0x20, 0x36, 0xFF}};

// A new Application with its first reference; registered in the running-object table.
IDispatch* CreateWordApplication();

}  // namespace doubles
