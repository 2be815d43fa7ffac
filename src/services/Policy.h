#pragma once
// The administrator's policy for the object, under
// HKEY_LOCAL_MACHINE\Software\Policies\NibWordLib (where group policy puts
// machine settings): the log switch, the diagnostic switches. Read afresh on
// every call, so a changed policy holds from the next step on.

#include <windows.h>

#include <optional>
#include <string>

namespace nib {

inline constexpr wchar_t kPolicyKey[] = L"Software\\Policies\\NibWordLib";

// A REG_DWORD value of the policy key; empty when the key or the value is
// missing or of another type. Never throws.
std::optional<DWORD> PolicyNumber(const wchar_t* name);

// A REG_SZ value of the policy key; empty when the key or the value is
// missing or of another type. Never throws.
std::wstring PolicyText(const wchar_t* name);

// A policy value as a switch: a REG_DWORD 1 or a REG_SZ "1" is on; anything
// else, or nothing, is off. Never throws.
bool PolicySwitchIsOn(const std::wstring& name);

}  // namespace nib
