#pragma once

#include <string_view>

namespace tavro {

// Ends a step of the engine: throws std::runtime_error("<step> failed: <reason>").
[[noreturn]] void failStep(std::string_view step, std::string_view reason);

}  // namespace tavro
