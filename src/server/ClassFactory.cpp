#include "server/ClassFactory.h"

namespace nib::server {

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IClassFactory) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return creator_(iid, out);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
  if (lock)
    ++locks_;
  else
    --locks_;
  return S_OK;
}

}  // namespace nib::server
