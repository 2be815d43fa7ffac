#pragma once
// A small JSON reader and writer for the launcher's jobs and event posts.
// Strings are UTF-8; numbers are doubles; objects keep their members' order.

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nib::host {

struct JsonError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  JsonValue() = default;
  static JsonValue Bool(bool value);
  static JsonValue Number(double value);
  static JsonValue String(std::string utf8);
  static JsonValue Array(std::vector<JsonValue> items);
  static JsonValue Object(std::vector<std::pair<std::string, JsonValue>> members);

  Kind kind() const { return kind_; }
  bool IsString() const { return kind_ == Kind::kString; }
  bool AsBool() const { return bool_; }
  double AsNumber() const { return number_; }
  const std::string& AsString() const { return string_; }
  const std::vector<JsonValue>& Items() const { return items_; }
  const std::vector<std::pair<std::string, JsonValue>>& Members() const { return members_; }
  // The member called `name`, or nullptr.
  const JsonValue* Find(std::string_view name) const;

 private:
  Kind kind_ = Kind::kNull;
  bool bool_ = false;
  double number_ = 0;
  std::string string_;
  std::vector<JsonValue> items_;
  std::vector<std::pair<std::string, JsonValue>> members_;
};

// The whole text must be one value (blanks around it allowed). Throws JsonError
// naming the byte offset of the fault.
JsonValue ParseJson(std::string_view text);
// Compact JSON text of `value`.
std::string WriteJson(const JsonValue& value);

}  // namespace nib::host
