// winprobe: reads another program's windows the way a person sees them, for the end-to-end tests
// and the headless demo (never shipped). Runs under Wine in the same prefix and display as the
// program it watches and answers one command per line on stdin:
//   controls TITLE   one line per child of the top-level window titled TITLE:
//                    "C<TAB>class<TAB>id<TAB>x,y,w,h<TAB>enabled<TAB>bar<TAB>text"
//                    (client coordinates; bar is the progress control's value or "-")
//   frame TITLE      "F<TAB>outer width<TAB>outer height<TAB>style<TAB>client x,y" of that
//                    window (the client area's origin relative to the outer top left)
//   boxes            "B<TAB>caption<TAB>text" per message box on the desktop
//   ok CAPTION       presses OK on the message box with that caption
//   yes CAPTION      presses Yes on the message box with that caption
//   close TITLE      asks the top-level window titled TITLE to close (WM_CLOSE)
//   quit
// Every answer ends with a line "." ("none" before it when the window is missing). Texts escape
// backslash, tab, CR and LF as \\, \t, \r, \n so one control is one line.
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr UINT kTextTimeoutMs = 2000;
constexpr char kProgressClass[] = "TavroProgress";
constexpr int kBoxTextId = 0xFFFF;

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default: out += c;
        }
    }
    return out;
}

// WM_GETTEXT reaches controls of another process, where GetWindowText returns nothing.
std::string textOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs,
                             &length)) {
        return {};
    }
    std::vector<char> buffer(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kTextTimeoutMs, &copied)) {
        return {};
    }
    return std::string(buffer.data(), copied);
}

std::string classOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

void printControl(HWND parent, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    const std::string className = classOf(child);
    const std::string bar = className == kProgressClass
                                ? std::to_string(static_cast<int>(GetWindowLongPtrA(child, GWLP_USERDATA)))
                                : std::string("-");
    std::printf("C\t%s\t%d\t%ld,%ld,%ld,%ld\t%d\t%s\t%s\n", className.c_str(),
                GetDlgCtrlID(child), rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top, IsWindowEnabled(child) ? 1 : 0, bar.c_str(),
                escaped(textOf(child)).c_str());
}

// The top-level window titled title that is not a message box (a box may carry the same caption).
HWND programWindow(const std::string& title) {
    for (HWND window = FindWindowExA(nullptr, nullptr, nullptr, title.c_str()); window != nullptr;
         window = FindWindowExA(nullptr, window, nullptr, title.c_str())) {
        if (classOf(window) != "#32770") {
            return window;
        }
    }
    return nullptr;
}

void controls(const std::string& title) {
    const HWND window = programWindow(title);
    if (window == nullptr) {
        std::puts("none");
        return;
    }
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        printControl(window, child);
    }
}

void frame(const std::string& title) {
    const HWND window = programWindow(title);
    if (window == nullptr) {
        std::puts("none");
        return;
    }
    RECT rect{};
    GetWindowRect(window, &rect);
    POINT client{0, 0};
    ClientToScreen(window, &client);
    std::printf("F\t%ld\t%ld\t0x%08lX\t%ld,%ld\n", rect.right - rect.left, rect.bottom - rect.top,
                static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)),
                client.x - rect.left, client.y - rect.top);
}

std::vector<HWND> messageBoxes() {
    std::vector<HWND> boxes;
    for (HWND box = FindWindowExA(nullptr, nullptr, "#32770", nullptr); box != nullptr;
         box = FindWindowExA(nullptr, box, "#32770", nullptr)) {
        if (IsWindowVisible(box)) {
            boxes.push_back(box);
        }
    }
    return boxes;
}

void boxes() {
    for (HWND box : messageBoxes()) {
        std::printf("B\t%s\t%s\n", escaped(textOf(box)).c_str(),
                    escaped(textOf(GetDlgItem(box, kBoxTextId))).c_str());
    }
}

// A posted BM_CLICK closes the box as a click would; a WM_COMMAND to the box itself does not.
void pressButton(const std::string& caption, int button) {
    for (HWND box : messageBoxes()) {
        if (textOf(box) == caption) {
            PostMessageA(GetDlgItem(box, button), BM_CLICK, 0, 0);
            std::puts("done");
            return;
        }
    }
    std::puts("none");
}

void close(const std::string& title) {
    const HWND window = programWindow(title);
    std::puts(window != nullptr && PostMessageA(window, WM_CLOSE, 0, 0) ? "done" : "none");
}

// Splits "verb rest of line".
std::pair<std::string, std::string> command(const std::string& line) {
    const auto space = line.find(' ');
    if (space == std::string::npos) {
        return {line, {}};
    }
    return {line.substr(0, space), line.substr(space + 1)};
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto [verb, argument] = command(line);
        if (verb == "quit") {
            break;
        }
        if (verb == "controls") {
            controls(argument);
        } else if (verb == "frame") {
            frame(argument);
        } else if (verb == "boxes") {
            boxes();
        } else if (verb == "close") {
            close(argument);
        } else if (verb == "ok") {
            pressButton(argument, IDOK);
        } else if (verb == "yes") {
            pressButton(argument, IDYES);
        } else {
            std::printf("error unknown command: %s\n", verb.c_str());
        }
        std::puts(".");
        std::fflush(stdout);
    }
    return 0;
}
