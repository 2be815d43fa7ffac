#pragma once
// Message-dialog button sets: bit 0 Yes, 1 No, 2 OK, 3 Cancel, 4 Abort,
// 5 Retry, 6 Ignore, 7 All, 8 NoToAll, 9 YesToAll, 10 Help. The text form
// lists the set bits in ascending decimal order, comma-separated ("2" = OK).

#include <cstdint>
#include <string>
#include <string_view>

namespace nib {

using ButtonSet = std::uint16_t;

enum ButtonBit : int { kYes = 0, kNo, kOk, kCancel, kAbort, kRetry, kIgnore, kAll, kNoToAll, kYesToAll, kHelp };
inline constexpr int kButtonCount = 11;

std::string ButtonsToText(ButtonSet buttons);
// Entries that are no number are skipped; of a number only its low 8 bits
// count, and values above 15 are skipped (11 to 15 select no button).
ButtonSet TextToButtons(std::string_view text);

}  // namespace nib
