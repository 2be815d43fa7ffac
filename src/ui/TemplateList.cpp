#include "ui/TemplateList.h"

#include <utility>

namespace nib {
namespace {

std::vector<std::string> Segments(std::string_view text) {
  std::vector<std::string> segments;
  for (;;) {
    size_t separator = text.find("@@");
    std::string_view segment = text.substr(0, separator);
    std::string_view rest = separator == std::string_view::npos ? text : text.substr(separator + 2);
    segments.emplace_back(segment);
    if (segment == rest) return segments;
    text = rest;
  }
}

int KeyOf(const std::string& segment) {
  return !segment.empty() && segment[0] >= '0' && segment[0] <= '9' ? segment[0] - '0' : 0;
}

TemplateEntry EntryOf(std::string segment) {
  TemplateEntry entry;
  size_t stars = segment.find("**");
  size_t nameStart = stars == std::string::npos ? 0 : stars + 2;
  size_t hashes = segment.find("##", nameStart);
  entry.name = segment.substr(nameStart, hashes == std::string::npos ? std::string::npos : hashes - nameStart);
  size_t firstHashes = segment.find("##");
  entry.value = firstHashes == std::string::npos ? segment : segment.substr(firstHashes + 2);
  entry.segment = std::move(segment);
  return entry;
}

}  // namespace

std::vector<TemplateEntry> TemplateEntries(std::string_view description) {
  std::vector<std::string> segments = Segments(description);
  // A bubble sort swapping only on a strictly larger key: equal keys keep their order.
  for (size_t pass = 0; pass + 1 < segments.size(); ++pass)
    for (size_t i = 0; i + 1 < segments.size() - pass; ++i)
      if (KeyOf(segments[i + 1]) > KeyOf(segments[i])) std::swap(segments[i], segments[i + 1]);
  std::vector<TemplateEntry> entries;
  for (std::string& segment : segments) entries.push_back(EntryOf(std::move(segment)));
  return entries;
}

bool IsListedTemplate(const TemplateEntry& entry) {
  return entry.name.size() >= 4 && entry.name.compare(entry.name.size() - 4, 4, ".doc") == 0;
}

}  // namespace nib
