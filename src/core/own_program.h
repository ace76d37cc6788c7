#pragma once

#include <string>

namespace tavro {

// The running program's own path, whole: a path cut at a buffer's end would name another file.
// Empty when it cannot be read.
std::wstring ownProgramPath();

}  // namespace tavro
