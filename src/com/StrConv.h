#pragma once
// Text conversions between the COM world (UTF-16) and the system's texts
// (ANSI bytes, GB2312 on the systems it is made for). The only place where
// MultiByteToWideChar and WideCharToMultiByte are called.

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace nib {

// The GB2312 code page in which all of the system's own texts are written.
inline constexpr UINT kGbCodePage = 936;

std::wstring AnsiToWide(std::string_view text, UINT codePage = CP_ACP);
std::string WideToAnsi(std::wstring_view text, UINT codePage = CP_ACP);
std::string BstrToAnsi(BSTR text);
// A GUID in the registry's form, "{000209FF-0000-0000-C000-000000000046}".
std::wstring GuidText(REFGUID guid);
// A file name in the system's code page: each character the code page cannot
// hold (an emoji, a rare hanzi outside GBK or Big5) becomes "_", as Windows
// refuses the "?" the plain conversion would put there; the rest is kept.
std::string FileNameToAnsi(std::wstring_view name);

// A UTF-8 source literal as GB2312 bytes: Gb("保存成功!").
std::string Gb(std::string_view utf8);

}  // namespace nib
