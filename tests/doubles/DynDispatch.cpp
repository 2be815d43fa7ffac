#include "DynDispatch.h"

#include "Control.h"

namespace doubles {
namespace {

LONG liveObjects = 0;

bool Missing(const VARIANT* v) { return !v || (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND); }

VARIANT Converted(const VARIANT* value, VARTYPE type) {
  VARIANT result;
  VariantInit(&result);
  if (FAILED(VariantChangeType(&result, const_cast<VARIANT*>(value), 0, type)))
    throw DispatchError{DISP_E_TYPEMISMATCH, L"Type mismatch"};
  return result;
}

}  // namespace

void ObjectCreated() { InterlockedIncrement(&liveObjects); }

void ObjectDestroyed() {
  if (InterlockedDecrement(&liveObjects) == 0) PostQuitMessage(0);
}

Args::Args(DISPPARAMS* params, const std::vector<std::wstring>& names) {
  UINT count = params ? params->cArgs : 0;
  UINT named = params ? params->cNamedArgs : 0;
  size_t slots = std::max<size_t>(names.size(), count - named);
  values_.assign(slots, nullptr);
  // Positional arguments come last in rgvarg, in reverse order.
  for (UINT i = 0; i < count - named; ++i) values_[i] = &params->rgvarg[count - 1 - i];
  for (UINT i = 0; i < named; ++i) {
    DISPID id = params->rgdispidNamedArgs[i];
    if (id == DISPID_PROPERTYPUT) continue;
    if (id < 0 || static_cast<size_t>(id) >= values_.size()) throw DispatchError{DISP_E_PARAMNOTFOUND, L"Named argument not found"};
    values_[static_cast<size_t>(id)] = &params->rgvarg[i];
  }
}

bool Args::Has(size_t index) const { return index < values_.size() && !Missing(values_[index]); }

VARIANT* Args::Raw(size_t index) const { return Has(index) ? values_[index] : nullptr; }

std::wstring Args::String(size_t index, const std::wstring& fallback) const {
  return Has(index) ? ValueString(*values_[index]) : fallback;
}

long Args::Long(size_t index, long fallback) const {
  return Has(index) ? ValueLong(*values_[index]) : fallback;
}

double Args::Double(size_t index, double fallback) const {
  if (!Has(index)) return fallback;
  VARIANT number = Converted(values_[index], VT_R8);
  return V_R8(&number);
}

bool Args::Bool(size_t index, bool fallback) const {
  return Has(index) ? ValueBool(*values_[index]) : fallback;
}

IDispatch* Args::Dispatch(size_t index) const {
  VARIANT* v = Raw(index);
  if (!v) return nullptr;
  if (V_VT(v) == VT_DISPATCH) return V_DISPATCH(v);
  if (V_VT(v) == (VT_DISPATCH | VT_BYREF)) return *V_DISPATCHREF(v);
  throw DispatchError{DISP_E_TYPEMISMATCH, L"Type mismatch"};
}

std::wstring DescribeValue(const VARIANT* v) {
  if (V_VT(v) == VT_DISPATCH || V_VT(v) == VT_UNKNOWN) return L"<object>";
  VARIANT shown;
  VariantInit(&shown);
  std::wstring text = L"?";
  if (SUCCEEDED(VariantChangeType(&shown, const_cast<VARIANT*>(v), VARIANT_ALPHABOOL, VT_BSTR)))
    text = std::wstring(V_BSTR(&shown), SysStringLen(V_BSTR(&shown)));
  VariantClear(&shown);
  return text;
}

std::wstring Args::Describe() const {
  std::wstring text;
  for (size_t i = 0; i < values_.size(); ++i) {
    if (i) text += L", ";
    text += Has(i) ? DescribeValue(values_[i]) : L"-";
  }
  return text;
}

DynObject::DynObject(std::wstring typeName) : typeName_(std::move(typeName)) { ObjectCreated(); }

DynObject::~DynObject() {
  if (onRelease_) onRelease_();
  ObjectDestroyed();
}

STDMETHODIMP_(ULONG) DynObject::Release() {
  LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

void* DynObject::FindInterface(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IDispatch) return static_cast<IDispatch*>(this);
  return nullptr;
}

STDMETHODIMP DynObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = FindInterface(iid);
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP DynObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP DynObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

void DynObject::Method(std::wstring name, std::vector<std::wstring> params, Getter call) {
  members_.push_back(Member{std::move(name), std::move(params), std::move(call), nullptr, false});
}

void DynObject::Property(std::wstring name, Getter get, Setter put, std::vector<std::wstring> params) {
  members_.push_back(Member{std::move(name), std::move(params), std::move(get), std::move(put), true});
}

STDMETHODIMP DynObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  if (LocaleRefused(locale)) {
    LogCall(typeName_, std::wstring(names[0]) + L"<names>", L"", L"locale refused", locale);
    return kLocaleRefused;
  }
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (MemberMissing(typeName_, names[0])) {
    LogCall(typeName_, std::wstring(names[0]) + L"<names>", L"", L"unknown name", locale);
    return DISP_E_UNKNOWNNAME;
  }
  for (size_t m = 0; m < members_.size(); ++m) {
    if (_wcsicmp(members_[m].name.c_str(), names[0]) != 0) continue;
    ids[0] = static_cast<DISPID>(m + 1);
    bool allNamed = true;
    for (UINT i = 1; i < count; ++i) {
      for (size_t p = 0; p < members_[m].params.size(); ++p)
        if (_wcsicmp(members_[m].params[p].c_str(), names[i]) == 0) ids[i] = static_cast<DISPID>(p);
      allNamed = allNamed && ids[i] != DISPID_UNKNOWN;
    }
    return allNamed ? S_OK : DISP_E_UNKNOWNNAME;
  }
  return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP DynObject::Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT* argError) {
  if (id < 1 || static_cast<size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
  const Member& member = members_[static_cast<size_t>(id - 1)];
  if (InjectedBusy()) {
    LogCall(typeName_, member.name, L"", L"SERVERCALL_RETRYLATER", locale);
    return RPC_E_SERVERCALL_RETRYLATER;
  }
  if (LocaleRefused(locale)) {
    LogCall(typeName_, member.name, L"", L"locale refused", locale);
    return kLocaleRefused;
  }
  VARIANT ignored;
  VariantInit(&ignored);
  if (!result) result = &ignored;
  VariantInit(result);
  std::wstring argsText;
  try {
    Args args(params, member.params);
    argsText = args.Describe();
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && params && params->cArgs > 0)
      argsText += (argsText.empty() ? L"= " : L", = ") + DescribeValue(&params->rgvarg[0]);
    if (std::wstring failure = InjectedFailure(typeName_, member.name); !failure.empty()) Raise(failure);
    if (DWORD delay = InjectedDelay(typeName_, member.name)) Sleep(delay);
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
      if (!member.put || !params || params->cArgs == 0) throw DispatchError{DISP_E_MEMBERNOTFOUND, L"Read-only property"};
      member.put(args, params->rgvarg[0]);  // the value is the first (named) argument
    } else {
      if (!member.call) throw DispatchError{DISP_E_MEMBERNOTFOUND, L"Write-only property"};
      if (!member.isProperty && !(flags & DISPATCH_METHOD)) throw DispatchError{DISP_E_MEMBERNOTFOUND, L"Not a property"};
      member.call(args, result);
    }
    LogCall(typeName_, member.name, argsText, L"ok", locale);
  } catch (const DispatchError& error) {
    VariantClear(result);
    LogCall(typeName_, member.name, argsText, L"error: " + error.text, locale);
    if (error.code == DISP_E_TYPEMISMATCH || error.code == DISP_E_PARAMNOTFOUND) {
      if (argError) *argError = 0;
      return error.code;
    }
    if (exception) {
      ZeroMemory(exception, sizeof *exception);
      exception->bstrSource = SysAllocString(L"Microsoft Word");
      exception->bstrDescription = SysAllocString(error.text.c_str());
      exception->scode = error.code == DISP_E_EXCEPTION ? E_FAIL : error.code;
    }
    return error.code == DISP_E_MEMBERNOTFOUND ? error.code : DISP_E_EXCEPTION;
  }
  VariantClear(&ignored);
  return S_OK;
}

bool ValueBool(const VARIANT& value) {
  VARIANT flag = Converted(&value, VT_BOOL);
  return V_BOOL(&flag) != VARIANT_FALSE;
}

long ValueLong(const VARIANT& value) {
  VARIANT number = Converted(&value, VT_I4);
  return V_I4(&number);
}

std::wstring ValueString(const VARIANT& value) {
  VARIANT text = Converted(&value, VT_BSTR);
  std::wstring result(V_BSTR(&text), SysStringLen(V_BSTR(&text)));
  VariantClear(&text);
  return result;
}

void SetString(VARIANT* result, const std::wstring& text) {
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}
void SetLong(VARIANT* result, long value) {
  V_VT(result) = VT_I4;
  V_I4(result) = value;
}
void SetDouble(VARIANT* result, double value) {
  V_VT(result) = VT_R8;
  V_R8(result) = value;
}
void SetBool(VARIANT* result, bool value) {
  V_VT(result) = VT_BOOL;
  V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
}
void SetDispatch(VARIANT* result, IDispatch* object) {
  V_VT(result) = VT_DISPATCH;
  V_DISPATCH(result) = object;
  if (object) object->AddRef();
}
void Raise(const std::wstring& text, HRESULT code) { throw DispatchError{code, text}; }

}  // namespace doubles
