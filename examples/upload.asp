<%@ Language="JScript" %>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Upload a file</title>
</head>
<body>
<%
// GET shows the form; POST saves the file under /uploads/ and says so.
if (Request.ServerVariables("REQUEST_METHOD") == "POST") {
  var form = Server.CreateObject("Formix4.XForm");
  var file = form("file")(1);
  if (file.FileExists) {
    try {
      file.Save("/uploads/" + file.SafeFileName);
%><p>Saved <%= Server.HTMLEncode(file.SafeFileName) %> (<%= file.Length %> bytes).</p>
<%  } catch (e) { %><p>Not saved: <%= Server.HTMLEncode(e.description) %></p>
<%  }
  } else { %><p>No file was chosen.</p>
<% }
} %>
<form method="post" enctype="multipart/form-data" action="upload.asp">
<input type="file" name="file">
<button type="submit">Upload</button>
</form>
</body>
</html>
