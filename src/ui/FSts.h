#pragma once
// TFrmSts: the waiting window shown while a template is applied. It refuses
// to be closed; only its owner's destruction removes it.

#include <windows.h>

namespace nib {

inline constexpr wchar_t kStatusWindowClass[] = L"TFrmSts";

class TFrmSts {
 public:
  // Created hidden, with its caption and label localised.
  TFrmSts();
  ~TFrmSts();
  TFrmSts(const TFrmSts&) = delete;
  TFrmSts& operator=(const TFrmSts&) = delete;

  void Show();  // not modal
  HWND Window() const { return window_; }
  HWND Label() const { return label_; }

 private:
  HWND window_ = nullptr;
  HWND label_ = nullptr;
  HFONT font_ = nullptr;
};

}  // namespace nib
