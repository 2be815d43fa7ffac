#pragma once
// Text routines on byte strings in the system's ANSI code page. Portable: no
// Windows headers, tested natively.

#include <string>
#include <string_view>

namespace nib {

// Removes leading and trailing characters of code 32 or below.
std::string TrimBlanks(std::string_view text);

// Equal when the texts differ at most in the case of ASCII letters.
bool TextEquals(std::string_view a, std::string_view b);

// The folder part of a path, with its trailing "\"; empty when it has none.
std::string FolderOfPath(std::string_view path);

}  // namespace nib
