#pragma once
// Owner of one BSTR. Move-only; frees the string when it goes.

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

namespace nib {

class BStr {
 public:
  BStr() = default;
  explicit BStr(std::wstring_view text)
      : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  static BStr FromAnsi(std::string_view text);
  static BStr Attach(BSTR owned) {
    BStr result;
    result.value_ = owned;
    return result;
  }
  BStr(BStr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  BStr& operator=(BStr&& other) noexcept {
    if (this != &other) {
      Reset();
      value_ = std::exchange(other.value_, nullptr);
    }
    return *this;
  }
  BStr(const BStr&) = delete;
  BStr& operator=(const BStr&) = delete;
  ~BStr() { Reset(); }

  BSTR Get() const { return value_; }
  // For out parameters: frees the current value and hands out the slot.
  BSTR* Out() {
    Reset();
    return &value_;
  }
  BSTR Detach() { return std::exchange(value_, nullptr); }
  std::wstring Wide() const { return value_ ? std::wstring(value_, SysStringLen(value_)) : std::wstring(); }
  std::string Ansi() const;

 private:
  void Reset() {
    if (value_) SysFreeString(value_);
    value_ = nullptr;
  }
  BSTR value_ = nullptr;
};

}  // namespace nib
