#include "script/VBScriptRun.h"

#include <cstdio>
#include <map>

#include "vbscript/Interpreter.h"
#include "vbscript/RuntimeError.h"
#include "core/StackRoom.h"

namespace script {

namespace {

std::string Lower(const std::string& text) {
    std::string out;
    for (char c : text) out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return out;
}

// The page's objects by lower-case name; declared ones are made at their first use.
class PageHost : public vbs::ScriptHost {
public:
    PageHost(const PageNames& names, const PageNames& declared, const std::function<bool()>& stopNow)
        : mStopNow(stopNow) {
        for (const PageNames* list : {&declared, &names})  // the request's objects win over a tag of the same name
            for (const PageName& name : *list) mNames[Lower(name.name)] = &name;
    }

    IDispatch* pageObject(const std::string& lowerName) override {
        auto made = mMade.find(lowerName);
        if (made != mMade.end()) return made->second.get();
        auto it = mNames.find(lowerName);
        if (it == mNames.end()) return nullptr;
        platform::ComPtr<IDispatch> object = it->second->object;
        if (!object && it->second->make) {
            std::string error;
            object = it->second->make(&error);
            if (!object) throw vbs::RuntimeError(vbs::kCannotCreateObject, error, it->second->name);
        }
        return (mMade[lowerName] = object).get();
    }

    bool stopNow() override { return mStopNow && mStopNow(); }

private:
    std::function<bool()> mStopNow;
    std::map<std::string, const PageName*> mNames;
    std::map<std::string, platform::ComPtr<IDispatch>> mMade;
};

std::string HexNumber(int32_t hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

}  // namespace

RunOutcome RunVBScript(const CompiledPage& page, const PageNames& names, const PageNames& declared,
                       const std::function<bool()>& stopNow) {
    RunOutcome outcome;
    PageHost host(names, declared, stopNow);
    try {
        host::RunOnOwnStack([&] {
            vbs::Interpreter interpreter(page.vbscript, host);
            interpreter.run(page.thenCall);
        });
    } catch (const vbs::RuntimeError& error) {
        outcome.ok = false;
        outcome.where = page.origin(error.line);
        outcome.number = vbs::ErrorHResult(error.number);
        outcome.description = error.description;
        outcome.category = "VBScript runtime";
        outcome.error = "VBScript runtime error " + std::to_string(error.number) + " (" + HexNumber(outcome.number) +
                        "): " + error.description;
    } catch (const vbs::ProgramStopped&) {
        outcome.ok = false;
        outcome.timedOut = true;
    }
    return outcome;
}

}  // namespace script
