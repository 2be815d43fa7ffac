#pragma once
// A connection to an automation server's event interface: the sink answers
// for that interface's IID as an IDispatch and hands each event (dispatch id
// and its arguments) to a handler. Disconnects when it goes.

#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <functional>

namespace nib {

using EventHandler = std::function<void(DISPID id, DISPPARAMS& params)>;

class EventConnection {
 public:
  EventConnection() = default;
  // Advises a new sink on `source`'s connection point for `events`.
  EventConnection(IUnknown* source, REFIID events, EventHandler handler);
  ~EventConnection() { Disconnect(); }
  EventConnection(EventConnection&& other) noexcept;
  EventConnection& operator=(EventConnection&& other) noexcept;
  EventConnection(const EventConnection&) = delete;
  EventConnection& operator=(const EventConnection&) = delete;

  // Unadvises; a server that is gone already is not an error here.
  void Disconnect();
  bool Connected() const { return point_ != nullptr; }

 private:
  Microsoft::WRL::ComPtr<IConnectionPoint> point_;
  Microsoft::WRL::ComPtr<IDispatch> sink_;
  DWORD cookie_ = 0;
};

}  // namespace nib
