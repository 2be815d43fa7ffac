#include "services/UniqueName.h"

#include <array>
#include <cstdint>

namespace nib {

std::string UniqueNameOfGuidText(std::string_view guidText) {
  if (guidText.size() != 38 || guidText.front() != '{' || guidText.back() != '}') return {};
  // The 32 hexadecimal digits as 128 bits, most significant first.
  std::array<std::uint8_t, 128> bits{};
  size_t next = 0;
  for (char c : guidText.substr(1, 36)) {
    if (c == '-') continue;
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0 || next + 4 > bits.size()) return {};
    for (int b = 3; b >= 0; --b) bits[next++] = static_cast<std::uint8_t>((digit >> b) & 1);
  }
  if (next != bits.size()) return {};
  auto take = [&](size_t from, size_t count) {
    int value = 0;
    for (size_t i = 0; i < count; ++i) value = value * 2 + bits[from + i];
    return value;
  };
  static constexpr char kBase32Hex[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
  std::string name(1, static_cast<char>('A' + take(0, 3)));
  for (size_t from = 3; from < bits.size(); from += 5) name += kBase32Hex[take(from, 5)];
  return name;
}

}  // namespace nib

#ifdef _WIN32
#include <objbase.h>

namespace nib {

std::string NewUniqueName() {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return {};
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  std::string ascii;
  for (const wchar_t* c = text; *c; ++c) ascii += static_cast<char>(*c);  // the registry form is ASCII
  return UniqueNameOfGuidText(ascii);
}

}  // namespace nib
#endif
