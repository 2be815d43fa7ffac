' A failing member seen from a script with the error's source, which JScript
' does not expose but VBScript's Err object does.
Dim nib, failures
failures = 0
Set nib = CreateObject("NibWordLib.NibWord")
On Error Resume Next
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
