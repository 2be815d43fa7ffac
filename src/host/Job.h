#pragma once
// A launcher job: what the page asks of the object, fetched from the job
// address the "nibword:" link names, and the rules that keep a link from
// another site from driving it.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/Json.h"
#include "services/WebAddress.h"

namespace nib::host {

// `what()` is the detail, in English, for the administrators' log; `clerk`
// what the clerk reads (the system's code page, Big5 on traditional
// systems), empty where the general text will do.
struct JobError : std::runtime_error {
  using std::runtime_error::runtime_error;
  JobError(const std::string& detail, std::string forClerk) : std::runtime_error(detail), clerk(std::move(forClerk)) {}
  std::string clerk;
};

// One setter call: the member's name and its arguments, in order.
struct Setting {
  std::string member;
  std::vector<JsonValue> args;
};

struct Job {
  std::vector<Setting> settings;
  bool openHt = false;           // OpenHtFile() instead of OpenFile
  std::string procID, procID2;   // OpenFile's arguments
  std::string events;            // where every event, the result or the error is posted
};

// The job address inside a "nibword:<address>" link. Throws JobError.
std::string JobAddressOf(std::string_view link);

// Throws JobError for a job that is not the expected shape, or that holds a
// control character in any text.
Job ParseJob(const JsonValue& job);
std::vector<Setting> ParseSettings(const JsonValue& settings);

// Every address the settings (and `events`, when given) name must be on an
// allowed origin. The settings' member names must be the object's own
// spelling (JobRunner resolves them first). Throws JobError naming the first
// address that is not allowed.
void CheckAddresses(const std::vector<Setting>& settings, const std::string& events,
                    const std::vector<std::string>& allowedOrigins);

// True for an event (P1 to P5) that ends the cycle: a "quit", except the
// save before a template ("quit", "TempSave"), after which editing goes on.
bool EndsTheCycle(const std::vector<JsonValue>& event);

}  // namespace nib::host
