#include "editor/hdr_menu.h"

#include <string>

#include "adjust/document_ui.h"
#include "editor/globals.h"
#include "editor/mainwindow.h"
#include "editor/open.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

// True when the open picture is an HDR picture; otherwise says why nothing
// happens.
bool CheckHdrTextureForMenu() {
    if (gCurrentImage && gTexInfo.isHdr) return true;
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
    return false;
}

}  // namespace

// A reload that failed (reported) keeps the picture made with the old
// settings, so the settings stay what the picture shows.
void StepExposure(double step, bool reset) {
    if (!CheckHdrTextureForMenu() || !CheckRoomForReload()) return;
    const double shown = gHdrExposure;
    gHdrExposure = reset ? 0.0 : gHdrExposure + step;
    if (!OpenFile(gCurrentPath, true)) gHdrExposure = shown;
}

void SetToneMode(int64_t mode) {
    if (CheckHdrTextureForMenu() && CheckRoomForReload()) {
        const int64_t shown = gHdrTone;
        gHdrTone = mode;
        if (!OpenFile(gCurrentPath, true)) gHdrTone = shown;
    }
    // Redrawn also after a refusal: a menu click may have toggled the tick.
    ShowToneMenuTicks();
}

void ShowToneMenuTicks() {
    UiSetMenuItemChecked(gMainWindow, CommandNumber(CommandId::ToneEditor), gHdrTone == 0);
    UiSetMenuItemChecked(gMainWindow, CommandNumber(CommandId::ToneFilmic), gHdrTone == 1);
}
