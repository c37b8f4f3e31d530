// The object context the host hands to the component: its "Request" and
// "Server" properties, and a page's other objects by name.
#pragma once

#include <string>

#include "platform/Asp.h"

// The object context of one request, holding its Request and Server.
IObjectContext* CreateObjectContext(IRequest* request, IServer* server);
// Puts another of a page's objects (Response, Application, Session) into a
// context made by CreateObjectContext, under `name`; false for any other
// context.
bool AddContextObject(IObjectContext* context, const std::u16string& name, IDispatch* object);
