<%@ Language="JScript" %>
<!-- #include virtual="/lib/site.inc" -->
<%
// GET /progress.asp?ID=n&Sig=s (also /progress): the upload's progress as
// JSON, for the visitor the ID was handed to (the signature the form
// carries); any other visitor sees an ID without a record ("Connecting...").

// A member read while the upload goes on; a failed read gives `otherwise`.
function Read(progress, name, otherwise) {
  try { return progress[name]; } catch (e) { return otherwise; }
}

function ProgressJson(id, known) {
  var progress;
  try {
    progress = Server.CreateObject("Formix4.XProgress");
    // Without a known ID the progress keeps the one it drew, which no form has.
    if (known) progress.ID = id;
  } catch (e) {
    return "{\"Error\": " + ErrorFieldsJson(e) + "}";
  }
  // Each member reads the record at its own moment: the bytes done are read
  // before the total and the started flag, so that done never exceeds total.
  var done = Read(progress, "BytesDone", 0), total = Read(progress, "BytesTotal", 0);
  var started = Read(progress, "Started", false);
  var json = "{\"ID\": " + id + ", \"Note\": " + JsonString(Read(progress, "Note", "")) +
             ", \"Started\": " + (started === true) + ", \"BytesTotal\": " + total + ", \"BytesDone\": " + done;
  var names = ["PercentDone", "ElapsedSeconds", "SecondsLeft", "BytesPerSecond"];
  for (var i = 0; i < names.length; ++i) json += ", \"" + names[i] + "\": " + Read(progress, names[i], 0);
  return json + "}";
}

Response.Clear();
var idText = QueryValue("ID");
if (!IsId(idText)) {
  BadParameter("ID");
} else {
  var id = Number(idText);
  Response.AddHeader("Cache-Control", "no-store");
  AnswerJson(ProgressJson(id, tools.Owns(String(Request.Cookies(VISITOR_COOKIE)), id, QueryValue("Sig"))));
}
Response.End();  // nothing after the answer, not even this file's last line end
%>
