#pragma once
// The server's one class factory. Multi-instance: every CreateInstance makes
// a new automation object.

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace nib::server {

class ClassFactory final : public IClassFactory {
 public:
  using Creator = HRESULT (*)(REFIID iid, void** out);
  explicit ClassFactory(Creator creator) : creator_(creator) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  // The module keeps the factory for the library's lifetime; it is never deleted.
  STDMETHODIMP_(ULONG) Release() override { return --references_; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  STDMETHODIMP LockServer(BOOL lock) override;

  // No client holds or locks the factory: only the module's own reference is left.
  bool Idle() const { return references_ <= 1 && locks_ == 0; }

 private:
  Creator creator_;
  std::atomic<ULONG> references_{1};
  std::atomic<long> locks_{0};
};

}  // namespace nib::server
