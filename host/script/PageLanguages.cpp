#include "script/PageLanguages.h"

#include "core/HttpText.h"

namespace script {

namespace {
struct Language {
    const char* name;
    const char* engine;
};
constexpr Language kLanguages[] = {
    {"JScript", "JScript"}, {"JavaScript", "JScript"}, {"ECMAScript", "JScript"}, {"VBScript", "VBScript"}};
}  // namespace

const std::vector<std::string>& SupportedLanguages() {
    static const std::vector<std::string> kNames = [] {
        std::vector<std::string> names;
        for (const Language& language : kLanguages) names.emplace_back(language.name);
        return names;
    }();
    return kNames;
}

std::string LanguageEngine(const std::string& name) {
    for (const Language& language : kLanguages)
        if (Lower(name) == Lower(language.name)) return language.engine;
    return "";
}

}  // namespace script
