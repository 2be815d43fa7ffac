#include "services/ButtonSet.h"

#include "services/TextUtil.h"

namespace nib {

std::string ButtonsToText(ButtonSet buttons) {
  std::string text;
  for (int bit = 0; bit < kButtonCount; ++bit)
    if (buttons & (1u << bit)) text += std::to_string(bit) + ",";
  DeleteRight(text, 1);
  return text;
}

ButtonSet TextToButtons(std::string_view text) {
  T1DimStrArr items;
  SplitText(text, ",", items, true);
  ButtonSet buttons = 0;
  for (const std::string& item : items) {
    int number = 0;
    if (!TryTextToInt(item, number)) continue;
    int value = number & 0xFF;
    if (value <= 15) buttons = static_cast<ButtonSet>(buttons | (1u << value));
  }
  return buttons;
}

}  // namespace nib
