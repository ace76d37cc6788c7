#include "ui/dialog_keys.h"

#include <vector>

#include "core/app_state.h"

namespace tavro {

namespace {

enum class ControlKind { other, singleLineEdit, multiLineEdit, pushButton, otherButton };

ControlKind kindOf(HWND control) {
    char className[16] = {};
    GetClassNameA(control, className, sizeof(className));
    const auto style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, className, -1, "Edit", -1) ==
        CSTR_EQUAL) {
        return (style & ES_MULTILINE) != 0 ? ControlKind::multiLineEdit
                                           : ControlKind::singleLineEdit;
    }
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, className, -1, "Button", -1) ==
        CSTR_EQUAL) {
        const DWORD type = style & BS_TYPEMASK;
        return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON ? ControlKind::pushButton
                                                                 : ControlKind::otherButton;
    }
    return ControlKind::other;
}

bool takesFocus(HWND control) {
    return kindOf(control) != ControlKind::other && IsWindowVisible(control) &&
           IsWindowEnabled(control);
}

// The window's children in creation order (a child is created below its earlier siblings).
std::vector<HWND> childrenOf(HWND window) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

void moveFocus(HWND window, bool backwards) {
    std::vector<HWND> stops;
    for (HWND child : childrenOf(window)) {
        if (takesFocus(child)) {
            stops.push_back(child);
        }
    }
    if (stops.empty()) {
        return;
    }
    const HWND focus = GetFocus();
    std::size_t next = backwards ? stops.size() - 1 : 0;
    for (std::size_t i = 0; i < stops.size(); ++i) {
        if (stops[i] == focus) {
            next = backwards ? (i + stops.size() - 1) % stops.size() : (i + 1) % stops.size();
            break;
        }
    }
    // Keyboard use from now on: the controls show where the focus is.
    SendMessageA(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    SetFocus(stops[next]);
    if (kindOf(stops[next]) == ControlKind::singleLineEdit) {
        SendMessageA(stops[next], EM_SETSEL, 0, -1);  // as a dialog does: typing replaces it
    }
}

void pressButton(HWND window, HWND button) {
    if (button != nullptr && IsWindowEnabled(button)) {
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
}

// The push button an edit's Enter presses: the first one created after the edit.
HWND buttonAfter(HWND window, HWND edit) {
    bool past = false;
    for (HWND child : childrenOf(window)) {
        if (past && kindOf(child) == ControlKind::pushButton) {
            return child;
        }
        past = past || child == edit;
    }
    return nullptr;
}

// Enter: true when it belongs to the window (a single-line edit has no use for it either way).
bool onEnter(HWND window, HWND focus) {
    switch (kindOf(focus)) {
        case ControlKind::singleLineEdit:
            pressButton(window, buttonAfter(window, focus));
            return true;
        case ControlKind::pushButton:
            pressButton(window, focus);
            return true;
        default:
            return false;
    }
}

bool held(int key) {
    return GetKeyState(key) < 0;
}

}  // namespace

bool handleDialogKey(const MSG& message) {
    // WM_SYSKEYDOWN without Alt: a key while no control has the focus.
    const bool altHeld = (message.lParam & (1L << 29)) != 0;
    if (!(message.message == WM_KEYDOWN || (message.message == WM_SYSKEYDOWN && !altHeld))) {
        return false;
    }
    const HWND window = appState.mainWindow;
    if (window == nullptr || message.hwnd == nullptr ||
        (message.hwnd != window && GetAncestor(message.hwnd, GA_ROOT) != window)) {
        return false;
    }
    const HWND focus = GetParent(message.hwnd) == window ? message.hwnd : nullptr;
    switch (message.wParam) {
        case VK_TAB:
            if (held(VK_CONTROL) || altHeld) {
                return false;
            }
            moveFocus(window, held(VK_SHIFT));
            return true;
        case VK_RETURN:
            return focus != nullptr && onEnter(window, focus);
        case 'A':
            if (focus != nullptr && held(VK_CONTROL) && !held(VK_SHIFT) &&
                (kindOf(focus) == ControlKind::singleLineEdit ||
                 kindOf(focus) == ControlKind::multiLineEdit)) {
                SendMessageA(focus, EM_SETSEL, 0, -1);
                return true;
            }
            return false;
        default:
            return false;
    }
}

bool keepFocusOverActivation(HWND window, WPARAM activation, HWND& lastFocus) {
    if (LOWORD(activation) == WA_INACTIVE) {
        // Nothing to give back when no control had the focus (a disabled button lost it): the
        // window itself gets it then, as it always did.
        const HWND focus = GetFocus();
        lastFocus = focus != nullptr && IsChild(window, focus) ? focus : nullptr;
        return false;
    }
    if (HIWORD(activation) != 0 || lastFocus == nullptr || !IsWindow(lastFocus) ||
        !takesFocus(lastFocus)) {
        return false;  // minimized, or nothing to give back
    }
    SetFocus(lastFocus);
    return true;
}

}  // namespace tavro
