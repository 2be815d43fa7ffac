' SetXMLCont with kind 2 from a page: the XML is fetched from the document
' server; a dead address raises a script error from NibWordLib.NibWord.
' Argument: the file holding the document server's port.
Dim fso, port, nib, failures
failures = 0
Set fso = CreateObject("Scripting.FileSystemObject")
port = Trim(fso.OpenTextFile(WScript.Arguments(0)).ReadAll())
' The object takes a site (it judges the page that hosts it). Wine's VBScript
' creates such an object only when its script host offers a service
' provider, which Wine's cscript does not: a gap of the platform, not ours.
On Error Resume Next
Set nib = CreateObject("NibWordLib.NibWord")
If Err.Number <> 0 Then
  WScript.Echo "skipped: this VBScript cannot create an object that takes a site (" & Hex(Err.Number) & ")"
  WScript.Quit 0
End If
nib.SetXMLCont 2, "http://127.0.0.1:" & port & "/page.xml"
If Err.Number <> 0 Then
  WScript.Echo "FAILED: fetching the XML raised " & Err.Description
  failures = failures + 1
Else
  WScript.Echo "ok: SetXMLCont(2, server address)"
End If
Err.Clear
nib.SetXMLCont 2, "http://127.0.0.1:1/page.xml"
If Err.Number = 0 Then
  WScript.Echo "FAILED: a dead address raised no error"
  failures = failures + 1
ElseIf Err.Source <> "NibWordLib.NibWord" Then
  WScript.Echo "FAILED: error source is '" & Err.Source & "'"
  failures = failures + 1
Else
  WScript.Echo "ok: dead address raised from " & Err.Source & ": " & Err.Description
End If
WScript.Echo "done: " & failures & " failures"
WScript.Quit failures
