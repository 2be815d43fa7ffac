#include "services/ProcessValues.h"

namespace nib {

ProcessValues& Process() {
  static ProcessValues values;
  return values;
}

void ClearProcessValues(bool processEnding) {
  ProcessValues& p = Process();
  for (std::string* text :
       {&p.DocTmplDLURL, &p.DownURL, &p.UpURL, &p.DestBaseFN, &p.UserName, &p.SucceedPrefix, &p.DownTempletNameURL,
        &p.XmlUrl, &p.UpURLBase, &p.LocalDocFN, &p.DocExt, &p.LocalTmplFN, &p.FontName, &p.RevPassword, &p.BoInsId,
        &p.MultTemplet, &p.ExtraDispState, &p.BtnSaveCloseDisp, &p.IniXMLCont, &p.CtrlProcID, &p.CtrlProcID2,
        &p.InvokedTmplKind})
    text->clear();
  p.InnerFunc = nullptr;
  if (processEnding) {
    p.EventSink.Detach();
    p.WordApplication.Detach();
  } else {
    p.EventSink.Reset();
    p.WordApplication.Reset();
  }
}

}  // namespace nib
