#pragma once

#include <filesystem>
#include <string>

namespace tavro {

// The security descriptor of a protected folder in SDDL: full access for the system and the
// administrators, nothing inherited from the parent, nothing for anyone else.
inline constexpr wchar_t kProtectedFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// A folder that only administrators and the system may change, made fresh for one install
// below the machine's program data folder ("TavroInstall.<16 hex digits>") and removed with
// everything in it when the object goes. The elevated install does there what outside programs
// do by path (the archive's expansion, the USB driver tool's start): no other user can plant a
// link or a program in it, so its paths may be used as they are. The folder is made by one
// CreateDirectoryW that fails when the name exists, so a folder another user prepared is never
// taken for it.
class ProtectedFolder {
  public:
    // Throws std::filesystem::filesystem_error when no such folder can be made.
    ProtectedFolder();
    ~ProtectedFolder();
    ProtectedFolder(const ProtectedFolder&) = delete;
    ProtectedFolder& operator=(const ProtectedFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Removes the protected folders that runs killed before they could remove their own left in the
// machine's program data folder ("TavroInstall.<16 hex digits>"), without following a link.
// Call it only while no other installer runs (holding the instance lock). Never throws.
void removeLeftoverProtectedFolders();

// The descriptor a protected folder is made with, built from kProtectedFolderSddl and written
// back as SDDL (its DACL): what the platform was given.
std::wstring protectedDescriptorText();

// The DACL of folder in SDDL ("D:P(...)"), read back from the file system; empty when it cannot
// be read.
std::wstring folderDaclText(const std::filesystem::path& folder);

}  // namespace tavro
