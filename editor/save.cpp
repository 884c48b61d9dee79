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
#include "formats/gro.h"
#include "formats/hdr.h"
#include "formats/pcx.h"
#include "formats/sizing.h"
#include "formats/tex.h"
#include "formats/tga.h"
#include "formats/tiff.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"
#include "toolkit/numbers.h"
#include "toolkit/ui/ui.h"

namespace {

// Pattern order of the Save As requester; the same index picks the extension
// added to a name typed without one.
constexpr const char* kPatternExtensions[] = {"tga", "png", "pcx", "bmp", "tif", "jpg", "dds", "tex", "hdr"};
constexpr int kPatternCount = int(sizeof(kPatternExtensions) / sizeof(kPatternExtensions[0]));

SaveDdsDialogHook gDdsDialogHook;

void ShowError(const std::string& text) {
    UiMessageBox(gAppTitle, text, UiButtons::Ok, UiIcon::Error, gMainWindow);
}

bool AskYesNo(const std::string& text, UiIcon icon) {
    return UiMessageBox(gAppTitle, text, UiButtons::YesNo, icon, gMainWindow) == 1;
}

std::string ToUpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

// JPEG keeps no alpha: the stored colours are written as they are, without
// blending them over anything.
ImagePtr CopyColourChannels(const Image& image) {
    ImagePtr copy = CreateImage(image.width, image.height, 24);
    if (!copy) return nullptr;
    const int bpp = image.BytesPerPixel();
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* src = image.RowFromTop(y);
        uint8_t* dst = copy->RowFromTop(y);
        for (int x = 0; x < image.width; ++x, src += bpp, dst += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    }
    return copy;
}

// The result of one writer: 1 written, 0 failed (reported by the caller),
// -1 refused with its own message already shown.
int WriteByExtension(const std::string& path, const std::string& ext, int hasAlpha, int asked) {
    const Image& image = *gCurrentImage;
    if (ext == "bmp") return EncodeBmpFile(image, path) ? 1 : 0;
    if (ext == "jpg" || ext == "jpeg") {
        ImagePtr colours = CopyColourChannels(image);
        return colours && EncodeJpegFile(*colours, path, 90) ? 1 : 0;
    }
    if (ext == "hdr") {
        if (gTexInfo.isHdr == 0) {
            ShowError("Only HDR textures can be saved as .hdr.");
            return -1;
        }
        // The RGBE block is the picture's true content; the display image
        // is only its tone-mapped view.
        return WriteHdrFile(gTexInfo.hdrData.get(), gTexInfo.width, gTexInfo.height, path);
    }
    if (ext == "tif" || ext == "tiff") return WriteTiffFile(&image, path, hasAlpha);
    if (ext == "tga") return WriteTgaFile(image, path, hasAlpha);
    if (ext == "pcx") return WritePcxFile(image, path);
    if (ext == "dds") {
        if (asked == 1 || gLastDdsFormat == -1) {
            const bool isNormalMap = ToLowerAscii(gTexInfo.formatText).find("normal") != std::string::npos;
            if (!ShowSaveDdsDialog(gMainWindow, hasAlpha, isNormalMap, gLastDdsFormat, gLastDdsMips)) return -1;
        }
        if (asked == 1 && gPrefWarnDataLoss == 1 && hasAlpha == 1 && (gLastDdsFormat == 0 || gLastDdsFormat == 2)) {
            if (!AskYesNo("This DDS format has no alpha channel; the transparency will be lost.\nSave anyway?",
                          UiIcon::Warning))
                return -1;
        }
        return WriteDdsFile(image, path, int(gLastDdsFormat), int(gLastDdsMips));
    }
    if (ext == "tex") {
        if (gTexInfo.kind == 1 && gTexInfo.texVersion == 4 && gTexInfo.isEffect == 0)
            return WriteTexFile(&image, path, hasAlpha, gTexInfo.firstMip, (gTexInfo.flags & 2) ? 1 : 0);
        return WriteTexFile(&image, path, hasAlpha, 0, 0);
    }
    return EncodePngFile(image, path, hasAlpha == 1 ? 32 : 24) ? 1 : 0;
}

}  // namespace

void SetSaveDdsDialogHookForTesting(SaveDdsDialogHook hook) { gDdsDialogHook = std::move(hook); }

std::string GetSaveAsPatterns(bool withHdr) {
    std::string patterns =
        "Truevision Graphics Adapter (*.tga)|*.tga|"
        "Portable Network Graphics (*.png)|*.png|"
        "PiCture eXchange (*.pcx)|*.pcx|"
        "Microsoft BMP (*.bmp)|*.bmp|"
        "Tagged Image File Format (*.tif)|*.tif;*.tiff|"
        "Joint Photographic Experts Group (*.jpg)|*.jpg;*.jpeg|"
        "DirectDraw Surface (*.dds)|*.dds|"
        "Dravik 1 texture (*.tex)|*.tex";
    if (withHdr) patterns += "|Radiance High Dynamic Range (*.hdr)|*.hdr";
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
    static const std::string kKnown = ",png,tga,bmp,tif,tiff,jpg,jpeg,pcx,dds,tex,hdr,";
    const std::string ext = GetLowerExtension(name);
    if (!ext.empty() && kKnown.find("," + ext + ",") != std::string::npos) return name;
    if (patternIndex < 0 || patternIndex >= kPatternCount) patternIndex = 1;
    return name + "." + kPatternExtensions[patternIndex];
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
    if (ext == "tex" && !OfferResizeFor1024Limit()) return;
    if (asked && !ConfirmLossySave(ext)) return;

    const int written = WriteByExtension(path, ext, hasAlpha, asked);
    if (written < 0) return;
    if (written == 0) {
        ShowError("Saving failed:\n" + path);
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
    std::string name;
    if (ext == "jpg" || ext == "jpeg")
        name = "JPG";
    else if (ext == "pcx")
        name = "PCX";
    else if (ext == "tex")
        name = "Dravik 1 .tex";
    else
        name = ToUpperAscii(ext);

    std::string lines;
    if (gTexInfo.isHdr == 1 && ext != "hdr") {
        lines += "- HDR brightness: " + name + " stores the image as shown (exposure " + FormatFixed(gHdrExposure, 1) +
                 " EV" + (gHdrTone == 1 ? ", filmic" : ", editor clip") +
                 "). Brightness beyond white is lost; use .hdr to keep it.\n";
    }
    if (gTexInfo.hasAlpha == 1 && (name == "PCX" || name == "JPG" || name == "BMP"))
        lines += "- Transparency: " + name + " has no alpha channel.\n";
    if (ext == "tex" && (!IsPowerOfTwo(gTexInfo.width) || !IsPowerOfTwo(gTexInfo.height))) {
        lines += "- Size: " + std::to_string(gTexInfo.width) + " x " + std::to_string(gTexInfo.height) +
                 " is not a power of 2; Dravik 1 may not show it correctly.\n";
    }
    const int64_t clipped = SumHistoryClipCounts();
    if (clipped > 0)
        lines += "- Clipping: your adjustments pushed " + std::to_string(clipped) + " values to pure black or white.\n";
    if (name == "JPG") lines += "- Image detail: JPG compression slightly changes the image (lossy).\n";
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

    ImagePtr resized = width >= 1 && height >= 1 ? ShrinkImageByHalving(*gCurrentImage, width, height) : nullptr;
    // The "Resize" step's copy is made before the picture changes, so a
    // resize is never shown without being recorded.
    ImagePtr stepCopy = resized ? CopyImageForHistory(*resized) : nullptr;
    if (!stepCopy) {
        ShowError("Not enough memory to resize the image.");
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

    ShowChangedPicture(std::to_string(width) + " x " + std::to_string(height) + "  (resized)",
                       {std::move(stepCopy), "Resize"});
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
    UiSetGadgetState(list, isNormalMap ? 2 : (hasAlpha ? 1 : 0));
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
