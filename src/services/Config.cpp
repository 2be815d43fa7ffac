#include "services/Config.h"

#include <objbase.h>

#include <vector>

#include "com/StrConv.h"
#include "services/Scramble.h"
#include "services/TextUtil.h"

namespace nib {
namespace {

enum class ValueType { String, Integer, Boolean, Unknown };

ValueType TypeNamed(const std::string& name) {
  if (TextEquals(name, "String")) return ValueType::String;
  if (TextEquals(name, "Integer")) return ValueType::Integer;
  if (TextEquals(name, "Boolean")) return ValueType::Boolean;
  return ValueType::Unknown;
}

// Owner of an open registry key.
class RegKey {
 public:
  // A path may be written as absolute ("\Software\...\"), as the stored
  // locations are: the registry functions take it without the outer backslashes.
  RegKey(HKEY root, const std::string& path, REGSAM access, bool create = false) {
    size_t first = path.find_first_not_of('\\'), last = path.find_last_not_of('\\');
    std::wstring wide = first == std::string::npos ? L"" : AnsiToWide(path.substr(first, last - first + 1));
    LONG result = create ? RegCreateKeyExW(root, wide.c_str(), 0, nullptr, 0, access, nullptr, &key_, nullptr)
                         : RegOpenKeyExW(root, wide.c_str(), 0, access, &key_);
    if (result != ERROR_SUCCESS) key_ = nullptr;
  }
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The raw data and type of a value; false when it cannot be read.
bool QueryValue(HKEY key, const std::string& name, DWORD& type, std::vector<BYTE>& data) {
  std::wstring wide = AnsiToWide(name);
  const wchar_t* valueName = name.empty() ? nullptr : wide.c_str();
  DWORD bytes = 0;
  if (RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
  data.resize(bytes);
  return RegQueryValueExW(key, valueName, nullptr, &type, data.data(), &bytes) == ERROR_SUCCESS &&
         (data.resize(bytes), true);
}

std::string TextOf(const std::vector<BYTE>& data) {
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  text.resize(wcsnlen(text.c_str(), text.size()));
  return WideToAnsi(text);
}

bool ReadDefaultText(const std::string& keyPath, std::string& value) {
  ConfigValue read;
  if (!ReadRegValue(HKEY_CLASSES_ROOT, keyPath, "String", read, "")) return false;
  value = std::get<std::string>(read);
  return true;
}

}  // namespace

std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& defaultValue) {
  std::vector<char> buffer(256);
  for (;;) {
    DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                            static_cast<DWORD>(buffer.size()), file.c_str());
    if (length + 1 < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 4);
  }
}

void ReadIniValue(const std::string& file, const std::string& typeName, const std::string& section, ConfigValue& value,
                  const std::string& defaultValue, const std::string& key) {
  std::string text = ReadIniString(file, section, key, defaultValue);
  int number = 0;
  switch (TypeNamed(typeName)) {
    case ValueType::String:
      value = text;
      break;
    case ValueType::Integer:
      if (TryTextToInt(text, number)) value = number;
      break;
    case ValueType::Boolean:
      if (TryTextToInt(text, number))
        value = number != 0;
      else if (TextEquals(text, "true") || TextEquals(text, "false"))
        value = TextEquals(text, "true");
      break;
    case ValueType::Unknown:
      break;
  }
}

bool ReadRegValue(HKEY root, const std::string& keyPath, const std::string& typeName, ConfigValue& value,
                  const std::string& valueName) {
  value = std::string(kRegReadError);
  RegKey key(root, keyPath, KEY_READ);
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!key.Get() || !QueryValue(key.Get(), valueName, type, data)) return false;
  bool isText = type == REG_SZ || type == REG_EXPAND_SZ;
  bool isNumber = type == REG_DWORD && data.size() >= sizeof(DWORD);
  DWORD number = isNumber ? *reinterpret_cast<const DWORD*>(data.data()) : 0;
  switch (TypeNamed(typeName)) {
    case ValueType::String:
      if (!isText || TextOf(data).empty()) return false;
      value = TextOf(data);
      return true;
    case ValueType::Integer:
      if (!isNumber) return false;
      value = static_cast<int>(number);
      return true;
    case ValueType::Boolean:
      if (!isNumber) return false;
      value = number != 0;
      return true;
    case ValueType::Unknown:
      if (isText) value = TextOf(data);
      else if (isNumber) value = static_cast<int>(number);
      else return false;
      return !(isText && std::get<std::string>(value) == kRegReadError);
  }
  return false;
}

std::string ServerPathOfProgID(const std::string& name) {
  std::string classId;
  if (name.size() == 38 && name[0] == '{') {
    classId = name;
  } else {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(AnsiToWide(name).c_str(), &clsid))) return {};
    classId = WideToAnsi(GuidText(clsid));
  }
  std::string path;
  if (ReadDefaultText("CLSID\\" + classId + "\\InprocServer32", path)) return path;
  if (ReadDefaultText("CLSID\\" + classId + "\\LocalServer32", path)) return path;
  return {};
}

std::string AppOfExtension(const std::string& extension, bool fullPath) {
  std::string fileType, command;
  if (!ReadDefaultText(extension, fileType)) return {};
  if (!ReadDefaultText(fileType + "\\Shell\\Open\\Command", command)) return {};
  std::string program = TextBetween(command, "\"", "\"");
  return fullPath ? program : FileNameOfPath(program);
}

void WriteScrambledRegValue(HKEY root, const std::string& text, const std::string& keyPath,
                            const std::string& valueName) {
  std::vector<std::uint8_t> stored = ScrambleText(text, ScrambleRandomBytes());
  RegKey key(root, keyPath, KEY_WRITE, true);
  if (!key.Get() || stored.empty()) return;
  std::wstring name = AnsiToWide(valueName);
  RegSetValueExW(key.Get(), name.c_str(), 0, REG_BINARY, stored.data(), static_cast<DWORD>(stored.size()));
}

std::string ReadScrambledRegValue(HKEY root, const std::string& keyPath, const std::string& valueName) {
  RegKey key(root, keyPath, KEY_READ);
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!key.Get() || !QueryValue(key.Get(), valueName, type, data) || type != REG_BINARY) return {};
  return UnscrambleText(std::vector<std::uint8_t>(data.begin(), data.end()));
}

}  // namespace nib
