// The ASPError object Server.GetLastError gives: the last failure of the
// request, as a site's error page reads it (all members read only).
#pragma once

#include <string>

#include "platform/OleAuto.h"

struct AspErrorInfo {
    std::string aspCode;   // the server's own code of the failure, "" for a script's error
    long number = 0;       // the error's number (an HRESULT); 0: no error
    std::string source;    // the text of the line that failed, when known
    std::string category;  // what raised it: the page language, or the page host
    std::string file;      // the page or include, as "/dir/page.asp"
    long line = 0;
    long column = -1;  // -1: not known
    std::string description;
    std::string aspDescription;  // the server's longer text, "" for a script's error
};

IDispatch* CreateAspErrorObject(AspErrorInfo info);
