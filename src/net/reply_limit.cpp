#include "net/reply_limit.h"

namespace tavro {

std::string replyTooLargeText(std::uint64_t limit) {
    return "Reply body larger than " + std::to_string(limit) + " bytes";
}

}  // namespace tavro
