// Stand-in for powershell.exe in the test prefix (Wine's own is an empty stub that exits 0).
// It understands exactly one kind of command, the archive expansion the installer sends:
//   powershell.exe -NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -WindowStyle Hidden
//     -Command "$ProgressPreference='SilentlyContinue'; Expand-Archive -LiteralPath '<zip>'
//     -DestinationPath '<folder>' -Force"
// Literals follow PowerShell's rules: any of the five single quotes (' U+2018 U+2019 U+201A
// U+201B) ends a literal unless it is doubled. Exit code 0 on success, 1 otherwise. When
// TAVRO_STANDIN_DIR is set, the command line received is recorded there as
// powershell.<pid>.cmdline (UTF-8).

#include <windows.h>
#include <shellapi.h>

#include <cwctype>
#include <string>
#include <vector>

#include "standin_common.h"
#include "zip_extract.h"

namespace {

bool isSingleQuote(wchar_t c) {
    return c == L'\'' || c == 0x2018 || c == 0x2019 || c == 0x201A || c == 0x201B;
}

bool equalsNoCase(const std::wstring& a, const wchar_t* b) {
    return lstrcmpiW(a.c_str(), b) == 0;
}

// A tokenizer for the one statement list this stand-in accepts.
class Script {
  public:
    explicit Script(std::wstring text) : text_(std::move(text)) {}

    void skipBlanks() {
        while (pos_ < text_.size() && std::iswspace(text_[pos_])) {
            ++pos_;
        }
    }
    bool atEnd() {
        skipBlanks();
        return pos_ >= text_.size();
    }
    bool take(wchar_t c) {
        skipBlanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    // A bare word: letters, digits, '-', '$' and '_'.
    std::wstring word() {
        skipBlanks();
        const size_t start = pos_;
        while (pos_ < text_.size() && (std::iswalnum(text_[pos_]) || text_[pos_] == L'-' ||
                                       text_[pos_] == L'$' || text_[pos_] == L'_')) {
            ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }
    // A single-quoted literal; false when there is none or it is not closed.
    bool literal(std::wstring& value) {
        skipBlanks();
        if (pos_ >= text_.size() || !isSingleQuote(text_[pos_])) {
            return false;
        }
        ++pos_;
        value.clear();
        while (pos_ < text_.size()) {
            const wchar_t c = text_[pos_++];
            if (isSingleQuote(c)) {
                if (pos_ < text_.size() && isSingleQuote(text_[pos_])) {
                    value += text_[pos_++];  // a doubled quote stands for the second one
                    continue;
                }
                return true;
            }
            value += c;
        }
        return false;
    }
    std::wstring rest() const { return text_.substr(pos_); }

  private:
    std::wstring text_;
    size_t pos_ = 0;
};

int fail(const std::string& message) {
    standin::writeError("powershell stand-in: " + message);
    return 1;
}

int runScript(const std::wstring& text) {
    Script script(text);
    bool expanded = false;
    while (!script.atEnd()) {
        const std::wstring command = script.word();
        if (equalsNoCase(command, L"$ProgressPreference")) {
            std::wstring value;
            if (!script.take(L'=') || !script.literal(value)) {
                return fail("expected $ProgressPreference='...'");
            }
        } else if (equalsNoCase(command, L"Expand-Archive")) {
            std::wstring archive;
            std::wstring destination;
            bool force = false;
            bool haveArchive = false;
            bool haveDestination = false;
            for (;;) {
                script.skipBlanks();
                if (script.atEnd() || script.take(L';')) {
                    break;
                }
                const std::wstring parameter = script.word();
                if (equalsNoCase(parameter, L"-LiteralPath")) {
                    haveArchive = script.literal(archive);
                    if (!haveArchive) {
                        return fail("-LiteralPath needs a single-quoted literal");
                    }
                } else if (equalsNoCase(parameter, L"-DestinationPath")) {
                    haveDestination = script.literal(destination);
                    if (!haveDestination) {
                        return fail("-DestinationPath needs a single-quoted literal");
                    }
                } else if (equalsNoCase(parameter, L"-Force")) {
                    force = true;
                } else {
                    return fail("unexpected text in Expand-Archive: " +
                                standin::utf8(parameter + script.rest()));
                }
            }
            if (!haveArchive || !haveDestination) {
                return fail("Expand-Archive needs -LiteralPath and -DestinationPath");
            }
            const size_t dot = archive.find_last_of(L'.');
            if (dot == std::wstring::npos || !equalsNoCase(archive.substr(dot), L".zip")) {
                return fail(standin::utf8(archive) + " is not a .zip file");
            }
            const std::string problem = standin::extractZip(archive, destination, force);
            if (!problem.empty()) {
                return fail("Expand-Archive: " + problem);
            }
            expanded = true;
            continue;
        } else {
            return fail("unsupported command: " + standin::utf8(command + script.rest()));
        }
        if (!script.atEnd() && !script.take(L';')) {
            return fail("unexpected text: " + standin::utf8(script.rest()));
        }
    }
    return expanded ? 0 : fail("no Expand-Archive command");
}

}  // namespace

int main() {
    const std::wstring commandLine = GetCommandLineW();
    const std::wstring folder = standin::recordFolder();
    if (!folder.empty()) {
        standin::writeRecord(
            folder + L"\\powershell." + std::to_wstring(GetCurrentProcessId()) + L".cmdline",
            standin::utf8(commandLine));
    }

    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine.c_str(), &count);
    if (argv == nullptr) {
        return fail("cannot parse the command line");
    }
    std::vector<std::wstring> args(argv + 1, argv + count);
    LocalFree(argv);

    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& option = args[i];
        if (equalsNoCase(option, L"-NoLogo") || equalsNoCase(option, L"-NoProfile") ||
            equalsNoCase(option, L"-NonInteractive")) {
            continue;
        }
        if (equalsNoCase(option, L"-ExecutionPolicy") || equalsNoCase(option, L"-WindowStyle")) {
            if (++i >= args.size()) {
                return fail("missing value after " + standin::utf8(option));
            }
            continue;
        }
        if (equalsNoCase(option, L"-Command")) {
            // PowerShell takes everything after -Command as the script.
            std::wstring script;
            for (size_t j = i + 1; j < args.size(); ++j) {
                script += (j > i + 1 ? L" " : L"") + args[j];
            }
            return runScript(script);
        }
        return fail("unsupported option " + standin::utf8(option));
    }
    return fail("no -Command given");
}
