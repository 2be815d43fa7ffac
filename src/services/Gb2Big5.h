#pragma once
// GB2312 to Big5, so the system's simplified-Chinese texts show in
// traditional characters on traditional-Chinese systems.

#include <cstdint>
#include <string>
#include <string_view>

namespace nib {

inline constexpr int kGbToBig5Entries = 87 * 94;  // 8178: GB2312 rows 1-87, cells 1-94
// Big5 code (lead byte high) of each GB2312 code; 0x2020 where Big5 has none.
extern const std::uint16_t kGbToBig5Table[kGbToBig5Entries];

// Byte-level conversion, whatever the locale: GB2312 pairs through the
// table, every other byte unchanged.
std::string GbToBig5(std::string_view gb);

// For texts converted piece by piece: appends the conversion of `gb` to
// `big5` and returns how many bytes it consumed. Unless `atEnd`, a last byte
// that may start a pair is left for the next piece.
size_t GbToBig5Append(std::string_view gb, std::string& big5, bool atEnd);

// Locales 1028 (Taiwan) and 3076 (Hong Kong) are traditional; no other is.
bool IsTraditionalLocaleId(unsigned long lcid);

}  // namespace nib
