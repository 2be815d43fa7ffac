#include "com/BStr.h"

#include "com/StrConv.h"

namespace nib {

BStr BStr::FromAnsi(std::string_view text) { return BStr(AnsiToWide(text)); }

std::string BStr::Ansi() const { return BstrToAnsi(value_); }

}  // namespace nib
