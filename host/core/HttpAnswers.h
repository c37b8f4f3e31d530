// The answers the server writes itself: the headers every answer carries
// and the sending of a page's body. Internal to the server core.
#pragma once

#include "core/Page.h"

struct mg_connection;

// Every answer forbids guessing a type other than the one sent; pages and
// the site's files load scripts, styles and pictures from the site only.
inline constexpr char kNoSniff[] = "X-Content-Type-Options: nosniff";
inline constexpr char kSecurityPolicy[] =
    "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

// Sends a response's body and then its parts. Parts smaller than a write are
// gathered first: a report of 10,000 items goes out in writes of 256 KB,
// not one per item, and is never copied whole into one text.
void SendBody(mg_connection* connection, const Response& response);
