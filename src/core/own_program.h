#pragma once

#include <string>

namespace tavro {

// The running program's own path, whole: a path cut at a buffer's end would name another file.
// Empty when it cannot be read.
std::wstring ownProgramPath();

// The running program's own file, opened by the first call (start-up makes it) for reading and
// shared for reading only: from then on nobody can write, rename or delete the file while this
// process runs, so what is read through it is the program that started. Kept open until the
// process ends; a null handle when it could not be opened. Its file position is the caller's
// to set.
void* ownProgramFile();

}  // namespace tavro
