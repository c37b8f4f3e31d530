// The Request object of one request: its query string, form, cookies,
// server variables and body.
#pragma once

#include <functional>

#include "core/BodyReader.h"
#include "core/Page.h"
#include "platform/Asp.h"

// The Request object of `request` (which it refers to, and which outlives
// it). Reads the body through `body` (null: the request has none):
// TotalBytes is the Content-Length, BinaryRead returns up to the asked
// number of bytes and fails once the body reader has stopped; Form reads a
// URL-encoded body whole. A page reads the body one way only.
IRequest* CreateRequestObject(const PageRequest& request, BodyReader* body);
// Gives a Request object made by CreateRequestObject the code page its
// query string and form are decoded from, asked when the page first reads
// either (null: UTF-8, as browsers send from UTF-8 pages); false for any
// other object.
bool SetRequestCodePage(IRequest* request, std::function<UINT()> codePage);
