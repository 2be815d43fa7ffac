// A page script against the installed package: creates the object by its
// ProgID and runs an unattended cycle (download, convert, upload) against the
// document server. Argument: the document server's folder (port, files, records).
var fso = new ActiveXObject("Scripting.FileSystemObject");
var folder = WScript.Arguments(0);
var port = parseInt(fso.OpenTextFile(folder + "\\port").ReadAll(), 10);
var base = "http://127.0.0.1:" + port;
var id = "page-" + new Date().getTime();
var doc = fso.CreateTextFile(folder + "\\files\\" + id + ".doc", true);
doc.Write('<?xml version="1.0" encoding="utf-8"?>\n<nibdoc><text>Body</text></nibdoc>\n');
doc.Close();

var nib = new ActiveXObject("NibWordLib.NibWord");
nib.SetDownURL(base + "/" + id + ".doc");
nib.SetUpURL(base + "/upload?id=" + id + "&reply=OK");
nib.setSucceedPrefix("OK");
nib.SetDestBaseFN("notice.doc");
var result = nib.OpenFile("3", "");
var arrived = fso.FileExists(folder + "\\records\\" + id + ".body");
if (result.indexOf("OK:") == 0 && arrived) {
  WScript.Echo("ok: the installed object ran the cycle: " + result);
  WScript.Quit(0);
}
WScript.Echo("FAILED: result '" + result + "', upload arrived: " + arrived);
WScript.Quit(1);
