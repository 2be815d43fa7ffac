#include "server/Module.h"

#include <oleauto.h>

#include <atomic>
#include <mutex>

#include "com/ComError.h"

using Microsoft::WRL::ComPtr;

namespace nib::server {
namespace {

HINSTANCE moduleInstance = nullptr;
std::atomic<long> liveObjects{0};

}  // namespace

void SetModuleInstance(HINSTANCE instance) { moduleInstance = instance; }

// Test programs link the server's code directly and carry the type library in
// their own resources, so the process module stands in when no DLL set one.
HINSTANCE ModuleInstance() { return moduleInstance ? moduleInstance : GetModuleHandleW(nullptr); }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(ModuleInstance(), path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void ObjectCreated() { ++liveObjects; }
void ObjectDestroyed() { --liveObjects; }
long LiveObjects() { return liveObjects; }

ComPtr<ITypeLib> TypeLibrary() {
  // Loaded once per process and kept: every object's IDispatch needs it.
  static std::once_flag once;
  static ITypeLib* library = nullptr;
  std::call_once(once, [] { LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library); });
  if (!library) Fail("the type library resource cannot be loaded", TYPE_E_CANTLOADLIBRARY);
  return library;
}

ComPtr<ITypeInfo> TypeInfoOf(REFGUID guid) {
  ComPtr<ITypeInfo> info;
  ThrowIfFailed(TypeLibrary()->GetTypeInfoOfGuid(guid, &info), "GetTypeInfoOfGuid");
  return info;
}

}  // namespace nib::server
