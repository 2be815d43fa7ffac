#include "host/Job.h"

#include <algorithm>
#include <cctype>

#include "services/WebAddress.h"

namespace nib::host {
namespace {

// The members whose arguments are addresses (by position; -1: every string).
struct AddressMember {
  const char* name;
  int argument;
};
constexpr AddressMember kAddressMembers[] = {
    {"SetDownURL", 0}, {"SetUpURL", 0}, {"SetDocTmplDLURL", 0}, {"SetUpURLHt", 0},
    {"SetDownURLHt", 0}, {"SetDownTempletNameURL", 0}, {"XmlUrl", 0},
};

// Text that reads as an address of some kind: "scheme://...", "file:...",
// "\\server\...", "//host/..." or a drive path "C:\..." (any such text is
// held to the allowed origins, whatever member it is given to).
bool LooksLikeAddress(std::string_view untrimmed) {
  std::string trimmed = TrimAddress(untrimmed);
  std::string_view text = trimmed;
  if (text.substr(0, 2) == "\\\\" || text.substr(0, 2) == "//" || StartsWithNoCase(text, "file:")) return true;
  if (text.size() >= 3 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
      (text[2] == '\\' || text[2] == '/'))
    return true;
  size_t scheme = text.find("://");
  return scheme != std::string_view::npos && scheme > 0 &&
         std::all_of(text.begin(), text.begin() + static_cast<long>(scheme), [](char c) {
           return std::isalpha(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
         });
}

bool IsAddressArgument(const Setting& setting, size_t index) {
  for (const AddressMember& member : kAddressMembers)
    if (setting.member == member.name) return static_cast<int>(index) == member.argument;
  // SetXMLCont(2, address) and SetIniXMLCont(2, address) fetch their XML.
  // (Member names are the object's own by now: see JobRunner.)
  if ((setting.member == "SetXMLCont" || setting.member == "SetIniXMLCont") && index == 1)
    return !setting.args.empty() && setting.args[0].kind() == JsonValue::Kind::kNumber && setting.args[0].AsNumber() == 2;
  return false;
}

}  // namespace

std::string JobAddressOf(std::string_view link) {
  if (!StartsWithNoCase(link, "nibword:")) throw JobError("the link does not begin with \"nibword:\"");
  std::string address(link.substr(8));
  if (HasControlCharacters(address)) throw JobError("the job address holds control characters");
  if (OriginOf(address).empty()) throw JobError("the job address is not an http or https address: " + address);
  return address;
}

std::vector<Setting> ParseSettings(const JsonValue& settings) {
  if (settings.kind() != JsonValue::Kind::kArray) throw JobError("\"settings\" is not a list");
  std::vector<Setting> out;
  for (const JsonValue& item : settings.Items()) {
    if (item.kind() != JsonValue::Kind::kArray || item.Items().empty() || !item.Items()[0].IsString())
      throw JobError("each setting is a list: the member's name, then its arguments");
    Setting setting{item.Items()[0].AsString(), {item.Items().begin() + 1, item.Items().end()}};
    out.push_back(std::move(setting));
  }
  return out;
}

// Control characters have no place in a job, and an address behind one may
// read differently to each reader: the whole job is refused.
void RefuseControlCharacters(const JsonValue& value) {
  if (value.IsString() && HasControlCharacters(value.AsString()))
    throw JobError("a text of the job holds control characters");
  if (value.kind() == JsonValue::Kind::kArray)
    for (const JsonValue& item : value.Items()) RefuseControlCharacters(item);
  if (value.kind() == JsonValue::Kind::kObject)
    for (const auto& [name, member] : value.Members()) {
      if (HasControlCharacters(name)) throw JobError("a member name of the job holds control characters");
      RefuseControlCharacters(member);
    }
}

Job ParseJob(const JsonValue& job) {
  if (job.kind() != JsonValue::Kind::kObject) throw JobError("the job is not a JSON object");
  RefuseControlCharacters(job);
  Job out;
  if (const JsonValue* settings = job.Find("settings")) out.settings = ParseSettings(*settings);
  const JsonValue* events = job.Find("events");
  if (!events || !events->IsString()) throw JobError("the job names no \"events\" address");
  out.events = events->AsString();
  const JsonValue* openHt = job.Find("openHt");
  const JsonValue* open = job.Find("open");
  if (openHt && openHt->kind() == JsonValue::Kind::kBool && openHt->AsBool()) {
    out.openHt = true;
  } else if (open && open->kind() == JsonValue::Kind::kArray && open->Items().size() == 2 &&
             open->Items()[0].IsString() && open->Items()[1].IsString()) {
    out.procID = open->Items()[0].AsString();
    out.procID2 = open->Items()[1].AsString();
  } else {
    throw JobError("the job has no \"open\": [ProcID, ProcID2] (nor \"openHt\": true)");
  }
  return out;
}

void CheckAddresses(const std::vector<Setting>& settings, const std::string& events,
                    const std::vector<std::string>& allowedOrigins) {
  auto check = [&](const std::string& address) {
    if (!IsOnOriginList(address, allowedOrigins)) throw JobError("an address outside the allowed origins: " + address);
  };
  if (!events.empty()) check(events);
  for (const Setting& setting : settings) {
    for (size_t i = 0; i < setting.args.size(); ++i) {
      const JsonValue& arg = setting.args[i];
      if (!arg.IsString()) continue;
      if (IsAddressArgument(setting, i) || LooksLikeAddress(arg.AsString())) {
        if (!arg.AsString().empty()) check(arg.AsString());
      }
    }
  }
}

bool EndsTheCycle(const std::vector<JsonValue>& event) {
  auto is = [&](size_t index, const char* text) {
    return event.size() > index && event[index].IsString() && event[index].AsString() == text;
  };
  return is(0, "quit") && !is(1, "TempSave");
}

}  // namespace nib::host
