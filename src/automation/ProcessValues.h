#pragma once
// Values shared by every automation object in the process (one copy per
// loaded DLL), with the Word driver and the control window. The page's
// thread is the only one that touches them; the last writer wins.

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <string>

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
  std::string ExtraDispState = "NoUse";
  std::string BtnSaveCloseDisp = "K";
  int IniXMLType = 0;
  std::string IniXMLCont;
  // The XML content pair handed to the Word driver: kind and content.
  int XMLKind = 0;
  std::string XMLContent;
  // The forwarding wrapper around the connected page's event sink.
  Microsoft::WRL::ComPtr<IDispatch> EventSink;
  // The control window, recorded when it is created (target of InvokeUseTemplate).
  HWND ControlWindow = nullptr;
};

ProcessValues& Process();

// Library end: the configuration strings are emptied and the sink let go.
// `processEnding` skips the release when other DLLs may already be gone.
void ClearProcessValues(bool processEnding);

}  // namespace nib
