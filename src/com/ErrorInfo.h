#pragma once
// The trap every COM boundary runs its body in: an exception inside becomes a
// failing HRESULT with an error-info record the caller (a page's script) sees.

#include <windows.h>

#include <new>
#include <string>

#include "com/ComError.h"

namespace nib {

void SetComErrorInfo(const wchar_t* source, REFIID iid, const std::string& description);

template <class Body>
HRESULT TrapToErrorInfo(const wchar_t* source, REFIID iid, Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (const ComError& e) {
    SetComErrorInfo(source, iid, e.what());
    return FAILED(e.Code()) ? e.Code() : E_UNEXPECTED;
  } catch (const std::bad_alloc&) {
    SetComErrorInfo(source, iid, "out of memory");
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    SetComErrorInfo(source, iid, e.what());
    return E_UNEXPECTED;
  } catch (...) {
    SetComErrorInfo(source, iid, "unexpected failure");
    return E_UNEXPECTED;
  }
}

// For boundaries that report by HRESULT alone (no error info).
template <class Body>
HRESULT TrapToHResult(Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (const ComError& e) {
    return FAILED(e.Code()) ? e.Code() : E_UNEXPECTED;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace nib
