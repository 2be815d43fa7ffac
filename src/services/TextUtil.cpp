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

unsigned ansiCodePage = 0;

// The byte index after the character that starts at `at`.
size_t NextChar(std::string_view text, size_t at, unsigned codePage) {
  return at + (at + 1 < text.size() && IsLeadByte(static_cast<unsigned char>(text[at]), codePage) ? 2 : 1);
}

// The last character start whose byte is one of `chars`; npos when none.
size_t FindLastOf(std::string_view text, std::string_view chars, unsigned codePage) {
  size_t last = std::string_view::npos;
  for (size_t at = 0; at < text.size(); at = NextChar(text, at, codePage))
    if (chars.find(text[at]) != std::string_view::npos) last = at;
  return last;
}

}  // namespace

void SetAnsiCodePage(unsigned codePage) { ansiCodePage = codePage; }
unsigned AnsiCodePage() { return ansiCodePage; }

bool IsLeadByte(unsigned char byte, unsigned codePage) {
  switch (codePage) {
    case 932: return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950: return byte >= 0x81 && byte <= 0xFE;
    default: return false;
  }
}

size_t FindText(std::string_view text, std::string_view pattern, size_t from, bool caseSensitive, unsigned codePage) {
  if (pattern.empty()) return from <= text.size() ? from : std::string_view::npos;
  for (size_t at = 0; at < text.size(); at = NextChar(text, at, codePage))
    if (at >= from && SameAt(text, at, pattern, caseSensitive)) return at;
  return std::string_view::npos;
}

size_t FindLastText(std::string_view text, std::string_view pattern, unsigned codePage) {
  if (pattern.empty()) return text.size();
  size_t last = std::string_view::npos;
  for (size_t at = 0; at < text.size(); at = NextChar(text, at, codePage))
    if (SameAt(text, at, pattern, true)) last = at;
  return last;
}

bool EndsWithChar(std::string_view text, char c, unsigned codePage) {
  return !text.empty() && FindLastOf(text, std::string_view(&c, 1), codePage) == text.size() - 1;
}

std::string TextBefore(std::string_view text, std::string_view separator) {
  size_t at = FindText(text, separator);
  return at == std::string_view::npos ? std::string() : std::string(text.substr(0, at));
}

std::string TextBeforeLast(std::string_view text, std::string_view separator) {
  size_t at = FindLastText(text, separator);
  return at == std::string_view::npos ? std::string() : std::string(text.substr(0, at));
}

std::string TextAfter(std::string_view text, std::string_view separator) {
  size_t at = FindText(text, separator);
  return at == std::string_view::npos ? std::string() : std::string(text.substr(at + separator.size()));
}

std::string TextBetween(std::string_view text, std::string_view start, std::string_view end, size_t from) {
  if (from < 1) from = 1;
  if (from > text.size()) return {};
  size_t p = FindText(text, start, from - 1);
  if (p == std::string_view::npos || start.empty()) return {};
  size_t contentStart = p + start.size();
  size_t q = FindText(text, end, contentStart);
  if (q == std::string_view::npos || end.empty()) return std::string(text.substr(contentStart));
  return std::string(text.substr(contentStart, q - contentStart));
}

bool DeleteAllBetween(std::string& text, std::string_view start, std::string_view end) {
  if (start.empty() || end.empty()) return false;
  bool deleted = false;
  for (;;) {
    size_t p = FindText(text, start);
    if (p == std::string::npos) break;
    size_t q = FindText(text, end, p + 1);
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
  // Every character start is tested, so overlapping separators each count.
  for (size_t i = 0; i < text.size(); i = NextChar(text, i, AnsiCodePage())) {
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
  size_t at = FindText(text, pattern, from - 1);
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
  for (size_t at = 0; at < result.size(); at = NextChar(result, at, AnsiCodePage()))
    if (result[at] == what) result[at] = replacement;
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
  size_t slash = FindLastOf(path, "\\/:", AnsiCodePage());
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string FileNameOfPath(std::string_view path) {
  size_t slash = FindLastOf(path, "\\/:", AnsiCodePage());
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtensionOfPath(std::string_view path) {
  std::string name = FileNameOfPath(path);
  size_t dot = FindLastText(name, ".");
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

}  // namespace nib
