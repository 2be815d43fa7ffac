#pragma once
// Self-registration: the class keys under HKEY_CLASSES_ROOT and the type library.

#include <windows.h>

namespace nib::server {

HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace nib::server
