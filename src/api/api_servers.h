#pragma once

#include <array>
#include <string_view>

namespace tavro {

// The six interchangeable API servers, fixed when the program is linked (TAVRO_API_SERVERS). The
// order only decides the order in which the probes start.
extern const std::array<std::string_view, 6> apiServers;

}  // namespace tavro
