#pragma once
// Unique names: a GUID written as one 128-bit number in base 32, 26
// characters, the first "A" to "H" (top 3 bits), the rest "0"-"9","A"-"V".

#include <string>
#include <string_view>

namespace nib {

// The unique name of a GUID given in its 38-character registry form
// ("{XXXXXXXX-XXXX-...}"); empty when the text is no such form.
std::string UniqueNameOfGuidText(std::string_view guidText);

// A unique name made from a fresh GUID (Windows only).
std::string NewUniqueName();

}  // namespace nib
