#include "editor/about.h"

#include <wx/version.h>

#include "editor/globals.h"
#include "editor/mainwindow.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

#include "editor/about_logo.inc"

AboutWindowHook gAboutHook;

const char* Platform() {
#if defined(__x86_64__)
    return "Linux-x64";
#elif defined(__aarch64__)
    return "Linux-arm64";
#else
    return "Linux";
#endif
}

}  // namespace

const char* const kAboutTitle = "Dravik Engine 1 Orvanta 1.00";

void SetAboutWindowHookForTesting(AboutWindowHook hook) { gAboutHook = std::move(hook); }

void ShowAbout() {
    ShowAboutWindow(gMainWindow, kAboutTitle, kAboutLogoPng, kAboutLogoPng + sizeof(kAboutLogoPng));
}

void ShowAboutWindow(int parent, const std::string& title, const uint8_t* logoStart, const uint8_t* logoEnd) {
    ImagePtr logo;
    if (logoStart && logoEnd > logoStart) logo = DecodePngData(logoStart, size_t(logoEnd - logoStart), nullptr);
    const int window = UiOpenWindow(0, 0, 600, 300, "About", kUiDialogFlags, parent);
    if (!window) return;

    const int logoGadget = logo ? UiCreateImageGadget(window, 16, 16, 256, 256, logo.get()) : 0;
    const int titleLabel = UiCreateLabel(window, 290, 24, 300, 46, title);
    UiSetGadgetFont(titleLabel, "Sans", 12, true);  // keeps the normal font when it cannot be made
    UiCreateLabel(window, 290, 182, 300, 20, "Created using:");
    UiCreateLabel(window, 290, 204, 300, 20,
                  "wxWidgets " + std::to_string(wxMAJOR_VERSION) + "." + std::to_string(wxMINOR_VERSION) + " (" +
                      Platform() + ")");
    UiCreateLabel(window, 290, 226, 300, 20, "libtiff, libpng, libjpeg-turbo, zlib, libarchive");
    const int close = UiCreateButton(window, 490, 256, 94, 28, "Close", true);

    // Every way out closes it: Close, Return, Escape and the close box.
    UiDialogLoop loop;
    loop.ok = close;
    loop.returnConfirms = loop.escapeCancels = true;
    loop.onStart = [&] {
        if (gAboutHook) gAboutHook(window, logoGadget, titleLabel, close);
    };
    UiRunModalDialog(window, parent, loop);
}

void OpenHelpFile() {
    const std::string path = GetExecutableFolder() + "Help/Orvanta-Help.html";
    if (GetFileKind(path) != FileKind::File) {
        UiMessageBox(gAppTitle, "The help file was not found. It should be here:\n" + path, UiButtons::Ok,
                     UiIcon::Warning, gMainWindow);
        return;
    }
    UiShellOpen(path);  // a viewer that does not start is not reported
}
