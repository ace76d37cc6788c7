#pragma once

#include <string>

namespace tavro {

// Whether the process's token is a member of the built-in Administrators group (enabled, so an
// unelevated token of an administrator does not count).
bool isProcessAdministrator();

// Starts this program again through the shell's "runas" verb with parameters (none for
// installer mode): the user is asked to elevate it. False when it could not be started (also
// when the user declined).
bool startElevatedCopy(const std::wstring& parameters);

}  // namespace tavro
