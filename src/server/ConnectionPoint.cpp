#include "server/ConnectionPoint.h"

namespace nib::server {

STDMETHODIMP SingleConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = eventIid_;
  return S_OK;
}

STDMETHODIMP SingleConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = nullptr;
  if (!owner_) return E_UNEXPECTED;
  *container = owner_->Container();
  (*container)->AddRef();
  return S_OK;
}

STDMETHODIMP SingleConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  if (!owner_ || connected_) return CONNECT_E_CANNOTCONNECT;
  HRESULT hr = owner_->OnAdvise(sink);
  if (FAILED(hr)) return CONNECT_E_CANNOTCONNECT;
  connected_ = true;
  *cookie = kCookie;
  return S_OK;
}

STDMETHODIMP SingleConnectionPoint::Unadvise(DWORD cookie) {
  if (!connected_ || cookie != kCookie) return CONNECT_E_NOCONNECTION;
  connected_ = false;
  if (owner_) owner_->OnUnadvise();
  return S_OK;
}

STDMETHODIMP SingleConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (connections) *connections = nullptr;
  return E_NOTIMPL;
}

}  // namespace nib::server
