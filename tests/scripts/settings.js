// A page's configuration of the object, run by cscript under Wine: create it
// by its ProgID, call every setter and property put, and see the script error
// a failing member raises.

var failures = 0;
function check(condition, what) {
  if (condition) {
    WScript.Echo("ok: " + what);
  } else {
    WScript.Echo("FAILED: " + what);
    failures++;
  }
}

var nib = new ActiveXObject("NibWordLib.NibWord");
check(nib != null, "created NibWordLib.NibWord");

function setterWorks(name, call) {
  try {
    call();
    check(true, name);
  } catch (e) {
    check(false, name + " raised " + e.description);
  }
}

setterWorks("SetDownURL", function () { nib.SetDownURL("http://127.0.0.1:1/doc?id=7"); });
setterWorks("SetUpURL", function () { nib.SetUpURL("http://127.0.0.1:1/up?id=7"); });
setterWorks("SetDestBaseFN", function () { nib.SetDestBaseFN("通知1"); });
setterWorks("SetDrafting", function () { nib.SetDrafting(true); });
setterWorks("SetUserName", function () { nib.SetUserName("张三"); });
setterWorks("SetShowTrack", function () { nib.SetShowTrack(false); });
setterWorks("setSucceedPrefix", function () { nib.setSucceedPrefix("OK"); });
setterWorks("SetIsAdmin", function () { nib.SetIsAdmin(false); });
setterWorks("SetDocTmplDLURL", function () { nib.SetDocTmplDLURL("http://127.0.0.1:1/tmpl.doc"); });
setterWorks("SetXMLCont kind 1", function () { nib.SetXMLCont(1, "<Root><BookMark Name='a' Text='b'/></Root>"); });
setterWorks("SetIsPrinter", function () { nib.SetIsPrinter(false); });
setterWorks("SetHtmWidth", function () { nib.SetHtmWidth(715); });
setterWorks("SetUpURLHt", function () { nib.SetUpURLHt("http://127.0.0.1:1/upht"); });
setterWorks("SetDownURLHt", function () { nib.SetDownURLHt("http://127.0.0.1:1/downht"); });
setterWorks("IsMultTemplet", function () { nib.IsMultTemplet(false); });
setterWorks("SetDownTempletNameURL", function () { nib.SetDownTempletNameURL("http://127.0.0.1:1/names"); });
setterWorks("SetMultTemplet", function () { nib.SetMultTemplet(""); });
setterWorks("SetBtnSaveCloseDisp", function () { nib.SetBtnSaveCloseDisp("K"); });
setterWorks("SetFileSizeLmt", function () { nib.SetFileSizeLmt(2048.5); });
setterWorks("SetExtraDispState", function () { nib.SetExtraDispState("NoUse"); });
setterWorks("SetIniXMLCont", function () { nib.SetIniXMLCont(1, "<Root/>"); });
setterWorks("SetRevisionFN", function () { nib.SetRevisionFN("c:\\Revision.doc"); });
setterWorks("XmlUrl", function () { nib.XmlUrl("http://127.0.0.1:1/xml"); });
setterWorks("SetBoInsId", function () { nib.SetBoInsId("  12 "); });
setterWorks("InvokeUseTemplate", function () { nib.InvokeUseTemplate("ht"); });
setterWorks("IsSetFont", function () { nib.IsSetFont(false); });
setterWorks("SetFontName property", function () { nib.SetFontName = " 仿宋_GB2312 "; });
setterWorks("SetFontSize property", function () { nib.SetFontSize = 16; });
setterWorks("SetFontColor", function () { nib.SetFontColor(0, 0, 255); });
setterWorks("SetRevPassword", function () { nib.SetRevPassword("secret"); });
setterWorks("ReSetFontByWebPage without fonts", function () { nib.ReSetFontByWebPage(); });

function raises(name, call) {
  try {
    call();
    check(false, name + " raised no error");
  } catch (e) {
    check(e.number < 0 && e.description.length > 0,
          name + " raised: " + e.description + " (" + (e.number >>> 0).toString(16) + ")");
  }
}

raises("ReSetFontByWebPage with no document open", function () {
  nib.IsSetFont(true);
  nib.ReSetFontByWebPage();
});

// The source of the error is visible to a script through the engine's own
// report of an uncaught error (see page_error.js).
// Wine's cscript ends with 0 after a script error: this last line is what says
// the script ran to its end.
WScript.Echo("done: " + failures + " failures");
WScript.Quit(failures == 0 ? 0 : 1);
