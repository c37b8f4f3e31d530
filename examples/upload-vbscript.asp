<%@ Language="VBScript" %>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Upload a file</title>
</head>
<body>
<%
' GET shows the form; POST saves the file under /uploads/ and says so.
If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
  Dim form, file
  Set form = Server.CreateObject("Formix4.XForm")
  Set file = form("file")(1)
  If file.FileExists Then
    On Error Resume Next
    file.Save "/uploads/" & file.SafeFileName
    If Err.Number = 0 Then
%><p>Saved <%= Server.HTMLEncode(file.SafeFileName) %> (<%= file.Length %> bytes).</p>
<%  Else %><p>Not saved: <%= Server.HTMLEncode(Err.Description) %></p>
<%  End If
    On Error GoTo 0
  Else %><p>No file was chosen.</p>
<% End If
End If %>
<form method="post" enctype="multipart/form-data" action="upload-vbscript.asp">
<input type="file" name="file">
<button type="submit">Upload</button>
</form>
</body>
</html>
