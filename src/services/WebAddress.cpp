#include "services/WebAddress.h"

#include <algorithm>
#include <cctype>

namespace nib {
namespace {

bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
  return text.size() >= lowerPrefix.size() && Lower(text.substr(0, lowerPrefix.size())) == lowerPrefix;
}

std::string TrimAddress(std::string_view text) {
  size_t first = 0, last = text.size();
  while (first < last && IsTrimmed(text[first])) ++first;
  while (last > first && IsTrimmed(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}

bool HasControlCharacters(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    unsigned char byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

bool IsWebAddress(std::string_view url) {
  std::string trimmed = TrimAddress(url);
  if (HasControlCharacters(trimmed)) return false;
  auto starts = [&](std::string_view scheme) { return trimmed.size() > scheme.size() && StartsWithNoCase(trimmed, scheme); };
  return starts("http://") || starts("https://");
}

std::string OriginOf(std::string_view url) {
  if (!IsWebAddress(url)) return "";
  std::string address = TrimAddress(url);
  std::string scheme = StartsWithNoCase(address, "https://") ? "https" : "http";
  std::string_view rest = std::string_view(address).substr(scheme.size() + 3);
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  // Readers disagree on where such a host ends: "a.example\@b.example".
  if (authority.empty() || authority.find_first_of("@\\") != std::string_view::npos) return "";
  std::string host = Lower(authority), port;
  size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
    port = host.substr(colon + 1);
    host.erase(colon);
    if (port.empty() || !std::all_of(port.begin(), port.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      return "";
    if ((scheme == "http" && port == "80") || (scheme == "https" && port == "443")) port.clear();
  }
  if (host.empty()) return "";
  return scheme + "://" + host + (port.empty() ? "" : ":" + port);
}

bool IsOnOriginList(std::string_view url, const std::vector<std::string>& origins) {
  std::string origin = OriginOf(url);
  if (origin.empty()) return false;
  return std::any_of(origins.begin(), origins.end(), [&](const std::string& listed) { return OriginOf(listed) == origin; });
}

std::string WithQueryParameter(std::string_view url, std::string_view parameter) {
  std::string out(url);
  out += url.find('?') == std::string_view::npos ? '?' : '&';
  out += parameter;
  return out;
}

std::string AddressForLog(std::string_view url) {
  std::string trimmed = TrimAddress(url);
  if (!IsWebAddress(trimmed)) return "(not a web address)";
  size_t schemeEnd = trimmed.find("://");
  if (schemeEnd == std::string::npos) return "(not a web address)";
  size_t authorityStart = schemeEnd + 3;
  size_t authorityEnd = trimmed.find_first_of("/?#\\", authorityStart);
  if (authorityEnd == std::string::npos) authorityEnd = trimmed.size();
  std::string authority = trimmed.substr(authorityStart, authorityEnd - authorityStart);
  // user:password@host: only what follows the last '@' is the host.
  if (size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  size_t pathEnd = trimmed.find_first_of("?#", authorityEnd);
  std::string path = trimmed.substr(authorityEnd, (pathEnd == std::string::npos ? trimmed.size() : pathEnd) - authorityEnd);
  return Lower(trimmed.substr(0, schemeEnd)) + "://" + authority + path;
}

}  // namespace nib
