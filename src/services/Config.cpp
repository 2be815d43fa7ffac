#include "services/Config.h"

#include <windows.h>
#include <objbase.h>

#include <vector>

#include "com/StrConv.h"

namespace nib {
namespace {

bool ReadDefaultValue(const std::wstring& keyPath, std::string& value) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD bytes = 0;
  bool ok = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ);
  if (ok) {
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    ok = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) ==
         ERROR_SUCCESS;
    text.resize(wcsnlen(text.c_str(), text.size()));
    value = WideToAnsi(text);
  }
  RegCloseKey(key);
  return ok && !value.empty();
}

}  // namespace

std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& defaultValue) {
  std::vector<char> buffer(256);
  for (;;) {
    DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                            static_cast<DWORD>(buffer.size()), file.c_str());
    if (length + 1 < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 4);
  }
}

std::string ServerPathOfProgID(const std::string& name) {
  std::wstring classId;
  if (name.size() == 38 && name[0] == '{') {
    classId = AnsiToWide(name);
  } else {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(AnsiToWide(name).c_str(), &clsid))) return {};
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    classId = text;
  }
  std::string path;
  if (ReadDefaultValue(L"CLSID\\" + classId + L"\\InprocServer32", path)) return path;
  if (ReadDefaultValue(L"CLSID\\" + classId + L"\\LocalServer32", path)) return path;
  return {};
}

}  // namespace nib
