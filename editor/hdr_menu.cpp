// The "HDR" menu: exposure steps and the tone mode. An HDR picture is never
// edited by them; its RGBE block stays the source and the display image is
// made anew by reopening the file with the new settings.
#include <string>

#include "editor/commands.h"
#include "editor/globals.h"
#include "editor/mainwindow.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

constexpr int kMenuToneEditor = 11;
constexpr int kMenuToneFilmic = 12;

// 1 when the open picture is an HDR picture; otherwise says why nothing
// happens and gives 0.
int CheckHdrTextureForMenu() {
    if (gCurrentImage && gTexInfo.isHdr) return 1;
    std::string text;
    if (!gCurrentImage)
        text = "No texture is loaded.";
    else if (!gTexInfo.hdrData)
        text = GetDisplayName(gCurrentPath) + " is not an HDR texture.";
    else
        text = GetDisplayName(gCurrentPath) +
               " has been edited and is no longer an HDR image (Undo brings the HDR original back).";
    text += "\nThe settings in the HDR menu only apply to HDR textures; nothing was changed.";
    UiMessageBox(gAppTitle, text, UiButtons::Ok, UiIcon::Information, gMainWindow);
    return 0;
}

}  // namespace

void StepExposure(double step, int reset) {
    if (!CheckHdrTextureForMenu()) return;
    gHdrExposure = reset ? 0.0 : gHdrExposure + step;
    OpenFile(gCurrentPath, 1);
}

void SetToneMode(int64_t mode) {
    if (CheckHdrTextureForMenu()) {
        gHdrTone = mode;
        OpenFile(gCurrentPath, 1);
    }
    // Redrawn also after a refusal: a menu click may have toggled the tick.
    UiSetMenuItemChecked(gMainWindow, kMenuToneEditor, gHdrTone == 0);
    UiSetMenuItemChecked(gMainWindow, kMenuToneFilmic, gHdrTone == 1);
}
