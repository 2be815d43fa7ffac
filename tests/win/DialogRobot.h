#pragma once
// The dialog robot: a helper thread that waits for our message dialog
// (class "TMessageForm"), records what it shows and presses the button the
// test scripted, as a user would. A test never hangs on a modal dialog: when
// no scripted button exists the robot closes the dialog and records that.

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace nib::test {

struct SeenDialog {
  std::wstring title;
  std::wstring text;
  std::vector<std::wstring> buttons;
  bool hasIcon = false;
  RECT bounds{};
  DWORD shownAt = 0;          // tick count when the robot first saw it
  DWORD foregroundAt = 0;     // when it was (again) the foreground window; 0 never
};

class DialogRobot {
 public:
  // Presses `press` (a caption; "#2": the second button; empty: the first) in the next dialog
  // of `windowClass` ("#32770" for a plain message box). With `stealFocus`
  // the robot first puts a window of its own in the foreground and then waits
  // up to `watchMs` for the dialog to come back to the front before pressing.
  explicit DialogRobot(std::wstring press, bool stealFocus = false, DWORD watchMs = 0,
                       std::wstring windowClass = L"TMessageForm");
  // Ends the robot's wait: for checks that no dialog appeared.
  void Stop() { stop_ = true; }
  bool SawDialog() const { return seen_.shownAt != 0; }
  ~DialogRobot();
  DialogRobot(const DialogRobot&) = delete;
  DialogRobot& operator=(const DialogRobot&) = delete;

  // Waits for the robot to finish and returns what it saw.
  const SeenDialog& Seen();
  bool Pressed() const { return pressed_; }

 private:
  void Run();
  std::wstring press_;
  std::wstring windowClass_;
  std::atomic<bool> stop_{false};
  bool stealFocus_;
  DWORD watchMs_;
  SeenDialog seen_;
  std::atomic<bool> pressed_{false};
  std::thread thread_;
};

// Answers every dialog that comes (our message dialogs and plain message
// boxes) with its first button (OK, or Yes of a question) until stopped, and
// records each: for flows whose failures bring one or several dialogs.
class DialogCatcher {
 public:
  DialogCatcher();
  ~DialogCatcher();
  DialogCatcher(const DialogCatcher&) = delete;
  DialogCatcher& operator=(const DialogCatcher&) = delete;
  // Stops watching and returns what was seen, in order.
  const std::vector<SeenDialog>& Stop();
  std::vector<std::wstring> Texts();
  // How many dialogs it has answered so far (while it runs).
  size_t Answered() const { return answered_; }

 private:
  void Run();
  std::atomic<bool> stop_{false};
  std::atomic<size_t> answered_{0};
  std::vector<SeenDialog> seen_;
  std::thread thread_;
};

}  // namespace nib::test
