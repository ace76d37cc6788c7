#include "ui/window_layout.h"

#include <string_view>

#include "core/product_version.h"
#include "ui/progress_bar.h"

namespace tavro {

namespace {

constexpr DWORD kLabel = WS_CHILD | WS_VISIBLE;
constexpr DWORD kBar = WS_CHILD | WS_VISIBLE;
constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | WS_DISABLED;
constexpr DWORD kEmailEdit = WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD kCheckBox = WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_CHECKBOX;
constexpr DWORD kLogEdit =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;

using C = WindowControls;
constexpr ControlFont kSmall = ControlFont::small;
constexpr ControlFont kLarge = ControlFont::large;
constexpr ControlFont kNoFont = ControlFont::none;

// clang-format off
constexpr ControlPlacement kInstallerLayout[] = {
    // class          text                                                   x    y    w    h   id
    {"STATIC",        "Please enter your email address to download Tavro ",   7,  15, 445,  24, kNoId,       kLabel,     0, kLarge,  nullptr},
    {"STATIC",        TAVRO_PRODUCT_VERSION,                                568,  20, 110,  18, kNoId,       kLabel,     0, kSmall,  nullptr},
    {"EDIT",          "",                                                     8,  44, 262,  22, kEmailId,    kEmailEdit, 0, kSmall,  &C::emailEdit},
    {"BUTTON",        "Download Latest Version",                              8,  77, 190,  42, kDownloadId, kButton,    0, kSmall,  &C::downloadButton},
    {"BUTTON",        "Pause",                                              214,  77, 190,  42, kPauseId,    kButton,    0, kSmall,  &C::pauseButton},
    {"STATIC",        "Status",                                             479,  75,  55,  18, kNoId,       kLabel,     0, kSmall,  nullptr},
    {"STATIC",        "",                                                   536,  75, 145,  18, kNoId,       kLabel,     0, kSmall,  &C::statusLabel},
    {"STATIC",        "Downloaded:",                                        480,  91,  87,  18, kNoId,       kLabel,     0, kSmall,  nullptr},
    {"STATIC",        "0 MB",                                               568,  91, 100,  18, kNoId,       kLabel,     0, kSmall,  &C::downloadedLabel},
    {"STATIC",        "Speed:",                                             481, 107,  51,  18, kNoId,       kLabel,     0, kSmall,  nullptr},
    {"STATIC",        "0 MB/s",                                             535, 107, 100,  18, kNoId,       kLabel,     0, kSmall,  &C::speedLabel},
    {kProgressBarClass, "",                                                   8, 134, 607,  28, kNoId,       kBar,       0, kNoFont, &C::downloadBar},
    {"STATIC",        "0%",                                                 623, 141,  70,  18, kNoId,       kLabel,     0, kSmall,  &C::downloadPercentLabel},
    {"BUTTON",        "Install",                                              8, 175, 190,  33, kInstallId,  kButton,    0, kSmall,  &C::installButton},
    {"BUTTON",        "",                                                   214, 183,  18,  17, kUsbId,      kCheckBox,  0, kSmall,  &C::usbCheckBox},
    {"STATIC",        "Install USB driver",                                 231, 183, 130,  18, kNoId,       kLabel,     0, kSmall,  nullptr},
    {kProgressBarClass, "",                                                   8, 222, 607,  28, kNoId,       kBar,       0, kNoFont, &C::installBar},
    {"STATIC",        "0%",                                                 623, 228,  70,  18, kNoId,       kLabel,     0, kSmall,  &C::installPercentLabel},
};

constexpr ControlPlacement kUpdaterLayout[] = {
    {"STATIC",        "Tavro Updater",                                       18,  16, 240,  28, kNoId,       kLabel,     0, kLarge,  nullptr},
    {"STATIC",        TAVRO_PRODUCT_VERSION,                                560,  22, 130,  18, kNoId,       kLabel,     0, kSmall,  nullptr},
    {"STATIC",        "Preparing...",                                        18,  53, 420,  20, kNoId,       kLabel,     0, kSmall,  &C::updaterStatusLabel},
    {kProgressBarClass, "",                                                  18,  82, 610,  26, kNoId,       kBar,       0, kNoFont, &C::updaterBar},
    {"STATIC",        "0%",                                                 640,  87,  55,  18, kNoId,       kLabel,     0, kSmall,  &C::updaterPercentLabel},
    {"STATIC",        "Update log",                                          18, 122, 120,  18, kNoId,       kLabel,     0, kSmall,  nullptr},
    {"EDIT",          "",                                                    18, 145, 668, 190, kNoId,       kLogEdit,   WS_EX_CLIENTEDGE, kSmall, &C::logEdit},
};

constexpr ControlPlacement kUninstallLayout[] = {
    {"STATIC",        "Tavro Uninstall",                                     18,  16, 240,  28, kNoId,       kLabel,     0, kLarge,  nullptr},
    {"STATIC",        TAVRO_PRODUCT_VERSION,                                560,  22, 130,  18, kNoId,       kLabel,     0, kSmall,  nullptr},
    {"STATIC",        "Preparing...",                                        18,  53, 420,  20, kNoId,       kLabel,     0, kSmall,  &C::updaterStatusLabel},
    {kProgressBarClass, "",                                                  18,  82, 610,  26, kNoId,       kBar,       0, kNoFont, &C::updaterBar},
    {"STATIC",        "0%",                                                 640,  87,  55,  18, kNoId,       kLabel,     0, kSmall,  &C::updaterPercentLabel},
    {"STATIC",        "Uninstall log",                                       18, 122, 120,  18, kNoId,       kLabel,     0, kSmall,  nullptr},
    {"EDIT",          "",                                                    18, 145, 668, 190, kNoId,       kLogEdit,   WS_EX_CLIENTEDGE, kSmall, &C::logEdit},
};
// clang-format on

HFONT fontFor(ControlFont font, const WindowResources& resources) {
    switch (font) {
        case ControlFont::small:
            return resources.smallFont.get();
        case ControlFont::large:
            return resources.largeFont.get();
        case ControlFont::none:
            break;
    }
    return nullptr;
}

HWND createControl(HWND parent, const ControlPlacement& placement,
                   const WindowResources& resources) {
    const HWND control = CreateWindowExA(
        placement.extendedStyle, placement.className, placement.text, placement.style, placement.x,
        placement.y, placement.width, placement.height, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(placement.id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)), nullptr);
    if (control == nullptr) {
        return nullptr;
    }
    if (const HFONT font = fontFor(placement.font, resources); font != nullptr) {
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    if (std::string_view(placement.className) == kProgressBarClass) {
        setProgressBar(control, 0);
    }
    return control;
}

}  // namespace

std::span<const ControlPlacement> installerLayout() {
    return kInstallerLayout;
}

std::span<const ControlPlacement> updaterLayout() {
    return kUpdaterLayout;
}

std::span<const ControlPlacement> uninstallLayout() {
    return kUninstallLayout;
}

void createControls(HWND parent, std::span<const ControlPlacement> layout,
                    const WindowResources& resources, WindowControls& controls) {
    for (const ControlPlacement& placement : layout) {
        const HWND control = createControl(parent, placement, resources);
        if (placement.slot != nullptr) {
            controls.*placement.slot = control;
        }
    }
}

}  // namespace tavro
