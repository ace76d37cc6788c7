#pragma once

#include <span>

#include "core/records.h"

namespace tavro {

// The keys that may sign releases, fixed when the program is linked (TAVRO_RELEASE_KEYS). Empty:
// the program takes releases unsigned, as the server names them.
std::span<const ReleaseKey> builtInReleaseKeys();

}  // namespace tavro
