// The type library a page's script engine reads: loaded from the registry as
// a browser would, member by member against the interface table.

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "server/Guids.h"

namespace nib::test {
namespace {

struct Member {
  const char* name;
  DISPID id;
  std::vector<const char*> params;
  const char* help;  // UTF-8
  INVOKEKIND kind = INVOKE_FUNC;
};

const std::vector<Member>& NibWordMembers() {
  static const std::vector<Member> members = {
      {"SetDownURL", 201, {"DownURL"}, ""},
      {"SetUpURL", 202, {"UpURL"}, ""},
      {"SetDestBaseFN", 204, {"DestBaseFN"}, "也许用户希望文件名有点意义(如: 通知1.doc)"},
      {"SetDrafting", 205, {"bDrafting"}, "设定是否是起草文档,取值为true , false"},
      {"SetUserName", 206, {"sUserName"}, "设定当前编辑用户名"},
      {"SetShowTrack", 207, {"bShowTrack"}, "设定打开文档时是否显示痕迹"},
      {"setSucceedPrefix", 208, {"sSuccPrefix"},
       "当请求一个servelet时,到底是成功还是失败就从返回结果的前一段是否是SucceedPrefix来判断"},
      {"SetIsAdmin", 209, {"bAdmin"}, ""},
      {"SetDocTmplDLURL", 211, {"sDocTmplURL"},
       "本处设置一个模板的下载地址,然后真正应用模板到文档中去的动作是通过OpenFile来完成"},
      {"SetXMLCont", 212, {"iGetType", "XMLCont"},
       "iGetType=1,表示内容直接从第二个参数中取得,=2:从第二个参数所指明的地址中下载"},
      {"OpenFile", 203, {"ProcID", "ProcID2", "rtnStr"}, "打开一个文件,包括编辑,查看,ProcID=1:编辑,ProcID=2:查看"},
      {"SetIsPrinter", 210, {"bIsPrinter"}, ""},
      {"SetHtmWidth", 213, {"iWidth"}, ""},
      {"SetUpURLHt", 214, {"UpUrlHt"}, ""},
      {"SetDownURLHt", 215, {"DownUrlHt"}, ""},
      {"OpenHtFile", 223, {"rtnStr"}, "打开一个文件,包括编辑,查看,ProcID=1:编辑,ProcID=2:查看"},
      {"IsMultTemplet", 216, {"value"}, ""},
      {"SetDownTempletNameURL", 217, {"Url"}, ""},
      {"SetMultTemplet", 218, {"MultTemplet"}, ""},
      {"SetBtnSaveCloseDisp", 219, {"aState"}, ""},
      {"SetFileSizeLmt", 220, {"aFileSizeLmt"}, ""},
      {"SetExtraDispState", 221, {"aDispState"}, ""},
      {"SetIniXMLCont", 222, {"aType", "aIniXMLCont"}, ""},
      {"SetRevisionFN", 224, {"aFN"}, ""},
      {"XmlUrl", 225, {"XmlUrl"}, ""},
      {"SetBoInsId", 226, {"BoInsId"}, ""},
      {"InvokeUseTemplate", 227, {"invoType"}, "页面直接调用“套打模板”功能"},
      {"IsSetFont", 228, {"FisSetFont"}, "是否使用字体"},
      {"SetFontName", 229, {"Value"}, "设置字体名称", INVOKE_PROPERTYPUT},
      {"SetFontSize", 230, {"Value"}, "设置字体大小", INVOKE_PROPERTYPUT},
      {"SetFontColor", 231, {"ColorRed", "ColorGreen", "ColorBlue"}, ""},
      {"SetRevPassword", 232, {"strPwd"}, "设置痕迹密码"},
      {"ReSetFontByWebPage", 233, {}, "Web页面重新设置字体"},
      // Appended after the 33 first members, which keep their slots and DISPIDs.
      {"Version", 234, {"rtnStr"}, "控件的版本", INVOKE_PROPERTYGET},
  };
  return members;
}

class TypeLibrary : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    ASSERT_EQ(LoadRegTypeLib(LIBID_NibWordLib, 1, 0, 0x409, &library), S_OK) << "the DLL is registered";
  }
  void TearDown() override {
    library.Reset();
    ComApartment::TearDown();
  }
  std::wstring HelpOf(ITypeInfo* info, MEMBERID id) {
    BSTR help = nullptr;
    EXPECT_EQ(info->GetDocumentation(id, nullptr, &help, nullptr, nullptr), S_OK);
    std::wstring text = help ? help : L"";
    SysFreeString(help);
    return text;
  }
  Microsoft::WRL::ComPtr<ITypeLib> library;
};

TEST_F(TypeLibrary, LibraryAttributes) {
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->wMajorVerNum, 1);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  EXPECT_EQ(attributes->lcid, 0x409u);
  library->ReleaseTLibAttr(attributes);
  BSTR name = nullptr, help = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"NibWordLib");
  EXPECT_STREQ(help, L"NibWordLib Library");
  SysFreeString(name);
  SysFreeString(help);
}

TEST_F(TypeLibrary, EveryInterfaceWithItsGuidAndHelp) {
  struct Expected {
    GUID guid;
    const char* name;
    TYPEKIND kind;
    const char* help;
  };
  const Expected types[] = {
      {CLSID_NibWord, "NibWord", TKIND_COCLASS, "NibWord Object"},
      {IID_INibWord, "INibWord", TKIND_DISPATCH, "Dispatch interface for NibWord Object"},
      {DIID_INibWordEvents, "INibWordEvents", TKIND_DISPATCH, "Events interface for NibWord Object"},
      {IID_ICommGUI, "ICommGUI", TKIND_INTERFACE, "通过此接口来完成用户交互的功能(如显示Message,写日志等)."},
      {IID_IInnerFunc, "IInnerFunc", TKIND_DISPATCH, "由主单元实现,供程序内部调用的功能"},
      {IID_IUserIntfFunc, "IUserIntfFunc", TKIND_DISPATCH, "由用户界面的那个单元实现,供程序内部调用"},
      {IID_ICommEdt, "ICommEdt", TKIND_INTERFACE, ""},
      {IID_ICommEdt_Word, "ICommEdt_Word", TKIND_INTERFACE, ""},
  };
  for (const Expected& type : types) {
    Microsoft::WRL::ComPtr<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(type.guid, &info), S_OK) << type.name;
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, type.kind) << type.name;
    info->ReleaseTypeAttr(attributes);
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::wstring(name ? name : L""), Utf8ToWide(type.name));
    EXPECT_EQ(std::wstring(help ? help : L""), Utf8ToWide(type.help)) << type.name;
    SysFreeString(name);
    SysFreeString(help);
  }
}

TEST_F(TypeLibrary, NibWordMembersInVtableOrder) {
  // The vtable half of the dual interface: slots, parameter names, help strings.
  Microsoft::WRL::ComPtr<ITypeInfo> dispatchInfo, info;
  ASSERT_EQ(library->GetTypeInfoOfGuid(IID_INibWord, &dispatchInfo), S_OK);
  HREFTYPE vtableRef;
  ASSERT_EQ(dispatchInfo->GetRefTypeOfImplType(-1, &vtableRef), S_OK);
  ASSERT_EQ(dispatchInfo->GetRefTypeInfo(vtableRef, &info), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->cFuncs, 34) << "INibWord's own members";
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
  info->ReleaseTypeAttr(attributes);

  const auto& members = NibWordMembers();
  ASSERT_EQ(members.size(), 34u);
  for (UINT index = 0; index < members.size(); ++index) {
    const Member& expected = members[index];
    FUNCDESC* function = nullptr;
    ASSERT_EQ(info->GetFuncDesc(index, &function), S_OK);
    BSTR names[8] = {};
    UINT count = 0;
    ASSERT_EQ(info->GetNames(function->memid, names, 8, &count), S_OK);
    EXPECT_EQ(std::wstring(names[0]), Utf8ToWide(expected.name)) << "slot " << index;
    EXPECT_EQ(function->memid, expected.id) << expected.name;
    EXPECT_EQ(function->oVft / static_cast<SHORT>(sizeof(void*)), static_cast<SHORT>(7 + index)) << expected.name;
    EXPECT_EQ(function->invkind, expected.kind) << expected.name;
    EXPECT_EQ(function->elemdescFunc.tdesc.vt, VT_HRESULT) << expected.name;
    // A property put's value parameter has no name in the type information.
    const size_t named = expected.kind == INVOKE_PROPERTYPUT ? expected.params.size() - 1 : expected.params.size();
    ASSERT_EQ(count, 1 + named) << expected.name;
    for (size_t p = 0; p < named; ++p)
      EXPECT_EQ(std::wstring(names[1 + p]), Utf8ToWide(expected.params[p])) << expected.name;
    for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
    EXPECT_EQ(HelpOf(info.Get(), function->memid), Utf8ToWide(expected.help)) << expected.name;
    info->ReleaseFuncDesc(function);
  }
}

TEST_F(TypeLibrary, EventAndInternalInterfaces) {
  Microsoft::WRL::ComPtr<ITypeInfo> events;
  ASSERT_EQ(library->GetTypeInfoOfGuid(DIID_INibWordEvents, &events), S_OK);
  FUNCDESC* function = nullptr;
  ASSERT_EQ(events->GetFuncDesc(0, &function), S_OK);
  EXPECT_EQ(function->memid, 201);
  ASSERT_EQ(function->cParams, 5);
  const VARTYPE types[] = {VT_BSTR, VT_BSTR, VT_BSTR, VT_VARIANT, VT_VARIANT};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(function->lprgelemdescParam[i].tdesc.vt, types[i]) << "P" << i + 1;
  events->ReleaseFuncDesc(function);

  // Internal interfaces: each member's dispid in slot order.
  struct Slots {
    GUID iid;
    std::vector<DISPID> ids;
  };
  const Slots interfaces[] = {
      {IID_ICommGUI, {201, 202, 203, 101}},
      {IID_IInnerFunc, {101, 102, 104, 105, 106, 107, 203, 201, 202}},
      {IID_IUserIntfFunc, {0x67, 0xC9, 0xCA, 0xCB}},
      {IID_ICommEdt, {101, 102, 103, 104, 105, 106, 107, 108, 111}},
      {IID_ICommEdt_Word, {101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 210, 111, 112, 113, 114, 115, 116}},
  };
  for (const Slots& slots : interfaces) {
    Microsoft::WRL::ComPtr<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(slots.iid, &info), S_OK);
    HREFTYPE vtableRef;
    if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &vtableRef))) {
      Microsoft::WRL::ComPtr<ITypeInfo> vtable;
      ASSERT_EQ(info->GetRefTypeInfo(vtableRef, &vtable), S_OK);
      info = vtable;
    }
    for (UINT index = 0; index < slots.ids.size(); ++index) {
      ASSERT_EQ(info->GetFuncDesc(index, &function), S_OK);
      EXPECT_EQ(function->memid, slots.ids[index]) << "slot " << index;
      info->ReleaseFuncDesc(function);
    }
  }
  Microsoft::WRL::ComPtr<ITypeInfo> word;
  ASSERT_EQ(library->GetTypeInfoOfGuid(IID_ICommEdt_Word, &word), S_OK);
  EXPECT_EQ(HelpOf(word.Get(), 115), Utf8ToWide("页面设置字体格式"));
  Microsoft::WRL::ComPtr<ITypeInfo> gui;
  ASSERT_EQ(library->GetTypeInfoOfGuid(IID_ICommGUI, &gui), S_OK);
  EXPECT_EQ(HelpOf(gui.Get(), 101), Utf8ToWide("将整个运行过程中用到的临时文件加到此,iType=1表示目录，iType=2表示文件"));
}

}  // namespace
}  // namespace nib::test
