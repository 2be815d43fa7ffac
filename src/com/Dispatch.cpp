#include "com/Dispatch.h"

#include <algorithm>

#include "com/BStr.h"
#include "com/ComError.h"
#include "com/MessageFilter.h"
#include "com/StrConv.h"
#include "services/WindowUtil.h"

namespace nib {

namespace {
// Office resolves member names and converts arguments in the locale of the
// call, and an English Office on a Chinese system refuses any locale it has
// no type information for (0x80028018). Office's object model is documented,
// and always present, in US English: every late-bound call goes out in 1033.
constexpr LCID kOfficeLocale = 1033;
}  // namespace

Arg::Arg(const wchar_t* text) : Arg(std::wstring(text)) {}
Arg::Arg(const std::wstring& text) {
  V_VT(value_.Get()) = VT_BSTR;
  V_BSTR(value_.Get()) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!V_BSTR(value_.Get())) Fail("out of memory", E_OUTOFMEMORY);
}
Arg::Arg(int value) : Arg(static_cast<long>(value)) {}
Arg::Arg(long value) {
  V_VT(value_.Get()) = VT_I4;
  V_I4(value_.Get()) = value;
}
Arg::Arg(bool value) {
  V_VT(value_.Get()) = VT_BOOL;
  V_BOOL(value_.Get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
}
Arg::Arg(double value) {
  V_VT(value_.Get()) = VT_R8;
  V_R8(value_.Get()) = value;
}
Arg::Arg(IDispatch* object) {
  V_VT(value_.Get()) = VT_DISPATCH;
  V_DISPATCH(value_.Get()) = object;
  if (object) object->AddRef();
}
Arg::Arg(const Arg& other) { ThrowIfFailed(VariantCopy(value_.Get(), const_cast<VARIANT*>(other.Get())), "copying an argument"); }

Arg Arg::Omitted() {
  Arg arg;
  V_VT(arg.value_.Get()) = VT_ERROR;
  V_ERROR(arg.value_.Get()) = DISP_E_PARAMNOTFOUND;
  return arg;
}
Arg Arg::Empty() { return Arg(); }
Arg Arg::ByRef(VARIANT* target) {
  Arg arg;
  V_VT(arg.value_.Get()) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(arg.value_.Get()) = target;
  return arg;
}
Arg Arg::Ansi(const std::string& text) { return Arg(AnsiToWide(text)); }

Arg Arg::TextArray(const std::vector<std::wstring>& items) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
  if (!array) Fail("out of memory", E_OUTOFMEMORY);
  Arg arg;
  V_VT(arg.value_.Get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(arg.value_.Get()) = array;  // owned by the argument from here on
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
    Arg item(items[static_cast<size_t>(i)]);
    ThrowIfFailed(SafeArrayPutElement(array, &i, item.Get()), "filling an array argument");
  }
  return arg;
}

DispObject DispObject::From(const Variant& value) {
  const VARIANT* v = value.Get();
  Microsoft::WRL::ComPtr<IDispatch> object;
  if (V_VT(v) == VT_DISPATCH && V_DISPATCH(v))
    object = V_DISPATCH(v);
  else if (V_VT(v) == VT_UNKNOWN && V_UNKNOWN(v))
    V_UNKNOWN(v)->QueryInterface(IID_PPV_ARGS(&object));
  return DispObject(object);
}

// Within one apartment an object reaches us through one proxy per
// interface, so the same object arrives as the same IDispatch pointer. (The
// IUnknown of proxies is not reliable for this under Wine.)
bool DispObject::SameObject(IDispatch* other) const { return object_ && other && object_.Get() == other; }

std::vector<DISPID> DispObject::IdsOf(const wchar_t* member, std::initializer_list<NamedArg> named) {
  std::wstring key = member;
  std::vector<LPOLESTR> names{const_cast<LPOLESTR>(member)};
  for (const NamedArg& arg : named) {
    key += L"|";
    key += arg.name;
    names.push_back(const_cast<LPOLESTR>(arg.name));
  }
  auto cached = ids_.find(key);
  if (cached != ids_.end()) return cached->second;
  std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
  HRESULT hr = object_->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()),
                                      kOfficeLocale, ids.data());
  if (FAILED(hr)) Fail(WideToAnsi(member) + ": no such member (" + HResultText(hr) + ")", hr);
  ids_.emplace(key, ids);
  return ids;
}

Variant DispObject::Invoke(WORD kind, const wchar_t* member, std::vector<const VARIANT*> positional,
                           std::initializer_list<NamedArg> named) {
  if (!object_) Fail(WideToAnsi(member) + ": no object to call", E_POINTER);
  std::vector<DISPID> ids = IdsOf(member, named);
  // rgvarg holds the named arguments first (in the order of their ids), then
  // the positional ones from last to first.
  std::vector<VARIANT> args;
  std::vector<DISPID> namedIds;
  for (const NamedArg& arg : named) args.push_back(*arg.value.Get());
  namedIds.assign(ids.begin() + 1, ids.end());
  std::reverse(positional.begin(), positional.end());
  for (const VARIANT* arg : positional) args.push_back(*arg);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{args.data(), namedIds.data(), static_cast<UINT>(args.size()), static_cast<UINT>(namedIds.size())};
  if (kind == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  Variant result;
  EXCEPINFO exception{};
  UINT badArgument = 0;
  // One budget from the first attempt: where the message filter already
  // retried for it, the call is not retried for as long again.
  const DWORD start = GetTickCount();
  HRESULT hr = object_->Invoke(ids[0], IID_NULL, kOfficeLocale, kind, &params,
                               kind == DISPATCH_PROPERTYPUT ? nullptr : result.Get(), &exception, &badArgument);
  // Refused because a dialog of the server's is open, or it is busy (where the
  // message filter did not retry it already): again in a moment, for a while.
  while (IsRejectedCall(hr) && GetTickCount() - start < kRejectedCallRetryMs) {
    DelayWithMessages(kRejectedCallPauseMs);
    hr = object_->Invoke(ids[0], IID_NULL, kOfficeLocale, kind, &params,
                         kind == DISPATCH_PROPERTYPUT ? nullptr : result.Get(), &exception, &badArgument);
  }
  if (hr == DISP_E_EXCEPTION) {
    if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
    BStr description = BStr::Attach(exception.bstrDescription);
    BStr source = BStr::Attach(exception.bstrSource);
    BStr help = BStr::Attach(exception.bstrHelpFile);
    HRESULT code = FAILED(exception.scode) ? exception.scode : E_FAIL;
    std::string text = description.Get() ? description.Ansi() : HResultText(code);
    Fail(WideToAnsi(member) + ": " + text, code);
  }
  if (IsRejectedCall(hr)) Fail(WideToAnsi(member) + ": " + RejectedCallText(), hr);
  if (FAILED(hr)) Fail(WideToAnsi(member) + ": call failed (" + HResultText(hr) + ")", hr);
  return result;
}

namespace {
std::vector<const VARIANT*> Pointers(std::initializer_list<Arg> args) {
  std::vector<const VARIANT*> pointers;
  for (const Arg& arg : args) pointers.push_back(arg.Get());
  return pointers;
}
}  // namespace

Variant DispObject::Call(const wchar_t* member, std::initializer_list<Arg> args, std::initializer_list<NamedArg> named) {
  return Invoke(DISPATCH_METHOD | DISPATCH_PROPERTYGET, member, Pointers(args), named);
}

Variant DispObject::Get(const wchar_t* member, std::initializer_list<Arg> args) {
  return Invoke(DISPATCH_PROPERTYGET | DISPATCH_METHOD, member, Pointers(args), {});
}

void DispObject::Put(const wchar_t* member, Arg value) {
  Invoke(DISPATCH_PROPERTYPUT, member, {value.Get()}, {});
}

DispObject DispObject::Object(const wchar_t* member, std::initializer_list<Arg> args) {
  DispObject object = From(Get(member, args));
  if (!object) Fail(WideToAnsi(member) + ": no object returned", E_UNEXPECTED);
  return object;
}

DispObject DispObject::CallObject(const wchar_t* member, std::initializer_list<Arg> args,
                                  std::initializer_list<NamedArg> named) {
  DispObject object = From(Call(member, args, named));
  if (!object) Fail(WideToAnsi(member) + ": no object returned", E_UNEXPECTED);
  return object;
}

std::wstring DispObject::Text(const wchar_t* member) { return TextOf(Get(member)); }
long DispObject::Long(const wchar_t* member) { return LongOf(Get(member)); }
bool DispObject::Bool(const wchar_t* member) { return BoolOf(Get(member)); }

namespace {
Variant Converted(const Variant& value, VARTYPE type) {
  Variant converted;
  HRESULT hr = VariantChangeType(converted.Get(), const_cast<VARIANT*>(value.Get()), 0, type);
  if (FAILED(hr)) Fail("an automation result of unexpected type (" + HResultText(hr) + ")", hr);
  return converted;
}
}  // namespace

std::wstring TextOf(const Variant& value) {
  Variant text = Converted(value, VT_BSTR);
  BSTR b = V_BSTR(text.Get());
  return b ? std::wstring(b, SysStringLen(b)) : std::wstring();
}
long LongOf(const Variant& value) { return V_I4(Converted(value, VT_I4).Get()); }
bool BoolOf(const Variant& value) { return V_BOOL(Converted(value, VT_BOOL).Get()) != VARIANT_FALSE; }

}  // namespace nib
