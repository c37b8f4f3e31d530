// The pages of the test server: they drive the component through late
// binding with whatever the query asks (any path, any account), so they
// exist only here, never in the product's server.
#include "TestPages.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "client/FormReport.h"

namespace {

// The progress document of a form ID: {"ID", "Note", "Started", ...}.
std::string ProgressJson(long id) {
    DispatchObject progress = DispatchObject::Create("Formix4.XProgress");
    if (!progress.ok() || !progress.put("ID", MakeLong(id))) return ScriptErrorJson(progress.error());
    // Each member reads the record at its own moment while the upload goes
    // on: the bytes done are read before the total and the started flag, so
    // that done never exceeds total in one answer.
    const long done = progress.getLong("BytesDone");
    const long total = progress.getLong("BytesTotal");
    const bool started = progress.getBool("Started");
    std::string json = "{\"ID\": " + std::to_string(id);
    json += ", \"Note\": " + JsonString(progress.getString("Note"));
    json += std::string(", \"Started\": ") + (started ? "true" : "false");
    json += ", \"BytesTotal\": " + std::to_string(total) + ", \"BytesDone\": " + std::to_string(done);
    for (const char* name : {"PercentDone", "ElapsedSeconds", "SecondsLeft", "BytesPerSecond"})
        json += std::string(", \"") + name + "\": " + std::to_string(progress.getLong(name));
    return json + "}";
}

void AnswerJson(Response& response, const std::string& json) {
    response.contentType = "application/json";
    response.body = json + "\n";
}

// Sets the form's properties given in the query.
bool Configure(DispatchObject& form, const PageRequest& request) {
    for (const char* name : {"ID", "MaxUploadSize", "CodePage"}) {
        const std::string value = request.query(name);
        long number = 0;
        if (!value.empty() && !ParseInt32(value, &number, true)) {
            form = DispatchObject();
            return false;
        }
        if (!value.empty() && !form.put(name, MakeLong(number))) return false;
    }
    for (const char* name : {"AbsolutePath", "Overwrite"}) {
        const std::string value = request.query(name);
        if (!value.empty() && !form.put(name, MakeBool(value == "1" || value == "true"))) return false;
    }
    return true;
}

std::string FormSummary(DispatchObject& form) {
    const long id = form.getLong("ID");
    const bool multipart = form.getBool("Multipart");
    if (!form.ok()) return ScriptErrorJson(form.error());
    const long count = form.getLong("Count");
    if (!form.ok()) return ScriptErrorJson(form.error());
    return "{\"ID\": " + std::to_string(id) + ", \"Multipart\": " + (multipart ? "true" : "false") +
           ", \"Count\": " + std::to_string(count) + "}";
}

// Receives the request body; with "save" in the query also saves the raw
// upload to that path.
void IntakePage(const PageRequest& request, Response& response) {
    DispatchObject form = DispatchObject::Create("Formix4.XForm");
    if (!form.ok() || !Configure(form, request)) return AnswerJson(response, ScriptErrorJson(form.error()));
    const std::string savePath = request.query("save");
    if (!savePath.empty() && !form.call("Save", {MakeString(savePath)}))
        return AnswerJson(response, ScriptErrorJson(form.error()));
    AnswerJson(response, FormSummary(form));
}

// Receives the request body and answers every field with its members.
void FieldsPage(const PageRequest& request, Response& response) {
    DispatchObject form = DispatchObject::Create("Formix4.XForm");
    if (!form.ok() || !Configure(form, request)) return AnswerJson(response, ScriptErrorJson(form.error()));
    try {
        AnswerJson(response, FormReportJson(ReadFormReport(form)));
    } catch (const MemberFailure& failure) {
        AnswerJson(response, ScriptErrorJson(failure.error));
    }
}

// Parses a raw upload file instead of the request.
void ReadPage(const PageRequest& request, Response& response) {
    DispatchObject form = DispatchObject::Create("Formix4.XForm");
    if (!form.ok() || !Configure(form, request)) return AnswerJson(response, ScriptErrorJson(form.error()));
    if (!form.call("Read", {MakeString(request.query("path"))}))
        return AnswerJson(response, ScriptErrorJson(form.error()));
    AnswerJson(response, FormSummary(form));
}

// The outcome of one member call: null, or the error document.
std::string Outcome(bool succeeded, const DispatchObject& object) {
    return succeeded ? "null" : ScriptErrorJson(object.error());
}

// Acts as an account while it saves: SetUser with "user", "password" and,
// when given, "domain"; then the raw upload to "save" and the first item of
// the field "field" (default "file") to "fieldsave"; "hold" milliseconds of
// waiting; "release=1" ends the impersonation with an empty name; "leak=1"
// keeps the form alive after the request. Answers who the thread was.
void ImpersonatePage(const PageRequest& request, Response& response) {
    DispatchObject form = DispatchObject::Create("Formix4.XForm");
    if (!form.ok() || !form.put("AbsolutePath", MakeBool(true)))
        return AnswerJson(response, ScriptErrorJson(form.error()));
    std::string json = "{\"SetUser\": ";
    if (!request.query("user").empty()) {
        std::vector<VARIANT> arguments = {MakeString(request.query("user")), MakeString(request.query("password"))};
        if (!request.query("domain").empty()) arguments.push_back(MakeString(request.query("domain")));
        const bool loggedOn = form.call("SetUser", arguments);
        json += Outcome(loggedOn, form);
    } else {
        json += "null";
    }
    json +=
        ", \"User\": " + JsonString(form.getString("User")) + ", \"Domain\": " + JsonString(form.getString("Domain"));
    if (!request.query("save").empty()) {
        const bool saved = form.call("Save", {MakeString(request.query("save"))});
        json += ", \"Save\": " + Outcome(saved, form);
    }
    if (!request.query("fieldsave").empty()) {
        const std::string name = request.query("field").empty() ? "file" : request.query("field");
        DispatchObject field = form.getObject("Item", {MakeString(name)}).getObject("Item", {MakeLong(1)});
        const bool saved = field.ok() && field.call("Save", {MakeString(request.query("fieldsave"))});
        json += ", \"FieldSave\": " + Outcome(saved, field);
    }
    long hold = 0;
    if (ParseInt32(request.query("hold"), &hold)) std::this_thread::sleep_for(std::chrono::milliseconds(hold));
    if (request.query("release") == "1") {
        const bool released = form.call("SetUser", {MakeString(""), MakeString("")});
        json += ", \"Release\": " + Outcome(released, form);
        json += ", \"UserAfter\": " + JsonString(form.getString("User"));
    }
    if (request.query("leak") == "1") form.get()->AddRef();  // never released: a page that leaks its form
    AnswerJson(response, json + "}");
}

// The progress of any ID, whoever asks.
void ProgressPage(const PageRequest& request, Response& response) {
    long id = 0;
    if (!ParseInt32(request.query("ID"), &id)) {
        response.status = 400;
        return AnswerJson(response, ScriptErrorJson({E_INVALIDARG, "Formix4 test server", "ID must be a number."}));
    }
    AnswerJson(response, ProgressJson(id));
}

}  // namespace

void AddTestPages(WebServer& server) {
    const PageOptions body{.readsBody = true};
    server.addPage("/intake", IntakePage, body);
    server.addPage("/fields", FieldsPage, body);
    server.addPage("/read", ReadPage);
    server.addPage("/progress", ProgressPage);
    server.addPage("/impersonate", ImpersonatePage, body);
}
