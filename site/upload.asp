<%@ Language="JScript" %>
<!-- #include virtual="/lib/site.inc" -->
<%
// GET /upload.asp (also /upload): the upload form, with a new progress ID
// and its signature for the visitor. POST /upload.asp?ID=n&Sig=s: receives the upload, saves
// its files under /uploads/<upload>/ and shows every field; with "Accept:
// application/json" it answers the form report with each item's "SavedAs"
// or "SaveError". The report is read and written by the server's upload
// folder (Receive), which also saves the files and digests them.

var NO_SPACE = {number: 0x80040070, source: SITE_SOURCE,
                description: "There is not enough space on the server for this upload."};

function ReceiveUpload(visitor) {
  var id = 0, idText = QueryValue("ID");
  if (idText !== null) {
    if (!IsId(idText)) return BadParameter("ID");
    id = Number(idText);
  }
  // An ID not handed to this visitor is not theirs to report on.
  if (!tools.Owns(visitor, id, QueryValue("Sig"))) id = tools.HandOut();
  var length = Number(Request.ServerVariables("CONTENT_LENGTH"));
  if (!tools.EnoughSpace(length)) return Fail(507, NO_SPACE);
  var form, folder = tools.NewUploadFolder(), report;
  try {
    form = Server.CreateObject("Formix4.XForm");
    form.MaxUploadSize = Math.min(tools.MaxUpload, 2147483647);
    form.ID = id;
  } catch (e) {
    return Fail(500, e);
  }
  try {
    report = folder.Receive(form);
  } catch (e) {
    // (A body the server stopped reading, too slow or with too many
    // fields, the server core answers itself.)
    var status = length > tools.MaxUpload ? 413 : 400;
    if (status == 400 && !tools.EnoughSpace(length)) return Fail(507, NO_SPACE);
    return Fail(status, e);
  }
  if (report.VolumeFull) return Fail(507, NO_SPACE);
  if (String(Request.ServerVariables("CONTENT_TYPE")).indexOf("multipart/form-data") == 0 && !report.Multipart)
    return Fail(400, {number: 0x80004005, source: SITE_SOURCE,
                      description: "The request body is not the multipart form its Content-Type announces."});
  try {
    folder.Keep();
  } catch (e) {
    return Fail(500, e);
  }
  Response.Clear();
  if (WantsJson()) {
    Response.ContentType = "application/json";
    Response.Charset = "";
    report.WriteJson(Response);
  } else {
    Response.Write(HtmlPageStart("Upload received"));
    report.WriteHtml(Response);
    Response.Write(HtmlPageEnd());
  }
}

var visitor = Visitor();
if (Request.ServerVariables("REQUEST_METHOD") == "POST") {
  ReceiveUpload(visitor);
  Response.End();
}
var formId = tools.HandOut(), formSignature = tools.Signature(visitor, formId);
Response.AddHeader("Cache-Control", "no-store");
Response.Clear();
%><!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Upload files</title>
<link rel="stylesheet" href="/site.css">
</head>
<body>
<h1>Upload files</h1>
<form id="upload" method="post" enctype="multipart/form-data" action="/upload?ID=<%= formId %>&amp;Sig=<%= formSignature %>">
  <fieldset>
    <legend>About you</legend>
    <label>Name <input type="text" name="name" value=""></label>
    <label>Comment <textarea name="comment" rows="3"></textarea></label>
    <label>Topics
      <select name="topics" multiple size="4">
        <option>Photos</option><option>Documents</option><option>Music</option><option>Other</option>
      </select>
    </label>
  </fieldset>
  <fieldset>
    <legend>Files</legend>
    <label>First file <input type="file" name="file1"></label>
    <label>Second file <input type="file" name="file2"></label>
    <label>More files <input type="file" name="more" multiple></label>
  </fieldset>
  <p>Uploads up to <%= Math.floor(tools.MaxUpload / 1000000) %> MB.</p>
  <button type="submit">Upload</button>
</form>
<div id="progress" hidden>
  <progress id="bar" max="100" value="0"></progress>
  <span id="percent">0%</span>
  <p id="detail">Waiting for the upload to start&hellip;</p>
</div>
<script src="/progress.js"></script>
</body>
</html>
