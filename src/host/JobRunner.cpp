#include "host/JobRunner.h"

#include "com/BStr.h"
#include "com/Handle.h"
#include "com/ComError.h"
#include "com/StrConv.h"
#include "com/Variant.h"
#include "host/JobSite.h"
#include "server/Guids.h"
#include "services/Files.h"
#include "services/HttpUploader.h"
#include "services/Locale.h"
#include "services/TextUtil.h"
#include "services/TransferReason.h"
#include "services/Trust.h"
#include "services/UniqueName.h"
#include "services/WebTransfer.h"

#include <ocidl.h>

namespace nib::host {
namespace {

constexpr DISPID kOnEventStart = 0xC9;
// Members of INibWord that do something rather than set a value.
constexpr const char* kActions[] = {"OpenFile", "OpenHtFile", "InvokeUseTemplate", "ReSetFontByWebPage"};

std::wstring Wide(const std::string& utf8) { return AnsiToWide(utf8, CP_UTF8); }
std::string Utf8(const std::wstring& text) { return WideToAnsi(text, CP_UTF8); }

// The description a failed call left in the thread's error info.
std::string LastErrorText(HRESULT hr, std::string* source = nullptr) {
  Microsoft::WRL::ComPtr<IErrorInfo> info;
  BStr description, from;
  if (GetErrorInfo(0, &info) == S_OK) {
    info->GetDescription(description.Out());
    info->GetSource(from.Out());
  }
  if (source) *source = Utf8(from.Wide());
  std::string text = Utf8(description.Wide());
  if (text.empty()) {
    char code[16];
    wsprintfA(code, "0x%08lX", static_cast<unsigned long>(hr));
    text = code;
  }
  return text;
}

// An event argument as JSON: text where it converts, else null. An object
// (the opened document) is its default value, Word's document name, or
// "[object]" when it has none: never null, since a null document is how the
// server tells an open that failed from one whose upload failed.
JsonValue EventArgument(VARIANT& value) {
  VARIANT text;
  VariantInit(&text);
  JsonValue out;
  bool object = (V_VT(&value) == VT_DISPATCH && V_DISPATCH(&value)) || (V_VT(&value) == VT_UNKNOWN && V_UNKNOWN(&value));
  if (V_VT(&value) != VT_EMPTY && V_VT(&value) != VT_NULL &&
      SUCCEEDED(VariantChangeType(&text, &value, VARIANT_ALPHABOOL, VT_BSTR)))
    out = JsonValue::String(Utf8(V_BSTR(&text) ? V_BSTR(&text) : L""));
  else if (object)
    out = JsonValue::String("[object]");
  VariantClear(&text);
  return out;
}

// A JSON argument as the member's parameter type wants it; throws JobError.
Variant ArgumentFor(const JsonValue& value, VARTYPE type, const std::string& member) {
  Variant out;
  VARIANT* v = out.Get();
  auto wrong = [&](const char* wanted) { return JobError(member + ": " + wanted + " expected"); };
  switch (type) {
    case VT_BSTR:
      if (!value.IsString()) throw wrong("text");
      V_VT(v) = VT_BSTR;
      V_BSTR(v) = SysAllocString(Wide(value.AsString()).c_str());
      break;
    case VT_BOOL:
      if (value.kind() != JsonValue::Kind::kBool) throw wrong("true or false");
      V_VT(v) = VT_BOOL;
      V_BOOL(v) = value.AsBool() ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_I4:
    case VT_INT: {
      if (value.kind() != JsonValue::Kind::kNumber) throw wrong("a number");
      double number = value.AsNumber();
      if (number != static_cast<double>(static_cast<long>(number))) throw wrong("a whole number");
      V_VT(v) = VT_I4;
      V_I4(v) = static_cast<long>(number);
      break;
    }
    case VT_R8:
      if (value.kind() != JsonValue::Kind::kNumber) throw wrong("a number");
      V_VT(v) = VT_R8;
      V_R8(v) = value.AsNumber();
      break;
    default:
      throw JobError(member + ": a parameter of a type the launcher does not pass");
  }
  return out;
}

BOOL CALLBACK FindControlWindow(HWND window, LPARAM data) {
  wchar_t name[32] = L"";
  GetClassNameW(window, name, 32);
  if (wcscmp(name, L"TFrmUserCtrlPop") != 0) return TRUE;
  *reinterpret_cast<HWND*>(data) = window;
  return FALSE;
}

HWND ControlWindowOfThisThread() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindControlWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace

void Tell(const std::wstring& text) { MessageBoxW(nullptr, text.c_str(), L"NibWordHost", MB_OK | MB_ICONWARNING); }

int JobRunner::Run(const Job& job) {
  CheckAddresses({}, job.events, allowed_);
  events_ = job.events;
  ThrowIfFailed(CoCreateInstance(CLSID_NibWord, nullptr, CLSCTX_INPROC_SERVER, IID_INibWord,
                                 reinterpret_cast<void**>(object_.GetAddressOf())),
                "creating NibWordLib.NibWord (is it installed?)");
  ThrowIfFailed(object_->GetTypeInfo(0, 0, &typeInfo_), "reading the object's type information");
  // The job's address is the object's page: the object holds the cycle's
  // transfers, every redirect hop included, to the administrator's list.
  Microsoft::WRL::ComPtr<IObjectWithSite> withSite;
  ThrowIfFailed(object_.As(&withSite), "the object takes no site");
  ThrowIfFailed(withSite->SetSite(NewJobSite(jobAddress_).Get()), "giving the object its page");
  // Every setting is judged before anything is applied or posted.
  std::vector<PreparedSetting> settings = PrepareSettings(job.settings);
  connection_ = EventConnection(object_.Get(), DIID_INibWordEvents,
                                [this](DISPID id, DISPPARAMS& params) { OnEvent(id, params); });
  BStr version;
  if (FAILED(object_->get_Version(version.Out()))) version = BStr(L"");
  Post(JsonValue::Object({{"started", JsonValue::Object({{"version", JsonValue::String(Utf8(version.Wide()))}})}}));
  for (const PreparedSetting& setting : settings) Apply(setting);

  BStr result;
  HRESULT hr;
  bool opened = false;
  if (job.openHt) {
    hr = object_->OpenHtFile(result.Out());
  } else {
    BStr p1(Wide(job.procID)), p2(Wide(job.procID2));
    hr = object_->OpenFile(p1.Get(), p2.Get(), result.Out());
  }
  if (FAILED(hr)) {
    std::string source, message = LastErrorText(hr, &source);
    Post(JsonValue::Object({{"error", JsonValue::String(message)}, {"source", JsonValue::String(source)}}));
  } else {
    // No result and no control window: the object told the user why it opened
    // nothing (a failed download, say). A run that did nothing is no success.
    // Judged before the post, which pumps messages: the user may end the cycle meanwhile.
    opened = !result.Wide().empty() || ControlWindowOfThisThread();
    Post(JsonValue::Object({{"result", JsonValue::String(Utf8(result.Wide()))}}));
    WaitForCycleEnd();
  }
  connection_.Disconnect();
  object_.Reset();
  if (!answerError_.empty()) Tell(L"\u4efb\u52a1\u672a\u80fd\u5b8c\u6210:\r\n" + Wide(answerError_));  // 任务未能完成
  if (FAILED(hr) || !opened) return 4;
  return postFailed_ || !answerError_.empty() ? 3 : 0;
}

void JobRunner::ApplySettings(const std::vector<Setting>& given) {
  std::vector<PreparedSetting> prepared = PrepareSettings(given);
  for (const PreparedSetting& setting : prepared) Apply(setting);
}

std::vector<JobRunner::PreparedSetting> JobRunner::PrepareSettings(const std::vector<Setting>& given) {
  // The rules judge the member the object will really call, by its own name,
  // and every setting is judged before any is applied.
  std::vector<Setting> settings = given;
  for (Setting& setting : settings) setting.member = OwnName(setting.member);
  CheckAddresses(settings, "", allowed_);
  std::vector<PreparedSetting> prepared;
  for (const Setting& setting : settings) prepared.push_back(Prepare(setting));
  return prepared;
}

std::string JobRunner::OwnName(const std::string& member) {
  if (member.find('\0') != std::string::npos) throw JobError("a member name holds a NUL");
  std::wstring name = Wide(member);
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  if (FAILED(object_->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) throw JobError("no such member: " + member);
  BStr own;
  UINT count = 0;
  if (FAILED(typeInfo_->GetNames(id, own.Out(), 1, &count)) || count != 1) throw JobError("no such member: " + member);
  return Utf8(own.Wide());
}

JobRunner::PreparedSetting JobRunner::Prepare(const Setting& setting) {
  for (const char* action : kActions)
    if (setting.member == action) throw JobError(setting.member + " is not a setting");
  PreparedSetting out;
  out.member = setting.member;
  std::wstring name = Wide(setting.member);
  LPOLESTR names[] = {name.data()};
  if (FAILED(object_->GetIDsOfNames(IID_NULL, names, 1, 0, &out.id))) throw JobError("no such member: " + setting.member);
  TYPEATTR* attributes = nullptr;
  ThrowIfFailed(typeInfo_->GetTypeAttr(&attributes), "reading the type information");
  std::vector<VARTYPE> parameters;
  bool found = false, setter = false;
  for (UINT i = 0; i < attributes->cFuncs && !found; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(typeInfo_->GetFuncDesc(i, &function))) continue;
    // A method taking arguments, or a property put (SetFontName, SetFontSize).
    if (function->memid == out.id && (function->invkind == INVOKE_FUNC || function->invkind == INVOKE_PROPERTYPUT)) {
      found = true;
      out.put = function->invkind == INVOKE_PROPERTYPUT;
      setter = function->cParams > 0;
      for (SHORT p = 0; p < function->cParams; ++p) {
        const ELEMDESC& parameter = function->lprgelemdescParam[p];
        if (parameter.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) setter = false;
        parameters.push_back(parameter.tdesc.vt);
      }
    }
    typeInfo_->ReleaseFuncDesc(function);
  }
  typeInfo_->ReleaseTypeAttr(attributes);
  if (!found || !setter) throw JobError(setting.member + " is not a setting");
  if (parameters.size() != setting.args.size())
    throw JobError(setting.member + " takes " + std::to_string(parameters.size()) + " argument(s)");
  for (size_t i = 0; i < parameters.size(); ++i)
    out.arguments.push_back(ArgumentFor(setting.args[i], parameters[i], setting.member));
  return out;
}

void JobRunner::Apply(const PreparedSetting& setting) {
  std::vector<VARIANT> reversed;
  for (auto it = setting.arguments.rbegin(); it != setting.arguments.rend(); ++it) reversed.push_back(*it->Get());
  DISPID putValue = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), setting.put ? &putValue : nullptr, static_cast<UINT>(reversed.size()),
                    setting.put ? 1u : 0u};
  EXCEPINFO exception{};
  HRESULT hr = object_->Invoke(setting.id, IID_NULL, 0,
                               static_cast<WORD>(setting.put ? DISPATCH_PROPERTYPUT : DISPATCH_METHOD), &params,
                               nullptr, &exception, nullptr);
  if (FAILED(hr)) {
    std::string text = exception.bstrDescription ? Utf8(exception.bstrDescription) : LastErrorText(hr);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
    throw JobError(setting.member + " failed: " + text);
  }
}

void JobRunner::OnEvent(DISPID id, DISPPARAMS& params) {
  if (id != kOnEventStart || params.cArgs != 5) return;
  std::vector<JsonValue> values;
  for (int i = 4; i >= 0; --i) {  // arguments arrive last first
    VARIANT value;
    VariantInit(&value);
    VariantCopyInd(&value, &params.rgvarg[i]);
    values.push_back(EventArgument(value));
    VariantClear(&value);
  }
  // Only the cycle's end ends the launcher: after a save before a template
  // the user goes on editing, and those edits must still reach the server.
  if (EndsTheCycle(values)) cycleEnded_ = true;
  Post(JsonValue::Object({{"event", JsonValue::Array(std::move(values))}}));
}

void JobRunner::Post(const JsonValue& body) {
  std::string file = TempFolderPath() + "nibhost-" + NewUniqueName() + ".json";
  if (!SaveTextFile(WriteJson(body), file)) {
    postFailed_ = true;
    return;
  }
  WebResult sent;
  {
    UniqueHandle body(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (body) {
      WebRequest request;
      request.url = events_;
      request.method = L"POST";
      request.body = body.Get();
      // JSON, said so: ordinary body parsers skip a "text/html" body.
      request.contentType = L"application/json; charset=utf-8";
      request.pumpMessages = true;  // the cycle's window and Word's events go on meanwhile
      // The page's server may hold its answer until its user has chosen (a template, say).
      request.timeOutMs = 2147483647;
      request.allows = TrustRule::ForOrigins(allowed_).AsAddressRule();
      sent = RunWebRequest(request);
    }
  }
  DeleteFileA(file.c_str());
  if (!sent.delivered) {
    postFailed_ = true;
    Tell(AnsiToWide(UnreachableTargetMessageWithReason(TransferFailureReason(sent))));
    return;
  }
  std::string reply = TrimBlanks(sent.reply);
  if (reply.empty() || reply.front() != '{') return;
  // The page answers an event with settings to apply at once (the template
  // the chooser asked for, say). A bad answer ends nothing the user is doing.
  try {
    JsonValue answer = ParseJson(reply);
    if (const JsonValue* settings = answer.Find("settings")) ApplySettings(ParseSettings(*settings));
  } catch (const std::exception& e) {
    if (answerError_.empty()) answerError_ = e.what();
  }
}

void JobRunner::WaitForCycleEnd() {
  // The cycle runs while the control window is up; a "quit" that ends it or
  // the window's end (an unattended open never shows one) ends the wait.
  while (!cycleEnded_ && ControlWindowOfThisThread()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 250, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

}  // namespace nib::host
