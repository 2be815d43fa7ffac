#pragma once
// Bases that declare our objects safe for scripting (IObjectSafety: safe for
// untrusted callers and data, for every interface the object has), so a page
// can create and call them without the browser's unsafe-control prompt.
//   TSafeAutoObject: automation object with a type-library-driven IDispatch.
//   TSafeIntfObject: plain reference-counted object (the editor drivers).

#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include "com/ComObject.h"
#include "com/ObjectSafety.h"
#include "server/Module.h"

namespace nib::server {

HRESULT SafetyOptionsOf(IUnknown* object, REFIID iid, DWORD* supported, DWORD* enabled);
HRESULT SetSafetyOptionsOf(IUnknown* object, REFIID iid);

template <class... Interfaces>
class TSafeIntfObject : public ComObject<Interfaces..., IObjectSafety> {
 public:
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override {
    return SafetyOptionsOf(Self(), iid, supported, enabled);
  }
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID iid, DWORD, DWORD) override {
    return SetSafetyOptionsOf(Self(), iid);
  }

 protected:
  IUnknown* Self() { return static_cast<IObjectSafety*>(this); }
};

// `Dual` is the object's default dual interface; IDispatch calls go to it
// through its type information in the embedded type library.
template <class Dual, class... Others>
class TSafeAutoObject : public TSafeIntfObject<Dual, Others..., ISupportErrorInfo, IProvideClassInfo> {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return dispatchInfo_ ? dispatchInfo_.CopyTo(info) : E_UNEXPECTED;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!dispatchInfo_) return E_UNEXPECTED;
    return DispGetIDsOfNames(dispatchInfo_.Get(), names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override {
    if (!dispatchInfo_) return E_UNEXPECTED;
    return DispInvoke(static_cast<Dual*>(this), dispatchInfo_.Get(), id, flags, params, result, exception,
                      argError);
  }
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == __uuidof(Dual) ? S_OK : S_FALSE;
  }
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    return classInfo_ ? classInfo_.CopyTo(info) : TYPE_E_ELEMENTNOTFOUND;
  }

 protected:
  TSafeAutoObject(REFGUID classId) {
    // A missing type library leaves IDispatch failing cleanly; vtable calls still work.
    try {
      dispatchInfo_ = TypeInfoOf(__uuidof(Dual));
      classInfo_ = TypeInfoOf(classId);
    } catch (...) {
    }
  }

  void* FindInterface(REFIID iid) override {
    if (iid == IID_IDispatch) return static_cast<Dual*>(this);
    return TSafeIntfObject<Dual, Others..., ISupportErrorInfo, IProvideClassInfo>::FindInterface(iid);
  }

 private:
  Microsoft::WRL::ComPtr<ITypeInfo> dispatchInfo_;
  Microsoft::WRL::ComPtr<ITypeInfo> classInfo_;
};

}  // namespace nib::server
