// A page's unattended edit cycle: configure the object and call
// OpenFile("3", ""), which downloads the server's document, opens it in a
// private Word, converts it to HTML, packs and uploads it, and returns
// "OK:" and the conversion's number. Run by `make demo` with Wine's cscript;
// the first argument is the document server's address.

var nib = new ActiveXObject("NibWordLib.NibWord");
WScript.Echo("created NibWordLib.NibWord");

var server = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "http://127.0.0.1:8080";
var settings = [
  ["SetDownURL", server + "/notice.doc"],
  ["SetUpURL", server + "/upload?id=demo&reply=OK"],
  ["SetDestBaseFN", "notice1.doc"],
  ["SetUserName", "Zhang San"],
  ["setSucceedPrefix", "OK"]
];
for (var i = 0; i < settings.length; i++) {
  nib[settings[i][0]](settings[i][1]);
  WScript.Echo(settings[i][0] + "(\"" + settings[i][1] + "\")");
}

try {
  var result = nib.OpenFile("3", "");
  WScript.Echo("OpenFile(\"3\", \"\") = \"" + result + "\"");
} catch (e) {
  WScript.Echo("OpenFile(\"3\", \"\") failed: " + e.description);
  WScript.Quit(1);
}
