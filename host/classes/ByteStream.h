// ADODB.Stream: bytes, or text in a character set, that a page writes,
// reads, loads from a file and saves to one (upload pages write a
// request's bytes through it). The bytes live in memory while the stream
// is small and in an unnamed temporary file past that (StreamBytes).
#pragma once

#include "platform/Com.h"

namespace classes {

// A new, closed stream with one reference for the caller; null when out of memory.
IDispatch* CreateByteStream();

}  // namespace classes
