#pragma once
// The checks a multi-template description passes before the template chooser
// is offered. The description is made of segments separated by "@@", each
// key "**" name "##" value, the key starting with a digit; a "@" may also
// stand in the sequence "[B@". Portable: tested natively.

#include <string_view>

namespace nib {

// A description with more separators than this is refused by the segment check.
inline constexpr int kMaxTemplateSeparators = 100;

enum class TemplateCheck { kOk, kEmpty, kSegmentFault, kCharacterFault };

// The markers: every segment starts with a digit and holds "**" or "##",
// and each "**" is followed by a name.
bool TemplateSegmentsOk(std::string_view description);
// Every "@" belongs to a separator followed by a digit, or to "[B@".
bool TemplateCharactersOk(std::string_view description);
// Both checks in the order the warnings are given; blank descriptions are kEmpty.
TemplateCheck CheckTemplateDescription(std::string_view description);

}  // namespace nib
