#include "word/Editor.h"

#include <ocidl.h>
#include <wrl/client.h>

#include <vector>

#include "com/StrConv.h"
#include "services/Locale.h"
#include "services/Policy.h"
#include "services/TextUtil.h"
#include "word/WordUtil.h"

namespace nib {
namespace {

using Microsoft::WRL::ComPtr;

// A 32-bit process sees the 32-bit view of the classes: a 64-bit Office's
// server is looked for in the other view too.
bool HasLocalServer(const CLSID& clsid) {
  std::wstring key = L"CLSID\\" + GuidText(clsid) + L"\\LocalServer32";
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) continue;
    RegCloseKey(handle);
    return true;
  }
  return false;
}

std::optional<Editor> Installed(const char* name, const wchar_t* progId) {
  Editor editor{name, progId, {}};
  if (FAILED(CLSIDFromProgID(progId, &editor.clsid)) || !HasLocalServer(editor.clsid)) return std::nullopt;
  return editor;
}

std::optional<Editor> FirstInstalled(bool word, bool wps) {
  if (word)
    if (auto found = Installed("Word", L"Word.Application")) return found;
  if (wps)
    for (const wchar_t* progId : {L"KWPS.Application", L"WPS.Application"})  // current versions, then older ones
      if (auto found = Installed("WPS", progId)) return found;
  return std::nullopt;
}

// DocumentBeforeClose's dispatch id in `events`, by name in the application's type library.
std::optional<DISPID> BeforeCloseIn(ITypeLib* library, REFIID events) {
  if (library) {
    ComPtr<ITypeInfo> info;
    if (SUCCEEDED(library->GetTypeInfoOfGuid(events, &info))) {
      LPOLESTR name = const_cast<LPOLESTR>(L"DocumentBeforeClose");
      MEMBERID id = 0;
      if (SUCCEEDED(info->GetIDsOfNames(&name, 1, &id))) return id;
      return std::nullopt;
    }
  }
  if (IsEqualIID(events, kWordApplicationEvents) || IsEqualIID(events, kWpsApplicationEvents))
    return kDocumentBeforeCloseId;
  return std::nullopt;
}

ComPtr<ITypeLib> TypeLibraryOf(IDispatch* application) {
  ComPtr<ITypeInfo> info;
  ComPtr<ITypeLib> library;
  UINT index = 0;
  if (FAILED(application->GetTypeInfo(0, 1033, &info)) || !info ||
      FAILED(info->GetContainingTypeLib(&library, &index)))
    return nullptr;
  return library;
}

}  // namespace

std::string EditorPolicy() {
  std::wstring value = PolicyText(L"Editor");
  for (wchar_t& c : value) c = towlower(c);
  return value == L"word" || value == L"wps" ? WideToAnsi(value) : "auto";
}

std::optional<Editor> ChooseEditor() {
  std::string policy = EditorPolicy();
  return FirstInstalled(policy != "wps", policy != "word");
}

std::string NoEditorText() {
  std::string policy = EditorPolicy();
  const char* text = policy == "word" ? "不能打开文档: 管理员指定用 Microsoft Word 编辑文档, 但本机没有安装 Word (WPS 文字不在此设置之内)。请与管理员联系!"
                     : policy == "wps" ? "不能打开文档: 管理员指定用 WPS 文字编辑文档, 但本机没有安装 WPS Office (Word 不在此设置之内)。请与管理员联系!"
                                       : "不能打开文档: 本机既没有安装 Microsoft Word, 也没有安装 WPS Office 的 WPS 文字。请安装其中之一后再试!";
  return UiText(Gb(text));
}

std::optional<ApplicationEvents> FindApplicationEvents(IDispatch* application) {
  ComPtr<IConnectionPointContainer> container;
  if (!application || FAILED(application->QueryInterface(IID_PPV_ARGS(&container)))) return std::nullopt;
  ComPtr<ITypeLib> library = TypeLibraryOf(application);
  ComPtr<IEnumConnectionPoints> points;
  if (SUCCEEDED(container->EnumConnectionPoints(&points)) && points) {
    ComPtr<IConnectionPoint> point;
    while (points->Next(1, point.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
      IID iid{};
      if (FAILED(point->GetConnectionInterface(&iid))) continue;
      if (auto id = BeforeCloseIn(library.Get(), iid)) return ApplicationEvents{iid, *id};
    }
    return std::nullopt;
  }
  // A server that does not list its points is asked for the known interfaces.
  for (const IID& iid : {kWordApplicationEvents, kWpsApplicationEvents}) {
    ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(iid, &point))) continue;
    if (auto id = BeforeCloseIn(library.Get(), iid)) return ApplicationEvents{iid, *id};
  }
  return std::nullopt;
}

}  // namespace nib
