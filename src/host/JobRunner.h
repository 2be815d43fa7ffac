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
#include "com/Variant.h"
#include "host/Job.h"

namespace nib::host {

class JobRunner {
 public:
  // `jobAddress` is where the job came from: the object's page.
  JobRunner(std::vector<std::string> allowedOrigins, std::string jobAddress)
      : allowed_(std::move(allowedOrigins)), jobAddress_(std::move(jobAddress)) {}

  // 0 when the cycle ran and every post arrived; 3 when a post did not arrive
  // or an answer was refused; 4 when the open failed or opened nothing. The
  // user was told each failure in a message box. Throws JobError for a job
  // refused before anything ran.
  int Run(const Job& job);

 private:
  // A setting judged and ready to call: the member, how, with what.
  struct PreparedSetting {
    std::string member;
    DISPID id = 0;
    bool put = false;  // a property put (SetFontName), not a method
    std::vector<Variant> arguments;
  };
  void ApplySettings(const std::vector<Setting>& settings);
  // Judges every setting (names, addresses, argument types); throws JobError
  // for the first refused, before anything is applied.
  std::vector<PreparedSetting> PrepareSettings(const std::vector<Setting>& settings);
  // The member as the object spells it (it reads names in any case); throws
  // JobError for a name it does not have.
  std::string OwnName(const std::string& member);
  PreparedSetting Prepare(const Setting& setting);
  void Apply(const PreparedSetting& setting);
  void OnEvent(DISPID id, DISPPARAMS& params);
  // Posts `body` (JSON) to the events address and applies settings in its answer.
  void Post(const JsonValue& body);
  void WaitForCycleEnd();

  std::vector<std::string> allowed_;
  std::string jobAddress_;
  std::string events_;
  Microsoft::WRL::ComPtr<INibWord> object_;
  Microsoft::WRL::ComPtr<ITypeInfo> typeInfo_;
  EventConnection connection_;
  bool cycleEnded_ = false;  // a "quit" that ends the cycle (not a save while editing goes on)
  bool postFailed_ = false;
  std::string answerError_;  // a refused or failing answer to an event post
};

// Tells the user, in a message box of the launcher's own.
void Tell(const std::wstring& text);

}  // namespace nib::host
