#include "ui/TemplateCheck.h"

#include <vector>

#include "services/TextUtil.h"

namespace nib {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Every "**" must be followed by a non-blank that does not start "##"; a
// "**" that ends the text passes.
bool StarsFollowedByName(std::string_view text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text.substr(i, 2) != "**" || i + 2 == text.size()) continue;
    if (text[i + 2] == ' ' || text.substr(i + 2, 2) == "##") return false;
  }
  return true;
}

bool SegmentOk(std::string_view segment) {
  if (segment.empty() || !IsDigit(segment[0])) return false;
  bool marked = segment.find("**") != std::string_view::npos || segment.find("##") != std::string_view::npos;
  return marked && StarsFollowedByName(segment);
}

// Start of every "@@", overlapping ones included ("@@@" holds two).
std::vector<size_t> SeparatorPositions(std::string_view text) {
  std::vector<size_t> positions;
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '@' && text[i + 1] == '@') positions.push_back(i);
  return positions;
}

}  // namespace

bool TemplateSegmentsOk(std::string_view description) {
  std::vector<size_t> separators = SeparatorPositions(description);
  if (separators.size() > static_cast<size_t>(kMaxTemplateSeparators)) return false;
  if (separators.empty()) return SegmentOk(description);
  if (separators.size() == 1) return true;
  size_t start = 0;
  for (size_t separator : separators) {
    // Overlapping separators leave an empty segment between them.
    std::string_view segment = separator >= start ? description.substr(start, separator - start) : std::string_view{};
    if (!SegmentOk(segment)) return false;
    start = separator + 2;
  }
  return SegmentOk(start <= description.size() ? description.substr(start) : std::string_view{});
}

bool TemplateCharactersOk(std::string_view s) {
  bool keyed = !s.empty() && IsDigit(s[0]) && s.find("**") != std::string_view::npos &&
               s.find("##") != std::string_view::npos;
  if (!keyed) return s.size() >= 2 && s.substr(s.size() - 2) == "##";
  // Positions count from 1 as in the description's definition; outside the text reads as '\0'.
  auto at = [&](size_t position) { return position >= 1 && position <= s.size() ? s[position - 1] : '\0'; };
  auto follows = [&](size_t last, std::string_view what) {  // `what` ends at position `last`
    if (last < what.size()) return false;
    return s.substr(last - what.size(), what.size()) == what;
  };
  for (size_t p = 1; p <= s.size(); p += 2) {
    char first = at(p), second = at(p + 1);
    if (first == '@' && second == '@') {
      if (follows(p - 1, "[B") || !IsDigit(at(p + 2))) return false;
    } else if (second == '@') {
      if (at(p + 2) == '@') {
        if (!IsDigit(at(p + 3))) return false;
      } else if (!follows(p + 1, "[B@")) {
        return false;
      }
    } else if (first == '@') {
      if (at(p - 1) == '@') {
        if (!IsDigit(second)) return false;
      } else if (!follows(p, "[B@")) {
        return false;
      }
    }
  }
  return true;
}

TemplateCheck CheckTemplateDescription(std::string_view description) {
  if (TrimBlanks(description).empty()) return TemplateCheck::kEmpty;
  if (!TemplateSegmentsOk(description)) return TemplateCheck::kSegmentFault;
  if (!TemplateCharactersOk(description)) return TemplateCheck::kCharacterFault;
  return TemplateCheck::kOk;
}

}  // namespace nib
