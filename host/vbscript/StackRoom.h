// How much of the calling thread's stack is left. The server's worker
// threads have small stacks (about 100 KB), so recursion in a page (a
// procedure calling itself, an expression nested deep) is stopped with the
// language's error while there is room, never by the stack's end.
#pragma once

#include <cstddef>

namespace vbs {

// Whether less than `bytes` of the thread's stack is left below the caller.
bool StackNearlyFull(size_t bytes = 24 * 1024);

}  // namespace vbs
