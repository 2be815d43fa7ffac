#pragma once
// Excel and PowerPoint doubles: only what the HTML conversion calls.
//   Excel:      Visible, DisplayAlerts, Workbooks.Open, Workbook.SaveAs (format 44 = HTML), Close, Quit
//   PowerPoint: Visible, Presentations.Open, Presentation.SaveAs (format 12 = HTML), Close, Quit

#include <windows.h>
#include <oaidl.h>

namespace doubles {

inline constexpr CLSID kExcelClass = {0x00024500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr CLSID kPowerPointClass = {0x91493441, 0x5A91, 0x11CF, {0x87, 0x00, 0x00, 0xAA, 0x00, 0x60, 0x26, 0x3B}};

IDispatch* CreateExcelApplication();
IDispatch* CreatePowerPointApplication();

}  // namespace doubles
