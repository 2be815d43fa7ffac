#pragma once
// The values one page's object shares with the parts of its edit cycle: the
// Word driver, the control window, the template chooser and the XML fill.
// Each object has its own, made when it is created; its parts hold a
// reference to it, so that a second page in the same process (another tab,
// another frame) can never change, nor be told about, this page's cycle.
// Only the object's own thread (the page's apartment) touches them.

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <memory>
#include <string>

#include "services/TmpFilesMgr.h"
#include "services/WebTransfer.h"

namespace nib {

struct PageValues {
  bool IsMultTemplet = false;
  bool IsSetFont = false;
  std::string DocTmplDLURL;
  // How often the page has set it: the template chooser goes on as soon as
  // the page answered its event with the chosen template's address.
  unsigned DocTmplDLURLSets = 0;
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
  // The forwarding wrapper around this page's event sink.
  Microsoft::WRL::ComPtr<IDispatch> EventSink;
  // The cycle's control window, recorded when it is created: owner of the
  // driver's message boxes and of the progress window, target of the
  // driver's missing-template message.
  HWND ControlWindow = nullptr;
  // The template the page asked for ("tmp", "ht").
  std::string InvokedTmplKind;
  // Which addresses the cycle's transfers may reach: the rule of this page
  // (the template chooser downloads with it).
  AddressRule CycleAddressRule;
  // Word's Application object while this page's driver is connected to it.
  Microsoft::WRL::ComPtr<IDispatch> WordApplication;
  // Set by the template step when the template file cannot be found.
  bool TmplMissing = false;
  // How the next upload was asked for: "保存并关闭", or saving before a template.
  bool SaveModeSaveAndClose = false;
  bool SaveModeOnlySave = false;
  // The cycle's temporary files and folders, deleted when it ends.
  std::shared_ptr<TTmpFilesMgr> TmpFiles = std::make_shared<TTmpFilesMgr>();
};

}  // namespace nib
