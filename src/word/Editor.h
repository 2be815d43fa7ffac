#pragma once
// Which editor an edit cycle drives: Microsoft Word, or WPS Writer, whose
// automation model is Word's under other names (WPS Office's own developer
// documentation). Administrators choose with the policy value Editor
// (REG_SZ: "auto", the default, "word" or "wps") under
// HKLM\Software\Policies\NibWordLib. "auto" takes Word when its automation
// server is registered, else WPS Writer; which program opens .doc files
// does not decide (WPS often takes that association beside Word).

#include <windows.h>
#include <oaidl.h>

#include <optional>
#include <string>

namespace nib {

struct Editor {
  std::string name;     // "Word" or "WPS", for the log
  std::wstring progId;  // the name its automation server was found by
  CLSID clsid{};
};

// The editor the policy asks for, as installed; empty when it (with "auto":
// either) has no automation server here. Reads the registry afresh each time.
std::optional<Editor> ChooseEditor();

// OpenFile refused before anything was fetched: no editor to open the document in.
inline constexpr HRESULT kNoEditorInstalled = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0228);
// The clerk's message for that, in the system's code page (GB2312, or Big5 on
// traditional systems): it names the editors looked for.
std::string NoEditorText();
// The policy value as the log shows it: "auto", "word" or "wps".
std::string EditorPolicy();

// WPS Writer's application events: Word's IID with WPS's suffix.
inline constexpr IID kWpsApplicationEvents = {
    0x000209FE, 0x0000, 0x4B30, {0xA9, 0x77, 0xD2, 0x14, 0x85, 0x20, 0x36, 0xFF}};

// The application's event interface that tells of a document about to be
// closed, and that event's dispatch id. Found among the connection points
// the application offers, by the event's name in its type information; where
// it has none, an interface known to be Word's or WPS's. Empty when none.
struct ApplicationEvents {
  IID iid{};
  DISPID documentBeforeClose = 6;
};
std::optional<ApplicationEvents> FindApplicationEvents(IDispatch* application);

}  // namespace nib
