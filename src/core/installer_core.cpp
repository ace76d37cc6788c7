#include "core/installer_core.h"

namespace tavro {

constinit InstallerCore installerCore;

}  // namespace tavro
