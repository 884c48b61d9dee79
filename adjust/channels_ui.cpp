// The "Channels" submenu: each command builds a new picture from the current
// one and commits it as one edit.
#include <string>

#include "adjust/channels.h"
#include "editor/commands.h"
#include "editor/globals.h"
#include "editor/history.h"
#include "editor/mainwindow.h"
#include "formats/dispatch.h"
#include "formats/formats.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

constexpr int kMenuExtractRed = 17;
constexpr int kMenuExtractAlpha = 20;
constexpr int kMenuLoadAlpha = 21;
constexpr int kMenuRemoveAlpha = 22;
constexpr int kMenuInvertAlpha = 23;

struct ExtractCommand {
    const char* label;
    const char* suffix;
};
constexpr ExtractCommand kExtractCommands[] = {
    {"Red channel as grayscale", "_red"},
    {"Green channel as grayscale", "_green"},
    {"Blue channel as grayscale", "_blue"},
    {"Alpha channel as grayscale", "_alpha"},
};

void LoadAlphaFromImage() {
    const std::string path = UiOpenFileRequester(
        "Choose a mask (white = opaque, black = transparent)", gLastOpenFolder,
        "All supported images|" + JoinedFormatPatterns(FormatList::Mask) + "|All files (*.*)|*.*", 0,
        gMainWindow);
    if (path.empty()) return;
    TexInfo maskInfo;
    ImagePtr mask = LoadImageAnySource(path, maskInfo, CurrentHdrDisplaySettings());
    const std::string name = GetDisplayName(path);
    if (!mask) {
        FreeTexHdrData(maskInfo);
        UiMessageBox(gAppTitle, name + " could not be loaded:\n" + maskInfo.errorText, UiButtons::Ok, UiIcon::Error,
                     gMainWindow);
        return;
    }
    ImagePtr result = ApplyMaskAsAlpha(*gCurrentImage, *mask);
    mask.reset();
    FreeTexHdrData(maskInfo);
    CommitEdit(std::move(result), "Alpha loaded from " + name, "_withalpha");
}

}  // namespace

void HandleChannelCommand(int64_t menuId) {
    if (menuId < kMenuExtractRed || menuId > kMenuInvertAlpha) return;
    if (!gCurrentImage) {
        UiMessageBox(gAppTitle, "Please open a .tex file first.", UiButtons::Ok, UiIcon::None, gMainWindow);
        return;
    }
    if (menuId <= kMenuExtractAlpha) {
        if (menuId == kMenuExtractAlpha && gTexInfo.hasAlpha == 0 &&
            UiMessageBox(gAppTitle,
                         "This image has no transparency; the alpha channel is completely white.\nExtract it anyway?",
                         UiButtons::YesNo, UiIcon::None, gMainWindow) != 1)
            return;
        const ExtractCommand& c = kExtractCommands[menuId - kMenuExtractRed];
        CommitEdit(ExtractChannelAsGrayscale(*gCurrentImage, menuId - kMenuExtractRed), c.label, c.suffix);
    } else if (menuId == kMenuLoadAlpha) {
        LoadAlphaFromImage();
    } else if (menuId == kMenuRemoveAlpha) {
        CommitEdit(MakeOpaqueCopy(*gCurrentImage), "Alpha removed (fully opaque)", "_opaque");
    } else {
        CommitEdit(InvertAlphaCopy(*gCurrentImage), "Alpha inverted", "_invalpha");
    }
}
