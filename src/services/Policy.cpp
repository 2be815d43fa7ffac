#include "services/Policy.h"

#include <cstring>
#include <cwchar>

namespace nib {
namespace {

// Owner of an open registry key.
class RegistryKey {
 public:
  RegistryKey() {
    // One policy for both builds: the 32-bit DLL reads the machine's key, not a WOW64 copy.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key_) != ERROR_SUCCESS)
      key_ = nullptr;
  }
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

std::optional<DWORD> PolicyNumber(const wchar_t* name) {
  RegistryKey key;
  if (!key.Get()) return std::nullopt;
  DWORD type = 0, value = 0, bytes = sizeof value;
  if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
      type != REG_DWORD || bytes != sizeof value)
    return std::nullopt;
  return value;
}

std::wstring PolicyText(const wchar_t* name) {
  RegistryKey key;
  if (!key.Get()) return L"";
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS || type != REG_SZ ||
      bytes > 4096)
    return L"";
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes) !=
      ERROR_SUCCESS)
    return L"";
  value.resize(wcsnlen(value.c_str(), bytes / sizeof(wchar_t)));
  return value;
}

bool PolicySwitchIsOn(const std::wstring& name) {
  RegistryKey key;
  if (!key.Get()) return false;
  DWORD type = 0;
  wchar_t value[16] = L"";
  DWORD bytes = sizeof value - sizeof(wchar_t);
  if (RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) !=
      ERROR_SUCCESS)
    return false;
  if (type == REG_DWORD) {
    DWORD number = 0;
    std::memcpy(&number, value, sizeof number);
    return bytes == sizeof(DWORD) && number == 1;
  }
  if (type != REG_SZ) return false;
  value[bytes / sizeof(wchar_t)] = L'\0';
  return std::wstring(value) == L"1";
}

}  // namespace nib
