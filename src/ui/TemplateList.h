#pragma once
// The templates of a multi-template description as the chooser lists them:
// segments split at "@@", ordered by their leading digit, largest first, each
// with the name it is listed by and the value the page is told. Portable.

#include <string>
#include <string_view>
#include <vector>

namespace nib {

struct TemplateEntry {
  std::string segment;  // key "**" name "##" value
  std::string name;     // after the first "**", up to the next "##"
  std::string value;    // after the first "##"
};

// Splits at "@@" until a segment equals what is left (so a repeated last
// segment is listed once), then orders by the first character's digit,
// largest first, keeping the order of equal keys.
std::vector<TemplateEntry> TemplateEntries(std::string_view description);

// Only names ending in ".doc" are offered.
bool IsListedTemplate(const TemplateEntry& entry);

}  // namespace nib
