#pragma once
// The one rule for "this text is a web address" and for the origin an address
// belongs to, shared by the object (its transfers, its page) and the launcher
// (its job and every address in it). Two copies of such a rule drift apart,
// and the gap between them is where a hostile page or job walks through.
// Portable: no <windows.h>.

#include <string>
#include <string_view>
#include <vector>

namespace nib {

// The one trimming rule for addresses: every byte up to and including the
// space (control characters too) goes from both ends.
std::string TrimAddress(std::string_view text);

// True when `text` begins with `lowerPrefix` (given in lower case), letter
// case ignored: how schemes and "nibword:" are read.
bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix);

// True for text holding a byte below 0x20 or DEL.
bool HasControlCharacters(std::string_view text);

// True for an http or https address (letter case ignored), once trimmed, with
// no control character left inside. Every transfer takes only these: a page
// must not make the object read local files (file:, UNC paths) and send them on.
bool IsWebAddress(std::string_view url);

// "scheme://host[:port]" of a web address, lower-cased, the default port left
// out; empty for anything else (other schemes, user information in the
// address or a backslash before the path, which could hide the real host;
// no host).
std::string OriginOf(std::string_view url);

// True when the address's origin is one of `origins` (each an origin or an
// address on it).
bool IsOnOriginList(std::string_view url, const std::vector<std::string>& origins);

// `url` with `parameter` ("name=value") added to its query: after "&" when
// the address has a query already, after "?" when it has none (joined with
// "&" there, the parameter would become part of the path).
std::string WithQueryParameter(std::string_view url, std::string_view parameter);

// An address as the administrators' log may show it: scheme, host, port and
// path, without user information, query or fragment (where tokens and
// passwords travel); "(not a web address)" for anything else.
std::string AddressForLog(std::string_view url);

}  // namespace nib
