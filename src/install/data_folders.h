#pragma once

#include <string>

namespace tavro {

// Creates the product's empty data folders under the install root ("Protocol",
// "RecordedFiles", "Stimulation", "database", "USB Driver") and the download folder. false with
// the filesystem error's text in error when one cannot be created, or the refusal's when a
// link or junction is on the way (see refuseLinks); folders made so far stay.
bool createDataFolders(std::string& error);

}  // namespace tavro
