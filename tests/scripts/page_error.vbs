' A failing member seen from a script with the error's source, which JScript
' does not expose but VBScript's Err object does.
Dim nib, failures
failures = 0
' The object takes a site (it judges the page that hosts it). Wine's VBScript
' creates such an object only when its script host offers a service
' provider, which Wine's cscript does not: a gap of the platform, not ours.
On Error Resume Next
Set nib = CreateObject("NibWordLib.NibWord")
If Err.Number <> 0 Then
  WScript.Echo "skipped: this VBScript cannot create an object that takes a site (" & Hex(Err.Number) & ")"
  WScript.Quit 0
End If
nib.IsSetFont True
nib.ReSetFontByWebPage
If Err.Number = 0 Then
  WScript.Echo "FAILED: ReSetFontByWebPage raised no error"
  failures = failures + 1
ElseIf Err.Source <> "NibWordLib.NibWord" Then
  WScript.Echo "FAILED: error source is '" & Err.Source & "'"
  failures = failures + 1
Else
  WScript.Echo "ok: error from " & Err.Source & ": " & Err.Description
End If
WScript.Echo "done: " & failures & " failures"
WScript.Quit failures
