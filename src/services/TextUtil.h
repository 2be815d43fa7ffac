#pragma once
// Text routines on byte strings in the system's ANSI code page. Positions
// count from 1; comparisons that ignore case ignore it for ASCII letters only.
// Portable: no Windows headers, tested natively.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nib {

using T1DimStrArr = std::vector<std::string>;
using T2DimStrArr = std::vector<T1DimStrArr>;
using T2DimIntArr = std::vector<std::vector<int>>;

// The ANSI code page whose double-byte rules every routine here follows: a
// search for "\\", "/", "." or any ASCII text never matches the trail byte of
// a double-byte character (Big5's 許 is A9 5C, GBK's 乗 81 5C). 0, the value
// until it is set, is single-byte; the Windows build sets the system's code
// page once, when the library loads.
void SetAnsiCodePage(unsigned codePage);
unsigned AnsiCodePage();
// True when `byte` begins a double-byte character in `codePage` (932, 936, 949, 950).
bool IsLeadByte(unsigned char byte, unsigned codePage);
// Byte index of the first (at or after byte `from`) / last occurrence of
// `pattern` that begins on a character; npos when there is none.
size_t FindText(std::string_view text, std::string_view pattern, size_t from = 0, bool caseSensitive = true,
                unsigned codePage = AnsiCodePage());
size_t FindLastText(std::string_view text, std::string_view pattern, unsigned codePage = AnsiCodePage());
// True when the text's last character is `c` (not a trail byte equal to it).
bool EndsWithChar(std::string_view text, char c, unsigned codePage = AnsiCodePage());

// The part before the first / before the last / after the first separator;
// empty when the text has none.
std::string TextBefore(std::string_view text, std::string_view separator);
std::string TextBeforeLast(std::string_view text, std::string_view separator);
std::string TextAfter(std::string_view text, std::string_view separator);

// The text between the first `start` marker (searched from position `from`)
// and the next `end` marker after it; everything after the start marker when
// no end marker follows; empty when there is no start marker.
std::string TextBetween(std::string_view text, std::string_view start, std::string_view end, size_t from = 1);

// Deletes every stretch from a start marker up to and including the next end
// marker. True when anything was deleted.
bool DeleteAllBetween(std::string& text, std::string_view start, std::string_view end);

// Splits at every occurrence of the separator (exact when `caseSensitive`).
// An empty text gives no items; a text ending in the separator ends in an empty item.
void SplitText(std::string_view text, std::string_view separator, T1DimStrArr& items, bool caseSensitive);

// Position (from 1) of the first occurrence of `pattern` at or after `from`; 0 when none.
size_t PosFrom(std::string_view pattern, std::string_view text, size_t from);

bool TextEquals(std::string_view a, std::string_view b);
std::string ReplaceChar(std::string_view text, char what, char replacement);
std::string SlashToBackslash(std::string_view text);
// Deletes the last `count` characters when the text has that many.
void DeleteRight(std::string& text, size_t count);
// Decimal (or "$"/"0x" hexadecimal) 32-bit integer, surrounding blanks ignored.
bool TryTextToInt(std::string_view text, int& value);
// Removes leading and trailing characters of code 32 or below.
std::string TrimBlanks(std::string_view text);

template <class T>
T ChooseValue(bool flag, T ifTrue, T ifFalse) {
  return flag ? ifTrue : ifFalse;
}

// The first index from `first` on, up to `highest`, whose element equals
// `text`; -1 when none or when `first` is past the end.
int IndexOfText(const T1DimStrArr& items, int highest, std::string_view text, bool caseSensitive, int first = 0);
// The first row from `firstRow` on whose cells at `columns` equal `values`; -1 when none.
int FindRow(const T2DimStrArr& rows, const std::vector<int>& columns, bool caseSensitive, int firstRow,
            const T1DimStrArr& values);
void AppendText(T1DimStrArr& items, std::string text);
void AppendTextRow(T2DimStrArr& rows, T1DimStrArr values);
void AppendIntRow(T2DimIntArr& rows, std::vector<int> values);

// The folder part of a path, with its trailing "\"; empty when it has none.
std::string FolderOfPath(std::string_view path);
// The file-name part of a path (after the last "\", "/" or ":").
std::string FileNameOfPath(std::string_view path);
// The extension of a path's file name, with its dot; empty when none.
std::string ExtensionOfPath(std::string_view path);

}  // namespace nib
