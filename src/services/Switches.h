#pragma once
// Diagnostic switches: values of the machine policy key
// (HKLM\Software\Policies\NibWordLib, REG_DWORD 1 or REG_SZ "1"), or INI
// values in section "NibWordLib" of "c:\tmp\dolog.txt" as before. A switch is
// on when either says "1". They are read afresh every
// time, so a tester can flip one between two saves.

#include <string>

namespace nib {

inline constexpr char kSwitchFile[] = "c:\\tmp\\dolog.txt";
inline constexpr char kSwitchSection[] = "NibWordLib";
// Where the "LogInputFile" switch keeps a copy of the XML a page gave.
inline constexpr char kXmlLogFile[] = "c:\\tmp\\FLog_ContXML.xml";

bool SwitchIsOn(const std::string& key);

// Test mode without uploads: "NoULFile" in the switch file, or else in
// "DoLog.txt" beside the registered DLL.
bool NoUploadMode();

}  // namespace nib
