#pragma once
// Owner of one VARIANT: cleared when it goes. Move-only.

#include <windows.h>
#include <oleauto.h>

namespace nib {

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  Variant(Variant&& other) noexcept {
    value_ = other.value_;
    VariantInit(&other.value_);
  }
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      VariantClear(&value_);
      value_ = other.value_;
      VariantInit(&other.value_);
    }
    return *this;
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&value_); }

  VARIANT* Get() { return &value_; }
  const VARIANT* Get() const { return &value_; }
  VARTYPE Type() const { return V_VT(&value_); }
  void Clear() { VariantClear(&value_); }

 private:
  VARIANT value_;
};

}  // namespace nib
