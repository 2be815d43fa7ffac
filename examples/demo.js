// What a page does before it opens a document: create the object, connect
// the settings, and report. Run by `make demo` with Wine's cscript.

var nib = new ActiveXObject("NibWordLib.NibWord");
WScript.Echo("created NibWordLib.NibWord");

var server = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "http://127.0.0.1:8080";
var settings = [
  ["SetDownURL", server + "/doc/notice.doc"],
  ["SetUpURL", server + "/upload?id=1"],
  ["SetDestBaseFN", "通知1"],
  ["SetUserName", "张三"],
  ["setSucceedPrefix", "OK"],
  ["SetDocTmplDLURL", server + "/templates/red.doc"]
];
for (var i = 0; i < settings.length; i++) {
  nib[settings[i][0]](settings[i][1]);
  WScript.Echo(settings[i][0] + "(\"" + settings[i][1] + "\")");
}
nib.SetDrafting(true);
WScript.Echo("SetDrafting(true)");
nib.SetShowTrack(true);
WScript.Echo("SetShowTrack(true)");
nib.SetFontName = "仿宋_GB2312";
nib.SetFontSize = 16;
WScript.Echo("SetFontName = \"仿宋_GB2312\", SetFontSize = 16");
nib.SetXMLCont(1, "<Root><BookMark Name=\"标题\" Text=\"关于放假的通知\"/></Root>");
WScript.Echo("SetXMLCont(1, <Root>...</Root>)");

try {
  var result = nib.OpenFile("1", "");
  WScript.Echo("OpenFile(\"1\", \"\") = " + result);
} catch (e) {
  WScript.Echo("OpenFile(\"1\", \"\") failed: " + e.description);
}
