#pragma once
// Runs one launcher job: the object in this thread's apartment, its events
// posted to the job's events address (whose answers may carry settings), the
// settings applied, the document opened, and messages pumped until the cycle
// ends.

#include <windows.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "NibWordLib.h"
#include "com/EventSink.h"
#include "host/Job.h"
#include "services/JustHttp.h"

namespace nib::host {

class JobRunner {
 public:
  explicit JobRunner(std::vector<std::string> allowedOrigins) : allowed_(std::move(allowedOrigins)) {}

  // 0 when the cycle ran and every post arrived; 3 when a post did not arrive
  // or an answer was refused; 4 when the open failed or opened nothing. The
  // user was told each failure in a message box. Throws JobError for a job
  // refused before anything ran.
  int Run(const Job& job);

 private:
  void ApplySettings(const std::vector<Setting>& settings);
  void ApplySetting(const Setting& setting);
  void OnEvent(DISPID id, DISPPARAMS& params);
  // Posts `body` (JSON) to the events address and applies settings in its answer.
  void Post(const JsonValue& body);
  void WaitForCycleEnd();

  std::vector<std::string> allowed_;
  std::string events_;
  Microsoft::WRL::ComPtr<INibWord> object_;
  Microsoft::WRL::ComPtr<ITypeInfo> typeInfo_;
  EventConnection connection_;
  TJustHttp http_;
  bool quitSeen_ = false;
  bool postFailed_ = false;
  std::string answerError_;  // a refused or failing answer to an event post
};

// Tells the user, in a message box of the launcher's own.
void Tell(const std::wstring& text);

}  // namespace nib::host
