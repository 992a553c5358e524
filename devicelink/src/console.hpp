#pragma once

// Whether the library speaks on the console: its diagnostics on standard error and, for new sessions,
// information on standard output. On unless a program that owns its console turns it off.
namespace torvik::devicelink {

bool ConsoleOn();
void SetConsoleOn(bool on);
/// printf to standard error while the console is on; nothing otherwise.
void Diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace torvik::devicelink
