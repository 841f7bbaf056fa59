#pragma once
// Requests from outside to end the program: SIGINT, SIGTERM and SIGHUP on POSIX; Ctrl+C,
// Ctrl+Break, closing the console window, logging off and shutting down on Windows. The handler
// only notes the request; the update run looks at it between its steps and ends itself, so that
// it can say that it was interrupted and leave what it did resumable. A second request of the
// same kind ends the program at once, as it would have without the handler.

#include <functional>
#include <string>

// Installs the handlers; called once by the program's entry.
void InstallInterruptHandlers();
// What a second request does before it ends the program: `note` gets the request's name and the
// status the program's parent will see (128 + the signal's number; on Windows
// STATUS_CONTROL_C_EXIT), and writes the reason line. Set before InstallInterruptHandlers.
void SetSecondInterruptNote(std::function<void(const std::string& name, int status)> note);
// True once a request came.
bool InterruptRequested();
// What came, for the journal ("SIGTERM", "Ctrl+C"); empty before a request.
std::string InterruptName();
// The run has ended after a request: on Windows, closing the console waits for this (a few
// seconds at most) before the system ends the process.
void AcknowledgeInterrupt();
// Notes a request as the handler would (for tests), or forgets one (`name` empty).
void SetInterruptForTest(const std::string& name);
