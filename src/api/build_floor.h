#pragma once

#include <optional>
#include <string>

namespace tavro {

// The rollback floor: the highest build an elevated install of this machine accepted, kept under
// HKLM\SOFTWARE\Tavro (BuildFloor) where only administrators can write. Never lowered by the
// program and kept by the uninstall; an administrator who means to go back deletes the value.
//
// Nothing when there is no floor yet; otherwise its text, which the release check refuses unless
// it is a decimal number. A value that exists but cannot be read as text comes back as a text
// that is no number, so the check fails closed.
std::optional<std::string> rollbackFloor();

// Raises the floor to build when build is a decimal number above it (or there is none yet); a
// floor that is not a number is left for an administrator to look at. False with the reason in
// error when the floor could not be written.
bool raiseRollbackFloor(const std::string& build, std::string& error);

}  // namespace tavro
