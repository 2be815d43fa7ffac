#include "com/EventSink.h"

#include <utility>

#include "com/ComError.h"
#include "com/ComObject.h"

namespace nib {
namespace {

class Sink final : public ComObject<IDispatch> {
 public:
  Sink(const IID& events, EventHandler handler) : events_(events), handler_(std::move(handler)) {}
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    // An event handler's failure must not travel back into the server.
    try {
      DISPPARAMS none{};
      handler_(id, params ? *params : none);
    } catch (...) {
    }
    return S_OK;
  }

 private:
  void* FindInterface(REFIID iid) override {
    if (iid == events_) return static_cast<IDispatch*>(this);
    return ComObject::FindInterface(iid);
  }
  IID events_;
  EventHandler handler_;
};

}  // namespace

EventConnection::EventConnection(IUnknown* source, REFIID events, EventHandler handler) {
  Microsoft::WRL::ComPtr<IConnectionPointContainer> container;
  ThrowIfFailed(source->QueryInterface(IID_PPV_ARGS(&container)), "finding the server's events");
  ThrowIfFailed(container->FindConnectionPoint(events, &point_), "finding the server's event interface");
  sink_ = NewComObject<Sink>(events, std::move(handler));
  HRESULT hr = point_->Advise(sink_.Get(), &cookie_);
  if (FAILED(hr)) {
    point_.Reset();
    ThrowIfFailed(hr, "connecting to the server's events");
  }
}

EventConnection::EventConnection(EventConnection&& other) noexcept
    : point_(std::move(other.point_)), sink_(std::move(other.sink_)), cookie_(std::exchange(other.cookie_, 0)) {}

EventConnection& EventConnection::operator=(EventConnection&& other) noexcept {
  if (this != &other) {
    Disconnect();
    point_ = std::move(other.point_);
    sink_ = std::move(other.sink_);
    cookie_ = std::exchange(other.cookie_, 0);
  }
  return *this;
}

void EventConnection::Disconnect() {
  if (point_) point_->Unadvise(cookie_);
  point_.Reset();
  sink_.Reset();
  cookie_ = 0;
}

}  // namespace nib
