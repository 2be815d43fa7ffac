// The clerk, for tests that start the cycle from outside (the browser tests):
//   user-at-word.exe <text>
// Waits for the cycle's control window, types <text> at the start of the
// document in the Word the cycle runs, and presses 保存并关闭 once the open has
// finished, as a user would. Exits 0 when it pressed, 1 (with the reason on
// stderr) when there was nothing to press within a minute.
//   user-at-word.exe --retry <n>
// The clerk of an unattended cycle whose upload the server refuses: answers
// each message with its first button (OK, or 是 to "save?"), and after each
// refusal presses 关闭 → 是 to upload again, <n> times; exits 0 when the cycle
// then ended (its control window gone), 1 otherwise.

#include <windows.h>

#include <cstdio>
#include <string>

#include "DialogRobot.h"
#include "com/ComError.h"
#include "com/Dispatch.h"

namespace {

constexpr int kSaveAndCloseId = 100;  // the toolbar's first button
constexpr int kCloseId = 101;         // 关闭, the second
constexpr int kWaitSteps = 600;       // of 100 ms

HWND ToolbarButton(int id) {
  HWND window = FindWindowW(L"TFrmUserCtrlPop", nullptr);
  HWND toolbar = window ? FindWindowExW(window, nullptr, L"TToolBar", nullptr) : nullptr;
  return toolbar ? GetDlgItem(toolbar, id) : nullptr;
}

// The button once the open has finished (it is greyed until then).
HWND WaitForEnabledButton() {
  for (int i = 0; i < kWaitSteps; ++i) {
    HWND button = ToolbarButton(kSaveAndCloseId);
    if (button && IsWindowEnabled(button)) return button;
    Sleep(100);
  }
  return nullptr;
}

// A refusal brings its messages (the reason, then 文件上传未成功); each 关闭
// brings 是否保存 before the next refusal or 保存成功. 关闭 is pressed once the
// messages of a refusal have come and gone; after `retries` presses the cycle must end.
int RetryAfterRefusals(int retries) {
  constexpr DWORD kQuietMs = 1500;  // no new message for this long: the refusal has been told
  nib::test::DialogCatcher catcher;
  int pressed = 0;
  size_t answeredAtPress = 0, answered = 0;
  DWORD changedAt = GetTickCount();
  bool sawWindow = false;
  for (int i = 0; i < 2 * kWaitSteps; ++i, Sleep(100)) {
    HWND button = ToolbarButton(kCloseId);
    sawWindow = sawWindow || button;
    if (sawWindow && !button) return 0;  // the cycle ended
    if (catcher.Answered() != answered) answered = catcher.Answered(), changedAt = GetTickCount();
    bool refused = answered > answeredAtPress + (pressed ? 1 : 0) && GetTickCount() - changedAt > kQuietMs;
    if (pressed < retries && refused && button && IsWindowEnabled(button)) {
      ++pressed;
      answeredAtPress = answered;
      SendMessageW(button, BM_CLICK, 0, 0);
    }
  }
  std::fprintf(stderr, "user-at-word: after %d of %d retries the cycle has not ended (%zu messages answered)\n",
               pressed, retries, catcher.Answered());
  return 1;
}

// The document of the Word the cycle runs. The running object table may also
// hold a Word of an earlier cycle that is still on its way out (and holds no
// document): the one with a document open is the user's.
bool OpenDocument(nib::DispObject& document) {
  Microsoft::WRL::ComPtr<IRunningObjectTable> table;
  Microsoft::WRL::ComPtr<IEnumMoniker> monikers;
  if (GetRunningObjectTable(0, &table) != S_OK || table->EnumRunning(&monikers) != S_OK) return false;
  Microsoft::WRL::ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    Microsoft::WRL::ComPtr<IUnknown> running;
    Microsoft::WRL::ComPtr<IDispatch> word;
    if (table->GetObject(moniker.Get(), &running) == S_OK && SUCCEEDED(running.As(&word))) {
      try {
        document = nib::DispObject(word).Object(L"ActiveDocument");
        return true;
      } catch (const nib::ComError&) {
        // not Word, or no document open in it
      }
    }
    moniker.Reset();
  }
  return false;
}

bool TypeInWord(const std::wstring& text) {
  // Word enters the running object table on its own schedule: wait a little for it.
  nib::DispObject document;
  bool found = false;
  for (int i = 0; i < 50 && !found; ++i) {
    found = OpenDocument(document);
    if (!found) Sleep(200);
  }
  if (!found) {
    std::fprintf(stderr, "user-at-word: no running Word with a document open\n");
    return false;
  }
  try {
    document.CallObject(L"Range", {nib::Arg(0), nib::Arg(0)}).Put(L"Text", text);
    return true;
  } catch (const nib::ComError& e) {
    std::fprintf(stderr, "user-at-word: typing failed: %s\n", e.what());
    return false;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"--retry") return RetryAfterRefusals(_wtoi(argv[2]));
  if (argc != 2) {
    std::fprintf(stderr, "usage: user-at-word.exe <text> | --retry <n>\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  HWND button = WaitForEnabledButton();
  bool typed = button && TypeInWord(argv[1]);
  if (typed) SendMessageW(button, BM_CLICK, 0, 0);
  CoUninitialize();
  if (!button) std::fprintf(stderr, "user-at-word: no control window with 保存并关闭 enabled within a minute\n");
  return typed ? 0 : 1;
}
