#pragma once
// Reading INI-format configuration files and the class registry. These
// routines report failure by value (the default, an empty text) and never throw.

#include <string>

namespace nib {

// The string value of `key` in `section` of the INI file, or `defaultValue`
// when the file, section or key is missing.
std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& defaultValue);

// The file of the server registered for a ProgID or a "{...}" class identifier
// (InprocServer32, else LocalServer32); empty when not found.
std::string ServerPathOfProgID(const std::string& name);

}  // namespace nib
