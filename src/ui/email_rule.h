#pragma once

#include <string_view>

namespace tavro {

// Whether the Download button may be enabled: the e-mail text is not empty and holds an at sign
// and a full stop (in either order), a server has been chosen, and no download or install
// started from the window is still running (only one runs at a time).
bool downloadAllowed(std::string_view email, bool serverChosen, bool taskRunning);

}  // namespace tavro
