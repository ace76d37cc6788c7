#include "install/archive_expansion.h"

#include "core/text_convert.h"
#include "install/hidden_command.h"
#include "install/powershell_literal.h"

namespace tavro {

std::string powerShellQuote(const std::filesystem::path& path) {
    // Quoted as UTF-16, so the typographic quotes are recognised whatever bytes the code page
    // gives them.
    return toAnsi(powerShellLiteral(path.native()));
}

bool expandArchive(const std::filesystem::path& archive, const std::filesystem::path& destination,
                   std::string& error) {
    std::filesystem::create_directories(destination);
    const std::string command =
        systemProgram(L"WindowsPowerShell\\v1.0\\powershell.exe") +
        " -NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -WindowStyle "
        "Hidden -Command \"$ProgressPreference='SilentlyContinue'; Expand-Archive -LiteralPath " +
        powerShellQuote(archive) + " -DestinationPath " + powerShellQuote(destination) +
        " -Force\"";
    if (runHiddenCommand(command) == 0) {
        return true;
    }
    error = "Expand-Archive failed for " + pathToAnsi(archive);
    return false;
}

bool isExpansionFailure(const std::string& error) {
    return error.rfind("Expand-Archive failed for ", 0) == 0;
}

}  // namespace tavro
