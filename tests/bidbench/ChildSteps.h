// Steps that a test runs in a child process of its own, for behaviour that
// must survive the end of the program (the browser profile's cookies).
#pragma once

#include <QByteArray>

// Runs the named step with the settings folder given in
// BIDBENCH_TEST_SETTINGS; returns the process's exit status.
int RunChildStep(const QByteArray& step);
