#pragma once
// Who may drive the object, and which addresses its transfers may reach: one
// decision, used for the page that hosts the object, for every address the
// page sets (when it is used) and for every redirect hop.
//   - The administrator's list exists (AllowedOrigins, REG_MULTI_SZ under
//     HKLM\Software\NibWordLib): the origin must be on it, whatever its zone.
//   - No list: the address must be in the local machine, local intranet or
//     trusted sites zone; Internet and restricted sites are refused.
//   - No page (a script host, a program, the launcher without a site): the
//     host is a program the user runs, and every web address is allowed.

#include <optional>
#include <string>
#include <vector>

#include "services/WebTransfer.h"

namespace nib {

// The administrator's list, from the machine's own registry view whatever
// this program's bitness; nullopt when there is none.
std::optional<std::vector<std::string>> AdministratorOrigins();

// The security zone the system puts an address in (URLZONE_*), or
// URLZONE_UNTRUSTED when it cannot be told.
unsigned long ZoneOfAddress(const std::string& url);

class TrustRule {
 public:
  // A program the user runs: nothing is judged beyond "a web address".
  static TrustRule ForProgram() { return TrustRule(); }
  // The page at `pageAddress`, judged now by the list (read now) or its zone.
  // In a frame, `topAddress` is the browser's top page: it must pass too, so
  // that a trusted frame in an untrusted page gets nothing either. The
  // transfers are held to the page's own rule.
  static TrustRule ForPage(const std::string& pageAddress,
                           const std::optional<std::string>& topAddress = std::nullopt);
  // The launcher's rule: only the origins on `origins`.
  static TrustRule ForOrigins(std::vector<std::string> origins);

  bool HasPage() const { return hasPage_; }
  bool PageTrusted() const { return pageTrusted_; }
  const std::string& PageAddress() const { return pageAddress_; }
  // The address that was refused (the page's or its top page's); empty when trusted.
  const std::string& RefusedAddress() const { return refusedAddress_; }
  // True when a transfer may reach `url`.
  bool Allows(const std::string& url) const;
  // The same rule for the transfers.
  AddressRule AsAddressRule() const;

 private:
  bool hasPage_ = false;
  bool pageTrusted_ = true;
  std::string pageAddress_;
  std::string refusedAddress_;
  std::optional<std::vector<std::string>> origins_;
};

}  // namespace nib
