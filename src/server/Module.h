#pragma once
// What the DLL knows about itself: its module handle, how many of its objects
// are alive (for DllCanUnloadNow) and its own embedded type library.

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <string>

namespace nib::server {

inline constexpr wchar_t kProgId[] = L"NibWordLib.NibWord";

void SetModuleInstance(HINSTANCE instance);
HINSTANCE ModuleInstance();
std::wstring ModulePath();

void ObjectCreated();
void ObjectDestroyed();
long LiveObjects();

// Type information of one interface or coclass of the embedded type library.
Microsoft::WRL::ComPtr<ITypeInfo> TypeInfoOf(REFGUID guid);
Microsoft::WRL::ComPtr<ITypeLib> TypeLibrary();

// Counts the owning object among the server's live objects for its lifetime.
class LiveObjectCount {
 public:
  LiveObjectCount() { ObjectCreated(); }
  ~LiveObjectCount() { ObjectDestroyed(); }
  LiveObjectCount(const LiveObjectCount&) = delete;
  LiveObjectCount& operator=(const LiveObjectCount&) = delete;
};

}  // namespace nib::server
