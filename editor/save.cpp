// Saving the current picture. The extension picks the writer; every writer
// saves through a temporary file, so a failed save leaves the old file as it
// was and is reported, never shown as saved.
#include "editor/save.h"

#include <string>
#include <utility>

#include "editor/document.h"
#include "editor/globals.h"
#include "editor/history.h"
#include "editor/mainwindow.h"
#include "editor/prefs.h"
#include "formats/dds.h"
#include "formats/dispatch.h"
#include "formats/formats.h"
#include "formats/sizing.h"
#include "toolkit/files.h"
#include "toolkit/memory.h"
#include "toolkit/numbers.h"
#include "toolkit/ui/ui.h"

namespace {

SaveDdsDialogHook gDdsDialogHook;

void ShowError(const std::string& text) {
    UiMessageBox(gAppTitle, text, UiButtons::Ok, UiIcon::Error, gMainWindow);
}

bool AskYesNo(const std::string& text, UiIcon icon) {
    return UiMessageBox(gAppTitle, text, UiButtons::YesNo, icon, gMainWindow) == 1;
}

// The format Save As writes for an extension: the table's, and PNG for a
// name it does not know.
ImageFormat SaveAsFormatOf(const std::string& ext) {
    const FormatInfo* row = FindFormat(ext);
    return row ? row->format : ImageFormat::Png;
}

// The result of one writer: 1 written, 0 failed (reported by the caller),
// -1 refused with its own message already shown.
int WriteByExtension(const std::string& path, const std::string& ext, int hasAlpha, bool asked) {
    SaveRequest request;
    request.format = SaveAsFormatOf(ext);
    request.withAlpha = hasAlpha != 0;
    if (request.format == ImageFormat::Hdr) {
        if (gTexInfo.isHdr == 0) {
            ShowError("Only HDR textures can be saved as .hdr.");
            return -1;
        }
        // The RGBE block is the picture's true content; the display image
        // is only its tone-mapped view.
        request.hdrData = gTexInfo.hdrData.get();
        request.hdrWidth = gTexInfo.width;
        request.hdrHeight = gTexInfo.height;
    } else if (request.format == ImageFormat::Dds) {
        if (asked || gLastDdsFormat == -1) {
            if (!ShowSaveDdsDialog(gMainWindow, hasAlpha, IsNormalMapFormatText(gTexInfo.formatText), gLastDdsFormat,
                                   gLastDdsMips))
                return -1;
        }
        request.ddsFormat = DdsSaveFormat(gLastDdsFormat);
        request.ddsMips = gLastDdsMips != 0;
        const bool keepsNoAlpha = request.ddsFormat == DdsSaveFormat::Dxt1 || request.ddsFormat == DdsSaveFormat::Bc5;
        if (asked && gPrefWarnDataLoss == 1 && hasAlpha == 1 && keepsNoAlpha) {
            if (!AskYesNo("This DDS format has no alpha channel; the transparency will be lost.\nSave anyway?",
                          UiIcon::Warning))
                return -1;
        }
    } else if (request.format == ImageFormat::Tex) {
        KeepTextureMipAndFlag(gTexInfo, request);
    }
    return SaveImage(gCurrentImage.get(), path, request);
}

}  // namespace

void SetSaveDdsDialogHookForTesting(SaveDdsDialogHook hook) { gDdsDialogHook = std::move(hook); }

std::string GetSaveAsPatterns(bool withHdr) {
    std::string patterns;
    for (ImageFormat format : FormatsIn(FormatList::SaveAs)) {
        // Only an HDR picture has brightness for an HDR file to keep.
        if (GetFormatInfo(format).holdsHdr && !withHdr) continue;
        if (!patterns.empty()) patterns += "|";
        patterns += FormatLabel(FormatList::SaveAs, format) + "|" + FormatPattern(format);
    }
    return patterns;
}

std::string ProposeSaveName() {
    const bool fromArchive = IsArchivePath(gCurrentPath);
    std::string folder;
    if (gPrefSaveSourceFolder == 1 && !fromArchive)
        folder = GetFolderPart(gCurrentPath);
    else if (!gLastSaveFolder.empty())
        folder = gLastSaveFolder;
    else if (!fromArchive)
        folder = GetFolderPart(gCurrentPath);
    std::string name = GetDisplayName(gCurrentPath);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return folder + name + gSaveNameSuffix;
}

std::string AddPatternExtension(const std::string& name, int patternIndex) {
    if (FindFormat(GetLowerExtension(name))) return name;
    const FormatInfo* chosen = FormatAt(FormatList::SaveAs, patternIndex);
    if (!chosen) chosen = FormatAt(FormatList::SaveAs, 1);
    return name + "." + chosen->extension;
}

void HandleSaveCommand() {
    if (gSavePath.empty())
        ShowSaveAsDialog();
    else
        SaveCurrentImageAs(gSavePath, false);
}

void ShowSaveAsDialog() {
    if (!RequireOpenPicture()) return;
    const int firstPattern = int(gPrefSaveFormat);
    int chosenPattern = firstPattern;
    const std::string chosen = UiSaveFileRequester("Save As", ProposeSaveName(), GetSaveAsPatterns(gTexInfo.isHdr == 1),
                                                   firstPattern, &chosenPattern, gMainWindow);
    if (chosen.empty()) return;
    if (chosenPattern < 0) chosenPattern = firstPattern;
    const std::string path = AddPatternExtension(chosen, chosenPattern);
    if (GetFileKind(path) == FileKind::File) {
        if (UiMessageBox(gAppTitle, GetFilePart(path) + " already exists. Overwrite?", UiButtons::YesNo, UiIcon::None,
                         gMainWindow) != 1)
            return;
    }
    SaveCurrentImageAs(path, true);
}

void SaveCurrentImageAs(const std::string& path, bool asked) {
    if (!gCurrentImage) return;
    const int hasAlpha = gTexInfo.hasAlpha;
    const std::string ext = GetLowerExtension(path);
    if (SaveAsFormatOf(ext) == ImageFormat::Tex && !OfferResizeFor1024Limit()) return;
    if (asked && !ConfirmLossySave(ext)) return;

    const MemoryRefusalWatch refusals;
    const int written = WriteByExtension(path, ext, hasAlpha, asked);
    if (written < 0) return;
    if (written == 0) {
        // A writer refused memory says so, or the user would look for a
        // fault of the disk.
        ShowError("Saving failed:\n" + path + (refusals.Refused() ? "\n\nNot enough memory for this operation." : ""));
        return;
    }
    gSavePath = path;
    UiSetStatusField(gMainWindow, 2, "Saved: " + GetFilePart(path));
    MarkSaved();
    UpdateTitleAndUndoMenu();
    gLastSaveFolder = GetFolderPart(path);
    WritePrefString("LastSaveFolder", gLastSaveFolder);
}

bool ConfirmLossySave(const std::string& ext) {
    if (gPrefWarnDataLoss == 0) return true;
    // A name the table does not know is written as PNG and warned about as PNG.
    const FormatInfo& format = GetFormatInfo(SaveAsFormatOf(ext));
    const std::string name = format.lossName ? format.lossName : ToUpperAscii(ext);

    std::string lines;
    if (gTexInfo.isHdr == 1 && !format.holdsHdr) {
        lines += "- HDR brightness: " + name + " stores the image as shown (exposure " + FormatFixed(gHdrExposure, 1) +
                 " EV" + (gHdrTone == 1 ? ", filmic" : ", editor clip") +
                 "). Brightness beyond white is lost; use .hdr to keep it.\n";
    }
    if (gTexInfo.hasAlpha == 1 && format.dropsAlpha) lines += "- Transparency: " + name + " has no alpha channel.\n";
    if (format.format == ImageFormat::Tex && (!IsPowerOfTwo(gTexInfo.width) || !IsPowerOfTwo(gTexInfo.height))) {
        lines += "- Size: " + std::to_string(gTexInfo.width) + " x " + std::to_string(gTexInfo.height) +
                 " is not a power of 2; Dravik 1 may not show it correctly.\n";
    }
    const int64_t clipped = SumHistoryClipCounts();
    if (clipped > 0)
        lines += "- Clipping: your adjustments pushed " + std::to_string(clipped) + " values to pure black or white.\n";
    if (format.lossy) lines += "- Image detail: JPG compression slightly changes the image (lossy).\n";
    if (lines.empty()) return true;
    return AskYesNo("Saving as " + name + " loses information:\n\n" + lines + "\nSave anyway?", UiIcon::Warning);
}

bool OfferResizeFor1024Limit() {
    const int width = gTexInfo.width, height = gTexInfo.height;
    if ((width <= 1024 && height <= 1024) || gPrefWarnQE1Size == 0) return true;
    int targetWidth = 0, targetHeight = 0;
    FitSizePowerOfTwo(width, height, 1024, targetWidth, targetHeight);
    const std::string question = "Dravik 1 textures can be at most 1024 x 1024 pixels; this image is " +
                                 std::to_string(width) + " x " + std::to_string(height) + ".\n\nResize to " +
                                 std::to_string(targetWidth) + " x " + std::to_string(targetHeight) +
                                 " now and save?\n(Choose No to cancel; you can also use Tools > Resize.)";
    if (!AskYesNo(question, UiIcon::Warning)) return false;
    // A resize that failed has been reported; writing the oversized picture
    // after the user chose the smaller one would give the engine a texture it
    // cannot take, so the save stops.
    return ResizeCurrentImage(targetWidth, targetHeight);
}

bool ResizeCurrentImage(int width, int height) {
    if (!gCurrentImage) return false;
    const int oldWidth = gCurrentImage->width, oldHeight = gCurrentImage->height;
    if (width == oldWidth && height == oldHeight) return true;

    const bool sized = width >= 1 && height >= 1;
    if (sized && !MakeRoomForStep(ImageByteCount(width, height), ShrinkByHalvingPeakBytes(*gCurrentImage, width, height)))
        return false;
    ImagePtr resized = sized ? ShrinkImageByHalving(*gCurrentImage, width, height) : nullptr;
    if (!resized) {
        ShowError("Not enough memory to resize the image.");
        // Making room may have cut the redo branch; the menu says so.
        UpdateTitleAndUndoMenu();
        return false;
    }
    gCurrentImage = std::move(resized);
    gTexInfo.width = width;
    gTexInfo.height = height;

    // A power-of-two shrink of a ".tex" keeps its place in the mip chain.
    if (gTexInfo.kind == 1 && oldWidth % width == 0) {
        const int factor = oldWidth / width;
        if (IsPowerOfTwo(factor) && oldHeight / height == factor) {
            int shift = 0;
            for (int f = factor; f > 1; f /= 2) ++shift;
            gTexInfo.firstMip += shift;
        }
    }

    std::string note;
    if (gTexInfo.isHdr == 1) {
        gTexInfo.isHdr = 0;
        note = "HDR texture resized: the current exposure is now part of the image";
    }
    gTexInfo.note = "Resized from " + std::to_string(oldWidth) + " x " + std::to_string(oldHeight) + "   " + note;

    ShowChangedPicture(std::to_string(width) + " x " + std::to_string(height) + "  (resized)", PictureStep::Append,
                       "Resize");
    return true;
}

bool ShowSaveDdsDialog(int parentWindow, bool hasAlpha, bool isNormalMap, int64_t& format, int64_t& mips) {
    const int window = UiOpenWindow(0, 0, 380, 150, "Save as DDS", kUiDialogFlags, parentWindow);
    if (!window) return false;
    UiCreateLabel(window, 12, 16, 70, 20, "Format:");
    const int list = UiCreateCombo(window, 80, 12, 288, 24);
    UiAddItem(list, "DXT1 / BC1 - compressed, no transparency");
    UiAddItem(list, "DXT5 / BC3 - compressed, with transparency");
    UiAddItem(list, "BC5 / ATI2 - compressed normal map (red + green)");
    UiAddItem(list, "BGRA 32-bit - uncompressed, no quality loss");
    UiSetGadgetState(list, int(SuggestDdsSaveFormat(isNormalMap, hasAlpha != 0)));
    const int mipsBox = UiCreateCheckBox(window, 80, 48, 288, 24, "Generate mipmaps (recommended for games)");
    UiSetGadgetState(mipsBox, 1);
    const int ok = UiCreateButton(window, 196, 110, 80, 28, "OK", true);
    const int cancel = UiCreateButton(window, 288, 110, 80, 28, "Cancel");

    UiDialogLoop loop;
    loop.ok = ok;
    loop.cancel = cancel;
    loop.returnConfirms = loop.escapeCancels = true;
    loop.onStart = [&] {
        if (gDdsDialogHook) gDdsDialogHook(window, list, mipsBox, ok, cancel);
    };
    loop.onConfirm = [&](const UiEvent&) {
        format = UiGetGadgetState(list);
        mips = UiGetGadgetState(mipsBox);
        return UiDialogStep::Confirm;
    };
    return UiRunModalDialog(window, parentWindow, loop);
}
