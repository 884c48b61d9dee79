// The open picture as the editor shows it, and the tools' view of it
// (adjust/document_ui.h) over the editor's globals.
#include "editor/document.h"

#include <utility>

#include "adjust/document_ui.h"
#include "adjust/histogram_ui.h"
#include "editor/globals.h"
#include "editor/hdr_menu.h"
#include "editor/history.h"
#include "editor/mainwindow.h"
#include "editor/open.h"
#include "toolkit/ui/ui.h"

void ShowChangedPicture(const std::string& statusText, PictureStep step, const std::string& label) {
    SetStatusText(statusText);
    RefreshPreview();
    UpdateHistogram(gCurrentImage.get(), gTexInfo, gHdrExposure);
    if (step != PictureStep::None) {
        HistoryEntry entry = MakeCurrentHistoryEntry(label);
        // The count belongs to this step only; left behind it would be
        // charged to whichever step is recorded next.
        gEditClippedCount = 0;
        if (step == PictureStep::StartHistory)
            ResetEditHistory(gCurrentImage, std::move(entry));
        else
            PushHistoryStep(gCurrentImage, std::move(entry));
    }
    UpdateTitleAndUndoMenu();
}

const Image* GetCurrentPicture() { return gCurrentImage.get(); }
const TexInfo& GetCurrentPictureInfo() { return gTexInfo; }
const std::string& GetCurrentPicturePath() { return gCurrentPath; }

bool RequireOpenPicture() {
    if (gCurrentImage) return true;
    UiMessageBox(gAppTitle, "Please open a .tex file first.", UiButtons::Ok, UiIcon::None, gMainWindow);
    return false;
}

void CommitEditWithClipCount(ImagePtr image, const std::string& label, const std::string& suffix,
                             int64_t clippedCount) {
    gEditClippedCount = clippedCount;
    CommitEdit(std::move(image), label, suffix);
    // A commit that could not be recorded leaves the count behind; it must not
    // be charged to whatever edit comes next.
    gEditClippedCount = 0;
}

void PreviewPictureOnce(const PictureView& view) { RefreshPreview(view); }

HdrDisplaySettings CurrentHdrDisplaySettings() { return {gHdrExposure, HdrToneFromCode(gHdrTone)}; }
// A zero exposure has no sign: a negative zero (a small negative value
// rounded to tenths, "-0" typed or read from the preferences) would show as
// "-0.0" and be stored as "-0.000".
void SetHdrExposure(double exposure) { gHdrExposure = exposure == 0.0 ? 0.0 : exposure; }
void SetHdrTone(HdrTone tone) { gHdrTone = int64_t(tone); }

void ApplyHdrDisplaySettings() {
    ShowToneMenuTicks();
    if (gTexInfo.isHdr && CheckRoomForReload()) OpenFile(gCurrentPath, true);
}

int GetMainWindow() { return gMainWindow; }
const std::string& GetAppTitle() { return gAppTitle; }
const std::string& GetLastOpenFolder() { return gLastOpenFolder; }
double GetNormalMapStrength() { return gPrefNormalStrength; }
bool ShouldWarnBeforeClipping() { return gPrefWarnClipping != 0; }
