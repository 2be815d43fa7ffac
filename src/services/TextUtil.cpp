#include "services/TextUtil.h"

#include <algorithm>
#include <charconv>

namespace nib {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameAt(std::string_view text, size_t index, std::string_view pattern, bool caseSensitive) {
  if (index + pattern.size() > text.size()) return false;
  std::string_view part = text.substr(index, pattern.size());
  return caseSensitive ? part == pattern : TextEquals(part, pattern);
}

bool Same(std::string_view a, std::string_view b, bool caseSensitive) {
  return caseSensitive ? a == b : TextEquals(a, b);
}

}  // namespace

std::string TextBefore(std::string_view text, std::string_view separator) {
  size_t at = text.find(separator);
  return at == std::string_view::npos ? std::string() : std::string(text.substr(0, at));
}

std::string TextBeforeLast(std::string_view text, std::string_view separator) {
  size_t at = text.rfind(separator);
  return at == std::string_view::npos ? std::string() : std::string(text.substr(0, at));
}

std::string TextAfter(std::string_view text, std::string_view separator) {
  size_t at = text.find(separator);
  return at == std::string_view::npos ? std::string() : std::string(text.substr(at + separator.size()));
}

std::string TextBetween(std::string_view text, std::string_view start, std::string_view end, size_t from) {
  if (from < 1) from = 1;
  if (from > text.size()) return {};
  std::string_view rest = text.substr(from - 1);
  size_t p = rest.find(start);
  if (p == std::string_view::npos || start.empty()) return {};
  size_t contentStart = p + start.size();
  size_t q = rest.find(end, contentStart);
  if (q == std::string_view::npos || end.empty()) return std::string(rest.substr(contentStart));
  return std::string(rest.substr(contentStart, q - contentStart));
}

bool DeleteAllBetween(std::string& text, std::string_view start, std::string_view end) {
  if (start.empty() || end.empty()) return false;
  bool deleted = false;
  for (;;) {
    size_t p = text.find(start);
    if (p == std::string::npos) break;
    size_t q = text.find(end, p + 1);
    if (q == std::string::npos) break;
    text.erase(p, q + end.size() - p);
    deleted = true;
  }
  return deleted;
}

void SplitText(std::string_view text, std::string_view separator, T1DimStrArr& items, bool caseSensitive) {
  items.clear();
  if (separator.empty()) {
    if (!text.empty()) items.emplace_back(text);
    return;
  }
  size_t partStart = 0;
  bool matched = false;
  // Every position is tested, so overlapping separators each count.
  for (size_t i = 0; i < text.size(); ++i) {
    if (!SameAt(text, i, separator, caseSensitive)) continue;
    items.push_back(i >= partStart ? std::string(text.substr(partStart, i - partStart)) : std::string());
    partStart = i + separator.size();
    matched = true;
  }
  if (matched || !text.empty())
    items.push_back(partStart < text.size() ? std::string(text.substr(partStart)) : std::string());
}

size_t PosFrom(std::string_view pattern, std::string_view text, size_t from) {
  if (from < 1) from = 1;
  if (pattern.empty() || from > text.size()) return 0;
  size_t at = text.find(pattern, from - 1);
  return at == std::string_view::npos ? 0 : at + 1;
}

bool TextEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

std::string ReplaceChar(std::string_view text, char what, char replacement) {
  std::string result(text);
  for (char& c : result)
    if (c == what) c = replacement;
  return result;
}

std::string SlashToBackslash(std::string_view text) { return ReplaceChar(text, '/', '\\'); }

void DeleteRight(std::string& text, size_t count) {
  if (text.size() >= count) text.resize(text.size() - count);
}

bool TryTextToInt(std::string_view text, int& value) {
  std::string trimmed = TrimBlanks(text);
  std::string_view digits = trimmed;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  int base = 10;
  if (digits.size() > 1 && digits[0] == '$') {
    base = 16;
    digits.remove_prefix(1);
  } else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  if (digits.empty()) return false;
  long long magnitude = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (error != std::errc() || end != digits.data() + digits.size() || magnitude < 0) return false;
  long long signedValue = negative ? -magnitude : magnitude;
  if (base == 16 && !negative && signedValue > 0x7FFFFFFFLL && signedValue <= 0xFFFFFFFFLL)
    signedValue -= 0x100000000LL;  // hexadecimal covers all 32 bits, as "$FFFFFFFF" = -1
  if (signedValue < -2147483648LL || signedValue > 2147483647LL) return false;
  value = static_cast<int>(signedValue);
  return true;
}

std::string TrimBlanks(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}

int IndexOfText(const T1DimStrArr& items, int highest, std::string_view text, bool caseSensitive, int first) {
  if (first < 0) first = 0;
  int last = std::min(highest, static_cast<int>(items.size()) - 1);
  for (int i = first; i <= last; ++i)
    if (Same(items[static_cast<size_t>(i)], text, caseSensitive)) return i;
  return -1;
}

int FindRow(const T2DimStrArr& rows, const std::vector<int>& columns, bool caseSensitive, int firstRow,
            const T1DimStrArr& values) {
  if (firstRow < 0) firstRow = 0;
  for (size_t r = static_cast<size_t>(firstRow); r < rows.size(); ++r) {
    bool all = true;
    for (size_t c = 0; c < columns.size() && all; ++c) {
      size_t column = static_cast<size_t>(columns[c]);
      all = c < values.size() && column < rows[r].size() && Same(rows[r][column], values[c], caseSensitive);
    }
    if (all) return static_cast<int>(r);
  }
  return -1;
}

void AppendText(T1DimStrArr& items, std::string text) { items.push_back(std::move(text)); }
void AppendTextRow(T2DimStrArr& rows, T1DimStrArr values) { rows.push_back(std::move(values)); }
void AppendIntRow(T2DimIntArr& rows, std::vector<int> values) { rows.push_back(std::move(values)); }

std::string FolderOfPath(std::string_view path) {
  size_t slash = path.find_last_of("\\/:");
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string FileNameOfPath(std::string_view path) {
  size_t slash = path.find_last_of("\\/:");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtensionOfPath(std::string_view path) {
  std::string name = FileNameOfPath(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

}  // namespace nib
