#pragma once
// The page's OnEventStart event: the forwarding sink that the page's
// EventSink holds, and the one way the system fires the event.

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <string>

namespace nib {

inline constexpr DISPID kOnEventStartId = 201;

// Wraps the page's sink: passes every call on and always answers S_OK, so a
// failing handler in the page never disturbs the flow that fired the event.
Microsoft::WRL::ComPtr<IDispatch> MakeForwardingSink(Microsoft::WRL::ComPtr<IDispatch> pageSink);

// OnEventStart(P1, P2, P3, P4, P5) on `sink`, the page's own; nothing when it is null.
void FireOnEventStart(IDispatch* sink, const std::string& p1, const std::string& p2, const std::string& p3, const VARIANT& p4,
                      const VARIANT& p5);

}  // namespace nib
