#pragma once
// Reading INI-format configuration files and the registry. These routines
// report failure by value (the default, the failure marker, an empty text)
// and never throw.

#include <windows.h>

#include <string>
#include <variant>

namespace nib {

// A configuration value read as "String", "Integer" or "Boolean".
using ConfigValue = std::variant<std::string, int, bool>;

// The registry-read failure marker.
inline constexpr char kRegReadError[] = "RDErrRD";

// Reads `key` of `section` as the type named by `typeName` (case ignored),
// with `defaultValue` converted to that type; an unknown type name leaves
// `value` untouched, as does any error.
void ReadIniValue(const std::string& file, const std::string& typeName, const std::string& section, ConfigValue& value,
                  const std::string& defaultValue, const std::string& key);
// The string value of `key`, or `defaultValue` when the file, section or key is missing.
std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& defaultValue);

// Reads a registry value as "String", "Integer" or "Boolean" (or, for any
// other type name, as its stored type). `value` is the marker "RDErrRD" on
// any failure; the result is false exactly then.
bool ReadRegValue(HKEY root, const std::string& keyPath, const std::string& typeName, ConfigValue& value,
                  const std::string& valueName);

// The file of the server registered for a ProgID or a "{...}" class identifier
// (InprocServer32, else LocalServer32); empty when not found.
std::string ServerPathOfProgID(const std::string& name);

// The program registered to open files with `extension` (".doc"): the quoted
// path of its open command, or only its file name; empty when not found.
std::string AppOfExtension(const std::string& extension, bool fullPath);

// A text kept scrambled in a REG_BINARY value (created with its key when needed).
void WriteScrambledRegValue(HKEY root, const std::string& text, const std::string& keyPath,
                            const std::string& valueName);
// The text back; empty on any failure.
std::string ReadScrambledRegValue(HKEY root, const std::string& keyPath, const std::string& valueName);

}  // namespace nib
