// The languages script pages may be written in, by the names pages give
// them (<%@ Language="JScript" %>, <script language="JavaScript">).
#pragma once

#include <string>
#include <vector>

namespace script {

// Every name a page may give a language, as shown in error texts.
const std::vector<std::string>& SupportedLanguages();

// The engine that runs the language a page names (without regard to case:
// "javascript" is run by "JScript"); "" when no engine runs it.
std::string LanguageEngine(const std::string& name);

// The language of pages that name none.
inline const char* kDefaultPageLanguage = "JScript";

}  // namespace script
