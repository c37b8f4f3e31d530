// Leaving root once the port is bound: the pages run as an unprivileged
// account, so a fault in a page cannot reach what only root may touch.
#pragma once

#include <string>

// Asks the kernel never to grant this thread, and the threads it starts
// from now on, privileges through a program it runs (no_new_privs): called
// before the server's workers start, so that every thread has it.
void ForbidNewPrivileges();

// Makes every thread of the process run as `user` (its uid, its primary
// group, no supplementary groups) when the process runs as root. A process that is not root stays
// as it is when `user` is its own account or `required` is false. False with
// a message when the switch fails or is asked of a process that cannot make it.
bool RunAsUser(const std::string& user, bool required, std::string* error);
