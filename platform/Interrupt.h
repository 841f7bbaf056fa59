#pragma once
// Requests from outside to end the program: SIGINT, SIGTERM and SIGHUP on POSIX; Ctrl+C,
// Ctrl+Break, closing the console window, logging off and shutting down on Windows. The handler
// only notes the request; the update run looks at it between its steps and ends itself, so that
// it can say that it was interrupted and leave what it did resumable. A second request of the
// same kind ends the program at once, as it would have without the handler.

#include <string>

// Installs the handlers; called once by the program's entry.
void InstallInterruptHandlers();
// True once a request came.
bool InterruptRequested();
// What came, for the journal ("SIGTERM", "Ctrl+C"); empty before a request.
std::string InterruptName();
// The run has ended after a request: on Windows, closing the console waits for this (a few
// seconds at most) before the system ends the process.
void AcknowledgeInterrupt();
