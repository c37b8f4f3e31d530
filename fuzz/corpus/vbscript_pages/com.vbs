Set form = Server.CreateObject("Formix4.XForm")
For Each name In form
  For Each field In form(name)
    If field.FileExists Then field.Save Server.MapPath("up/" & field.SafeFileName)
  Next
Next
Set f = form("x")(1)
Response.Cookies("a") = "b"
Session("n") = Session("n") + 1
On Error Resume Next
form("doc")(1).Save "/../x"
If Err.Number <> 0 Then Response.Write Err.Description : Err.Clear
On Error GoTo 0
