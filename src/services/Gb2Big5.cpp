#include "services/Gb2Big5.h"

namespace nib {

std::string GbToBig5(std::string_view gb) {
  std::string big5;
  GbToBig5Append(gb, big5, true);
  return big5;
}

size_t GbToBig5Append(std::string_view gb, std::string& result, bool atEnd) {
  size_t out = result.size();
  result.resize(out + gb.size());  // every pair becomes a pair, every byte a byte
  char* big5 = result.data();
  size_t i = 0;
  while (i < gb.size()) {
    unsigned b1 = static_cast<unsigned char>(gb[i]);
    if (i + 1 == gb.size() && !atEnd && b1 >= 0xA1 && b1 <= 0xF7) break;
    unsigned b2 = i + 1 < gb.size() ? static_cast<unsigned char>(gb[i + 1]) : 0;
    if (b1 >= 0xA1 && b1 <= 0xF7 && b2 >= 0xA1 && b2 <= 0xFE) {
      std::uint16_t code = kGbToBig5Table[(b1 - 0xA1) * 94 + (b2 - 0xA1)];
      big5[out++] = static_cast<char>(code >> 8);
      big5[out++] = static_cast<char>(code & 0xFF);
      i += 2;
    } else {
      big5[out++] = gb[i++];
    }
  }
  result.resize(out);
  return i;
}

bool IsTraditionalLocaleId(unsigned long lcid) { return lcid == 0x0404 || lcid == 0x0C04; }

}  // namespace nib
