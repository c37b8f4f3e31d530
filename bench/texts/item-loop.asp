<%@ Language="JScript" %><%
// Reads Item(i) of every field of the form posted to it, then the content
// of each field's first item, and prints how long each loop took. A page
// of the benchmark, never of the site.
var form = Server.CreateObject("Formix4.XForm");
var count = form.Count;
var start = new Date().getTime();
for (var i = 1; i <= count; i++) form.Item(i);
var items = new Date().getTime();
for (var i = 1; i <= count; i++) form.Item(i).Item(1).Content;
var contents = new Date().getTime();
Response.Write(count + " " + (items - start) + " " + (contents - items) + "\n");
%>
