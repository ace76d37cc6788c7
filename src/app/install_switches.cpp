#include "app/install_switches.h"

#include <algorithm>
#include <array>
#include <utility>

#include "ui/email_rule.h"

namespace tavro {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The program path: up to the first blank outside quotes; quotes only group.
std::size_t splitProgramPath(std::string_view line, std::vector<std::string>& arguments) {
    std::string path;
    bool quoted = false;
    std::size_t i = 0;
    for (; i < line.size() && (quoted || !isBlank(line[i])); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else {
            path += line[i];
        }
    }
    arguments.push_back(std::move(path));
    return i;
}

// Backslashes at i: what they stand for, and where the reading goes on.
std::size_t readBackslashes(std::string_view line, std::size_t i, std::string& argument,
                            bool& quoted) {
    std::size_t count = 0;
    while (i < line.size() && line[i] == '\\') {
        ++count;
        ++i;
    }
    if (i < line.size() && line[i] == '"') {
        argument.append(count / 2, '\\');
        if (count % 2 == 1) {
            argument += '"';
        } else {
            quoted = !quoted;
        }
        return i + 1;
    }
    argument.append(count, '\\');
    return i;
}

}  // namespace

std::vector<std::string> splitCommandLine(std::string_view line) {
    std::vector<std::string> arguments;
    std::size_t i = splitProgramPath(line, arguments);
    while (true) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            return arguments;
        }
        std::string argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !isBlank(line[i]))) {
            if (line[i] == '\\') {
                i = readBackslashes(line, i, argument, quoted);
            } else if (line[i] == '"') {
                quoted = !quoted;
                ++i;
            } else {
                argument += line[i++];
            }
        }
        arguments.push_back(std::move(argument));
    }
}

std::string quoteArgument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos) {
        return std::string(argument);
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');  // before the closing quote
    quoted += '"';
    return quoted;
}

namespace {

enum class Switch { none, quiet, passive, email, usbDriver };

Switch switchOf(std::string_view argument) {
    struct Known {
        std::string_view dashes;
        std::string_view slash;
        Switch value;
    };
    constexpr std::array<Known, 4> known{{{"--quiet", "/quiet", Switch::quiet},
                                          {"--passive", "/passive", Switch::passive},
                                          {"--email", "/email", Switch::email},
                                          {"--usb-driver", "/usb-driver", Switch::usbDriver}}};
    for (const Known& k : known) {
        if (argument == k.dashes || argument == k.slash) {
            return k.value;
        }
    }
    return Switch::none;
}

void setUnattended(InstallSwitches& switches, Unattended mode, const std::string& argument) {
    if (switches.unattended != Unattended::no && switches.unattended != mode) {
        switches.refusal = "\"" + argument +
                           "\" cannot be combined with the other of --quiet "
                           "and --passive";
        return;
    }
    switches.unattended = mode;
}

// Reads the arguments after the program path; stops at the first refusal.
void readSwitches(const std::vector<std::string>& arguments, InstallSwitches& switches) {
    bool emailGiven = false;
    for (std::size_t i = 1; i < arguments.size() && switches.refusal.empty(); ++i) {
        const std::string& argument = arguments[i];
        switch (switchOf(argument)) {
            case Switch::quiet:
                setUnattended(switches, Unattended::quiet, argument);
                break;
            case Switch::passive:
                setUnattended(switches, Unattended::passive, argument);
                break;
            case Switch::usbDriver:
                switches.usbDriver = true;
                break;
            case Switch::email:
                if (i + 1 >= arguments.size()) {
                    switches.refusal = "\"" + argument + "\" needs an address after it";
                    break;
                }
                switches.email = arguments[++i];
                emailGiven = true;
                break;
            case Switch::none:
                switches.refusal = "unknown switch \"" + argument + "\"";
                break;
        }
    }
    if (!switches.refusal.empty()) {
        return;
    }
    if (switches.unattended == Unattended::no) {
        switches.refusal = "--email and --usb-driver need --quiet or --passive";
    } else if (!emailGiven) {
        switches.refusal = "no address: --email ADDRESS is needed";
    } else if (!downloadAllowed(switches.email, true, false)) {
        // The address itself stays out of the log.
        switches.refusal =
            "the address after --email is not an e-mail address (the window's rule: "
            "an at sign and a full stop)";
    }
}

}  // namespace

InstallSwitches installSwitchesOf(std::string_view commandLine) {
    InstallSwitches switches;
    const std::vector<std::string> arguments = splitCommandLine(commandLine);
    const bool deployment =
        std::any_of(arguments.begin() + 1, arguments.end(),
                    [](const std::string& argument) { return switchOf(argument) != Switch::none; });
    if (deployment) {
        readSwitches(arguments, switches);
    }
    return switches;
}

std::string elevatedParametersOf(const InstallSwitches& switches) {
    std::string parameters = switches.unattended == Unattended::passive ? "--passive" : "--quiet";
    parameters += " --email ";
    parameters += quoteArgument(switches.email);
    if (switches.usbDriver) {
        parameters += " --usb-driver";
    }
    return parameters;
}

}  // namespace tavro
