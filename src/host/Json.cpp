#include "host/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace nib::host {

JsonValue JsonValue::Bool(bool value) {
  JsonValue v;
  v.kind_ = Kind::kBool;
  v.bool_ = value;
  return v;
}

JsonValue JsonValue::Number(double value) {
  JsonValue v;
  v.kind_ = Kind::kNumber;
  v.number_ = value;
  return v;
}

JsonValue JsonValue::String(std::string utf8) {
  JsonValue v;
  v.kind_ = Kind::kString;
  v.string_ = std::move(utf8);
  return v;
}

JsonValue JsonValue::Array(std::vector<JsonValue> items) {
  JsonValue v;
  v.kind_ = Kind::kArray;
  v.items_ = std::move(items);
  return v;
}

JsonValue JsonValue::Object(std::vector<std::pair<std::string, JsonValue>> members) {
  JsonValue v;
  v.kind_ = Kind::kObject;
  v.members_ = std::move(members);
  return v;
}

const JsonValue* JsonValue::Find(std::string_view name) const {
  for (const auto& [key, value] : members_)
    if (key == name) return &value;
  return nullptr;
}

namespace {

constexpr int kMaxDepth = 64;  // a job is shallow; deeper input is refused, not recursed into

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  JsonValue Document() {
    JsonValue value = Value(0);
    SkipBlanks();
    if (at_ != text_.size()) Fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const char* what) const {
    throw JsonError(std::string("JSON: ") + what + " at byte " + std::to_string(at_));
  }
  void SkipBlanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
      ++at_;
  }
  bool Take(char c) {
    SkipBlanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void Expect(char c, const char* what) {
    if (!Take(c)) Fail(what);
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  JsonValue Value(int depth) {
    if (depth > kMaxDepth) Fail("nesting too deep");
    SkipBlanks();
    if (at_ >= text_.size()) Fail("a value is missing");
    char c = text_[at_];
    if (c == '{') return ObjectValue(depth);
    if (c == '[') return ArrayValue(depth);
    if (c == '"') return JsonValue::String(StringText());
    if (Word("true")) return JsonValue::Bool(true);
    if (Word("false")) return JsonValue::Bool(false);
    if (Word("null")) return JsonValue();
    if (c == '-' || (c >= '0' && c <= '9')) return NumberValue();
    Fail("unexpected character");
  }

  JsonValue ObjectValue(int depth) {
    ++at_;
    std::vector<std::pair<std::string, JsonValue>> members;
    if (Take('}')) return JsonValue::Object(std::move(members));
    do {
      SkipBlanks();
      if (at_ >= text_.size() || text_[at_] != '"') Fail("a member name is missing");
      std::string name = StringText();
      Expect(':', "':' is missing");
      members.emplace_back(std::move(name), Value(depth + 1));
    } while (Take(','));
    Expect('}', "'}' is missing");
    return JsonValue::Object(std::move(members));
  }

  JsonValue ArrayValue(int depth) {
    ++at_;
    std::vector<JsonValue> items;
    if (Take(']')) return JsonValue::Array(std::move(items));
    do items.push_back(Value(depth + 1));
    while (Take(','));
    Expect(']', "']' is missing");
    return JsonValue::Array(std::move(items));
  }

  JsonValue NumberValue() {
    size_t start = at_;
    if (text_[at_] == '-') ++at_;
    auto digits = [&] {
      size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      if (at_ == from) Fail("a digit is missing");
    };
    digits();
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      digits();
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      digits();
    }
    std::string number(text_.substr(start, at_ - start));
    double value = std::strtod(number.c_str(), nullptr);
    if (!std::isfinite(value)) Fail("number out of range");
    return JsonValue::Number(value);
  }

  unsigned Hex4() {
    if (at_ + 4 > text_.size()) Fail("short \\u escape");
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[at_++];
      value <<= 4;
      if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
      else Fail("bad \\u escape");
    }
    return value;
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string StringText() {
    ++at_;  // the opening quote
    std::string out;
    for (;;) {
      if (at_ >= text_.size()) Fail("unterminated string");
      char c = text_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) Fail("unterminated escape");
      char e = text_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned code = Hex4();
          if (code >= 0xD800 && code < 0xDC00) {
            if (!Word("\\u")) Fail("lone surrogate");
            unsigned low = Hex4();
            if (low < 0xDC00 || low >= 0xE000) Fail("lone surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code < 0xE000) {
            Fail("lone surrogate");
          }
          AppendUtf8(out, code);
          break;
        }
        default: Fail("bad escape");
      }
    }
  }

  std::string_view text_;
  size_t at_ = 0;
};

void WriteString(std::string& out, const std::string& text) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void Write(std::string& out, const JsonValue& value) {
  switch (value.kind()) {
    case JsonValue::Kind::kNull: out += "null"; break;
    case JsonValue::Kind::kBool: out += value.AsBool() ? "true" : "false"; break;
    case JsonValue::Kind::kNumber: {
      char number[32];
      std::snprintf(number, sizeof number, "%.17g", value.AsNumber());
      out += number;
      break;
    }
    case JsonValue::Kind::kString: WriteString(out, value.AsString()); break;
    case JsonValue::Kind::kArray: {
      out += '[';
      for (size_t i = 0; i < value.Items().size(); ++i) {
        if (i) out += ',';
        Write(out, value.Items()[i]);
      }
      out += ']';
      break;
    }
    case JsonValue::Kind::kObject: {
      out += '{';
      bool first = true;
      for (const auto& [name, member] : value.Members()) {
        if (!first) out += ',';
        first = false;
        WriteString(out, name);
        out += ':';
        Write(out, member);
      }
      out += '}';
      break;
    }
  }
}

}  // namespace

JsonValue ParseJson(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte-order mark
  return Reader(text).Document();
}

std::string WriteJson(const JsonValue& value) {
  std::string out;
  Write(out, value);
  return out;
}

}  // namespace nib::host
