#pragma once

#include <windows.h>

#include <string>

namespace tavro {

// Whether the process's token is a member of the built-in Administrators group (enabled, so an
// unelevated token of an administrator does not count).
bool isProcessAdministrator();

// Starts this program again through the shell's "runas" verb with parameters (none for
// installer mode): the user is asked to elevate it. False when it could not be started (also
// when the user declined).
bool startElevatedCopy(const std::wstring& parameters);

// What became of an elevated copy that was waited for.
struct ElevatedRun {
    bool started = false;
    DWORD exitCode = 0;  // the copy's, when it started
    DWORD error = 0;     // why it did not start (ERROR_CANCELLED: the user declined)
};

// Starts this program again elevated, as startElevatedCopy does, and waits for it to end: a
// script that started an unattended install unelevated learns its outcome.
ElevatedRun runElevatedCopy(const std::wstring& parameters);

// Asks the system not to follow, in this process, links that non-administrators made
// (redirection trust, Windows 11 22H2 and later). false where the system does not offer it; the
// program's own link checks hold either way.
bool enforceRedirectionTrust();

}  // namespace tavro
