// The stack script pages run on. The server's worker threads have small
// stacks (about 100 KB); a tree-walking interpreter recurses as a page nests
// and calls itself, and pages run one another (Server.Execute), so a page
// runs on a stack of its own, on its worker thread (whose thread-local
// state, the request's object context and impersonation, stay the page's);
// recursion beyond even that stack is stopped with the language's error
// while there is room.
#pragma once

#include <cstddef>
#include <functional>

namespace host {

// The stack a page runs on.
constexpr size_t kOwnStackBytes = size_t{4} << 20;

// Runs `work` on a stack of kOwnStackBytes, on the calling thread; an
// exception it throws is thrown again here. Nested calls run where they are.
void RunOnOwnStack(const std::function<void()>& work);

// Whether less than `bytes` of the current stack is left below the caller.
bool StackNearlyFull(size_t bytes = 24 * 1024);

}  // namespace host
