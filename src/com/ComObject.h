#pragma once
// Reference counting and QueryInterface for our own COM objects. The object
// deletes itself when its last reference goes (the one place we delete).

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <atomic>
#include <utility>

namespace nib {

template <class First, class... Rest>
class ComObject : public First, public Rest... {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = FindInterface(iid);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;

  // The interface pointer for `iid`, or null. Derived classes extend this for
  // interfaces reached through a base (IDispatch of a dual interface, say).
  virtual void* FindInterface(REFIID iid) {
    if (iid == IID_IUnknown) return static_cast<First*>(this);
    void* found = nullptr;
    ((found = found ? found : Match<First>(iid)), ..., (found = found ? found : Match<Rest>(iid)));
    return found;
  }

 private:
  template <class I>
  void* Match(REFIID iid) {
    return iid == __uuidof(I) ? static_cast<I*>(this) : nullptr;
  }
  std::atomic<ULONG> references_{1};
};

// Creates a COM object whose first reference the returned pointer owns.
// (mingw's ComPtr::Attach adds a reference, so the slot is filled directly.)
template <class T, class... Args>
Microsoft::WRL::ComPtr<T> NewComObject(Args&&... args) {
  Microsoft::WRL::ComPtr<T> object;
  *object.GetAddressOf() = new T(std::forward<Args>(args)...);
  return object;
}

}  // namespace nib
