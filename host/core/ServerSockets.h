// The server's sockets, found among the process's descriptors: the library
// opens them and does not give them out. Internal to the server core.
#pragma once

#include "core/Page.h"

// Sets the deferral on the server's listening socket: the one listening on `port`.
void DeferAcceptUntilData(int port);

// Whether the client of `request` still holds its connection: its socket,
// found by its two ends, has not been hung up on.
bool ClientStillConnected(const PageRequest& request);
