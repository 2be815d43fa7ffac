#pragma once
// A connection point that takes one sink at a time: a second Advise while a
// sink is connected is refused with CONNECT_E_CANNOTCONNECT.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "com/ComObject.h"

namespace nib::server {

// The object the point belongs to: it validates and keeps the sink.
class ConnectionOwner {
 public:
  virtual HRESULT OnAdvise(IUnknown* sink) = 0;
  virtual void OnUnadvise() = 0;
  virtual IConnectionPointContainer* Container() = 0;

 protected:
  ~ConnectionOwner() = default;
};

class SingleConnectionPoint final : public ComObject<IConnectionPoint> {
 public:
  SingleConnectionPoint(REFIID eventIid, ConnectionOwner* owner) : eventIid_(eventIid), owner_(owner) {}

  // The owner is going away; a client still holding the point gets errors.
  void Detach() { owner_ = nullptr; }
  REFIID EventIid() const { return eventIid_; }

  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

 private:
  static constexpr DWORD kCookie = 1;
  IID eventIid_;
  ConnectionOwner* owner_;
  bool connected_ = false;
};

}  // namespace nib::server
