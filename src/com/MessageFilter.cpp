#include "com/MessageFilter.h"

#include "com/StrConv.h"

namespace nib {
namespace {

class RetryingFilter final : public IMessageFilter {
 public:
  explicit RetryingFilter(DWORD limitMs) : limitMs_(limitMs) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IMessageFilter) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IMessageFilter*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

  // Calls into the page's thread (Word's events, the page's own calls) are served as usual.
  STDMETHODIMP_(DWORD) HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
    return SERVERCALL_ISHANDLED;
  }
  // Rejected (a dialog is open) or "retry later" (busy): again in a moment,
  // until the limit; then the call fails.
  STDMETHODIMP_(DWORD) RetryRejectedCall(HTASK, DWORD elapsedMs, DWORD rejectType) override {
    if (rejectType != SERVERCALL_RETRYLATER && rejectType != SERVERCALL_REJECTED) return static_cast<DWORD>(-1);
    return elapsedMs < limitMs_ ? kRejectedCallPauseMs : static_cast<DWORD>(-1);
  }
  // The page's window messages keep flowing while a call waits.
  STDMETHODIMP_(DWORD) MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }

 private:
  DWORD limitMs_;
  LONG references_ = 0;
};

}  // namespace

bool IsRejectedCall(HRESULT hr) { return hr == RPC_E_CALL_REJECTED || hr == RPC_E_SERVERCALL_RETRYLATER; }

std::string RejectedCallText() { return Gb("Word正忙或有对话框未关闭,请先关闭Word中的对话框再试。"); }

ScopedMessageFilter::ScopedMessageFilter(DWORD retryLimitMs) : ours_(new RetryingFilter(retryLimitMs)) {
  registered_ = SUCCEEDED(CoRegisterMessageFilter(ours_.Get(), previous_.GetAddressOf()));
}

ScopedMessageFilter::~ScopedMessageFilter() {
  if (!registered_) return;
  Microsoft::WRL::ComPtr<IMessageFilter> ignored;
  CoRegisterMessageFilter(previous_.Get(), ignored.GetAddressOf());
}

}  // namespace nib
