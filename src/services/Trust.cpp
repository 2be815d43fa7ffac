#include "services/Trust.h"

#include <windows.h>
#include <urlmon.h>
#include <wrl/client.h>

#include "com/StrConv.h"
#include "services/WebAddress.h"

namespace nib {
namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\NibWordLib";

bool IsTrustedZone(unsigned long zone) {
  return zone == URLZONE_LOCAL_MACHINE || zone == URLZONE_INTRANET || zone == URLZONE_TRUSTED;
}

}  // namespace

std::optional<std::vector<std::string>> AdministratorOrigins() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD type = 0, bytes = 0;
  std::wstring list;
  bool present = RegQueryValueExW(key, L"AllowedOrigins", nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
                 type == REG_MULTI_SZ;
  if (present) {
    list.assign(bytes / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key, L"AllowedOrigins", nullptr, &type, reinterpret_cast<BYTE*>(list.data()), &bytes) !=
        ERROR_SUCCESS)
      list.clear();  // a list that cannot be read allows nothing, it does not fall back to zones
  }
  RegCloseKey(key);
  if (!present) return std::nullopt;
  std::vector<std::string> origins;
  for (const wchar_t* item = list.c_str(); *item; item += wcslen(item) + 1) origins.push_back(WideToAnsi(item, CP_UTF8));
  return origins;
}

unsigned long ZoneOfAddress(const std::string& url) {
  Microsoft::WRL::ComPtr<IInternetSecurityManager> manager;
  if (FAILED(CoInternetCreateSecurityManager(nullptr, &manager, 0))) return URLZONE_UNTRUSTED;
  DWORD zone = URLZONE_UNTRUSTED;
  std::wstring address = AnsiToWide(TrimAddress(url));
  if (FAILED(manager->MapUrlToZone(address.c_str(), &zone, 0))) return URLZONE_UNTRUSTED;
  return zone;
}

TrustRule TrustRule::ForPage(const std::string& pageAddress, const std::optional<std::string>& topAddress) {
  TrustRule rule;
  rule.hasPage_ = true;
  rule.pageAddress_ = pageAddress;
  rule.origins_ = AdministratorOrigins();
  // The page itself may be local (a file: page in the local machine zone),
  // which no list names.
  auto trusted = [&](const std::string& address) {
    return rule.origins_ ? IsOnOriginList(address, *rule.origins_) : IsTrustedZone(ZoneOfAddress(address));
  };
  if (!trusted(pageAddress))
    rule.refusedAddress_ = pageAddress;
  else if (topAddress && *topAddress != pageAddress && !trusted(*topAddress))
    rule.refusedAddress_ = *topAddress;
  rule.pageTrusted_ = rule.refusedAddress_.empty();
  return rule;
}

TrustRule TrustRule::ForOrigins(std::vector<std::string> origins) {
  TrustRule rule;
  rule.hasPage_ = true;
  rule.origins_ = std::move(origins);
  return rule;
}

bool TrustRule::Allows(const std::string& url) const {
  if (!IsWebAddress(url)) return false;
  if (!hasPage_) return true;
  if (!pageTrusted_) return false;
  if (origins_) return IsOnOriginList(url, *origins_);
  return IsTrustedZone(ZoneOfAddress(url));
}

AddressRule TrustRule::AsAddressRule() const {
  if (!hasPage_) return {};
  TrustRule copy = *this;
  return [copy](const std::string& url) { return copy.Allows(url); };
}

}  // namespace nib
