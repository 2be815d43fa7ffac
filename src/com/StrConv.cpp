#include "com/StrConv.h"

#include <oleauto.h>

namespace nib {

std::wstring AnsiToWide(std::string_view text, UINT codePage) {
  if (text.empty()) return {};
  int size = static_cast<int>(text.size());
  int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string WideToAnsi(std::wstring_view text, UINT codePage) {
  if (text.empty()) return {};
  int size = static_cast<int>(text.size());
  int length = WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), size, ansi.data(), length, nullptr, nullptr);
  return ansi;
}

std::string BstrToAnsi(BSTR text) {
  if (!text) return {};
  return WideToAnsi(std::wstring_view(text, SysStringLen(text)));
}

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = L"";
  StringFromGUID2(guid, text, 40);
  return text;
}

std::string FileNameToAnsi(std::wstring_view name) {
  std::string ansi;
  for (size_t i = 0; i < name.size();) {
    int units = IS_HIGH_SURROGATE(name[i]) && i + 1 < name.size() && IS_LOW_SURROGATE(name[i + 1]) ? 2 : 1;
    char bytes[16];
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(CP_ACP, 0, name.data() + i, units, bytes, sizeof bytes, nullptr, &usedDefault);
    if (length <= 0 || usedDefault)
      ansi += '_';
    else
      ansi.append(bytes, static_cast<size_t>(length));
    i += static_cast<size_t>(units);
  }
  return ansi;
}

std::string Gb(std::string_view utf8) { return WideToAnsi(AnsiToWide(utf8, CP_UTF8), kGbCodePage); }

}  // namespace nib
