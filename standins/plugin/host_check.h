// The stand-in host's checks: each check counts, and a failed one prints a
// line "FAIL: ..." with the actual values. A run ends with a count line.
#pragma once

void check(bool ok, const char* format, ...) __attribute__((format(printf, 2, 3)));
// For what the host itself could not set up: prints the call and its
// GetLastError and ends the process with exit code 1.
[[noreturn]] void fatal(const char* what);
// Prints "<label>: N checks, N failed"; gives the exit code, 0 when all passed.
int report_checks(const char* label);
