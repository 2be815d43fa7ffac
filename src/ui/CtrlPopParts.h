#pragma once
// What the control window (FrmUserCtrlPop.cpp) and its commands
// (CtrlPopCommands.cpp) share: the toggles' captions, which keep their
// states, the buttons a command holds while the object works, and the call
// of the object that answers a text.

#include <windows.h>

#include <initializer_list>
#include <string>

#include "com/BStr.h"
#include "com/ComError.h"
#include "com/StrConv.h"
#include "ui/FrmUserCtrlPop.h"

namespace nib::ctrlpop {

inline std::wstring Text(const char* utf8) { return AnsiToWide(utf8, CP_UTF8); }

inline const std::wstring& UseTmplOff() {  // offers to apply the template
  static const std::wstring text = Text("套用模板");
  return text;
}
inline const std::wstring& UseTmplOn() {
  static const std::wstring text = Text("不用模板");
  return text;
}
inline const std::wstring& PrintModeOff() {  // offers overprint mode
  static const std::wstring text = Text("套打模式");
  return text;
}
inline const std::wstring& PrintModeOn() {
  static const std::wstring text = Text("常规模式");
  return text;
}

// The buttons "保存并关闭" and "关闭" disable while the object works.
inline constexpr std::initializer_list<CtrlButton> kSixButtons = {kBtnCloseAndSave, kSpbShowTrack, kSpbClose,
                                                                  kSpbUseTmpl,      kSpbPrintMode, kSBInsertFile};

// A call of the object that answers a text.
template <class Call>
std::string TextOf(Call&& call, const char* where) {
  BStr result;
  ThrowIfFailed(call(result.Out()), where);
  return result.Ansi();
}

}  // namespace nib::ctrlpop
