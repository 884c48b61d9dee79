#include "editor/open.h"

#include <string>
#include <utility>
#include <vector>

#include "adjust/document_ui.h"
#include "editor/document.h"
#include "editor/globals.h"
#include "editor/history.h"
#include "editor/mainwindow.h"
#include "editor/prefs.h"
#include "formats/dispatch.h"
#include "formats/formats.h"
#include "formats/gro.h"
#include "formats/gro_ui.h"
#include "formats/tex.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

// Extensions of the picture formats are read as pictures; everything else
// (".tex", unknown, none) is a texture and the texture loader tells the
// generations apart by content.
bool IsPictureExtension(const std::string& ext) {
    const FormatInfo* format = FindFormat(ext);
    return format && format->reader != FormatReader::Texture;
}

ImagePtr ReadForOpening(const std::string& path, TexInfo& info) {
    const HdrDisplaySettings display = CurrentHdrDisplaySettings();
    if (IsArchivePath(path)) return LoadArchiveEntryAsTexture(path, info, display);
    if (IsPictureExtension(GetLowerExtension(path))) return LoadImageFileByExtension(path, info, display);
    return LoadTexFile(path, info, 0, 0, display);
}

std::string DescribeFormat(const TexInfo& info) {
    switch (info.kind) {
    case 0:
        return info.formatText + (info.hasAlpha == 1 ? ", with transparency" : "");
    case 2:
        return "DK2, " + info.formatText;
    case 3:
        return "DK3, " + info.formatText;
    default: {
        std::string text = info.hasAlpha == 1 ? "RGBA (with transparency)" : "RGB";
        text += ", DK1 version " + std::to_string(info.texVersion);
        if (info.bytesPerPixel == 2) text += " (16-bit)";
        return text;
    }
    }
}

void ReportLoadFailure(const std::string& path, const std::string& reason) {
    UiMessageBox(gAppTitle, GetDisplayName(path) + " could not be loaded:\n" + reason, UiButtons::Ok,
                   UiIcon::Error, gMainWindow);
}

}  // namespace

bool OpenFile(const std::string& path, bool reload) {
    if (!reload && !ConfirmDiscardEdits()) return false;

    // The picture and its history stay until the new one is read: an open
    // that fails, for want of memory too, leaves them as they were.
    TexInfo loaded;
    ImagePtr image = ReadForOpening(path, loaded);
    if (!image) {
        ReportLoadFailure(path, loaded.errorText);
        return false;
    }
    gCurrentImage = std::move(image);
    FreeTexHdrData(gTexInfo);
    gTexInfo = std::move(loaded);
    gTexInfo.errorText.clear();
    gCurrentPath = path;
    if (!reload) {
        gSavePath.clear();
        gSaveNameSuffix.clear();
    }
    gLastOpenFolder = GetFolderPart(GetArchivePartOfPath(path));
    WritePrefString("LastOpenFolder", gLastOpenFolder);

    UiSetStatusField(gMainWindow, 0, GetDisplayName(path));
    // The "Original" step shares the picture: one buffer for both.
    ShowChangedPicture(
        std::to_string(gTexInfo.width) + " x " + std::to_string(gTexInfo.height) + "  " + DescribeFormat(gTexInfo),
        PictureStep::StartHistory, "Original");
    return true;
}

bool CheckRoomForReload() {
    // An RGBE file holds at most about a picture's worth of bytes.
    return CheckRoomForWork(3 * ImageByteCount(gTexInfo.width, gTexInfo.height));
}

void ShowOpenFileDialog() {
    const std::string patterns = FormatLabel(FormatList::Open, ImageFormat::Tex) + "|" +
                                 FormatPattern(ImageFormat::Tex) + "|All supported images|" +
                                 JoinedFormatPatterns(FormatList::Open) + "|All files (*.*)|*.*";
    const std::string path = UiOpenFileRequester("Open file", gLastOpenFolder, patterns, 0, gMainWindow);
    if (!path.empty()) OpenFile(path, false);
}

void OpenGroArchiveDialog() {
    const std::string archive = UiOpenFileRequester("Open .gro archive", gLastOpenFolder,
                                                    "Dravik archive (*.gro)|*.gro|All files (*.*)|*.*", 0, gMainWindow);
    if (archive.empty()) return;
    const std::string entry = ShowGroChooser(archive, gMainWindow, 0);
    if (!entry.empty()) OpenFile(archive + "::" + entry, false);
}

bool ConfirmDiscardEdits() {
    if (!HasUnsavedEdits()) return true;
    const std::string question = GetDisplayName(gCurrentPath) + " has edits that have not been saved (" +
                                 std::to_string(CountEditsSinceOpen()) + " edit(s)).\nDiscard them?";
    return UiMessageBox(gAppTitle, question, UiButtons::YesNo, UiIcon::Warning, gMainWindow) == 1;
}
