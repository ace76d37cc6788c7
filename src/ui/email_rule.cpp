#include "ui/email_rule.h"

namespace tavro {

bool downloadAllowed(std::string_view email, bool serverChosen, bool taskRunning) {
    return !taskRunning && !email.empty() && email.find('@') != std::string_view::npos &&
           email.find('.') != std::string_view::npos && serverChosen;
}

}  // namespace tavro
