#pragma once
// Values shared by every automation object in the process (one copy per
// loaded DLL), with the Word driver and the control window. The page's
// thread is the only one that touches them; the last writer wins.

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <string>

#include "NibWordLib.h"
#include "services/WebTransfer.h"

namespace nib {

struct ProcessValues {
  bool IsMultTemplet = false;
  bool IsSetFont = false;
  std::string DocTmplDLURL;
  std::string DownURL;
  std::string UpURL;
  std::string DestBaseFN;
  std::string UserName;
  std::string SucceedPrefix;
  std::string DownTempletNameURL;
  std::string XmlUrl;
  std::string UpURLBase;
  std::string LocalDocFN;
  std::string DocExt;
  std::string LocalTmplFN;
  std::string FontName;
  std::string RevPassword;
  int FontColorR = 0;
  int FontColorG = 0;
  int FontColorB = 0;
  std::string BoInsId;
  std::string MultTemplet;
  std::string TempletFN;  // the value of the template the user chose
  std::string ExtraDispState = "NoUse";
  std::string BtnSaveCloseDisp = "K";
  int IniXMLType = 0;
  std::string IniXMLCont;
  // The XML content pair handed to the Word driver: kind and content.
  int XMLKind = 0;
  std::string XMLContent;
  // The forwarding wrapper around the connected page's event sink.
  Microsoft::WRL::ComPtr<IDispatch> EventSink;
  // The control window, recorded when it is created: target of InvokeUseTemplate,
  // owner of the driver's message boxes and target of its missing-template message.
  HWND ControlWindow = nullptr;
  // What the control window works with: the object behind its commands, the
  // open mode it read from it, and the template the page asked for ("tmp", "ht").
  // Not owned: the object ends its cycle, and destroys this window, before it
  // goes; a reference here would keep it alive after its page let go.
  IInnerFunc* InnerFunc = nullptr;
  std::string CtrlProcID;
  std::string CtrlProcID2;
  std::string InvokedTmplKind;
  // Which addresses the cycle's transfers may reach: the rule of the page
  // whose object opened the cycle (the template chooser downloads with it).
  AddressRule CycleAddressRule;
  // Word's Application object while a driver is connected to it.
  Microsoft::WRL::ComPtr<IDispatch> WordApplication;
  // Set by the template step when the template file cannot be found.
  bool TmplMissing = false;
  // How the next upload was asked for: "保存并关闭", or saving before a template.
  bool SaveModeSaveAndClose = false;
  bool SaveModeOnlySave = false;
};

ProcessValues& Process();

// Library end: the configuration strings are emptied and the sink let go.
// `processEnding` skips the release when other DLLs may already be gone.
void ClearProcessValues(bool processEnding);

}  // namespace nib
