#pragma once
// A small dynamic IDispatch for the Office doubles: each object is a table of
// members (name, dispid, parameter names, handlers for get, put and call).
// Names are matched without regard to case, named arguments map to the
// parameter list, an omitted optional argument arrives as a DISP_E_PARAMNOTFOUND
// error variant, and errors travel back as EXCEPINFO with Word-like texts.

#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <string>
#include <vector>

namespace doubles {

// An error a member reports to its caller, as Word would.
struct DispatchError {
  HRESULT code;
  std::wstring text;
};

// The arguments of one call, in parameter order.
class Args {
 public:
  Args(DISPPARAMS* params, const std::vector<std::wstring>& names);
  size_t Count() const { return values_.size(); }
  bool Has(size_t index) const;
  VARIANT* Raw(size_t index) const;  // null when not given
  std::wstring String(size_t index, const std::wstring& fallback = L"") const;
  long Long(size_t index, long fallback = 0) const;
  double Double(size_t index, double fallback = 0) const;
  bool Bool(size_t index, bool fallback = false) const;
  IDispatch* Dispatch(size_t index) const;
  // A description of every argument, for the call log.
  std::wstring Describe() const;

 private:
  std::vector<VARIANT*> values_;
};

using Getter = std::function<void(Args&, VARIANT* result)>;
using Setter = std::function<void(Args&, const VARIANT& value)>;

struct Member {
  std::wstring name;
  std::vector<std::wstring> params;
  Getter call;  // a method, or a property get when `isProperty`
  Setter put;
  bool isProperty = false;
};

// Counts the double's live objects: the process ends with the last one.
void ObjectCreated();
void ObjectDestroyed();

class DynObject : public IDispatch {
 public:
  explicit DynObject(std::wstring typeName);
  virtual ~DynObject();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;

  const std::wstring& TypeName() const { return typeName_; }
  // Runs once when the object goes (a part letting go of its owner).
  void SetOnRelease(std::function<void()> onRelease) { onRelease_ = std::move(onRelease); }

 protected:
  void Method(std::wstring name, std::vector<std::wstring> params, Getter call);
  void Property(std::wstring name, Getter get, Setter put = nullptr, std::vector<std::wstring> params = {});
  // Extra interfaces of a derived object (a connection-point container, say).
  virtual void* FindInterface(REFIID iid);

 private:
  std::wstring typeName_;
  std::vector<Member> members_;
  std::function<void()> onRelease_;
  LONG references_ = 1;
};

// A property value converted to the type a setter wants; DISP_E_TYPEMISMATCH otherwise.
bool ValueBool(const VARIANT& value);
long ValueLong(const VARIANT& value);
std::wstring ValueString(const VARIANT& value);

// A value as the call log shows it.
std::wstring DescribeValue(const VARIANT* value);

// Result helpers.
void SetString(VARIANT* result, const std::wstring& text);
void SetLong(VARIANT* result, long value);
void SetDouble(VARIANT* result, double value);
void SetBool(VARIANT* result, bool value);
void SetDispatch(VARIANT* result, IDispatch* object);  // adds a reference
[[noreturn]] void Raise(const std::wstring& text, HRESULT code = DISP_E_EXCEPTION);

}  // namespace doubles
