#include "core/step_failure.h"

#include <stdexcept>
#include <string>

namespace tavro {

void failStep(std::string_view step, std::string_view reason) {
    std::string what(step);
    what += " failed: ";
    what += reason;
    throw std::runtime_error(what);
}

}  // namespace tavro
