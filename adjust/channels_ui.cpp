#include "adjust/channels_ui.h"

#include <string>

#include "adjust/channels.h"
#include "adjust/document_ui.h"
#include "formats/dispatch.h"
#include "formats/formats.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

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
        "Choose a mask (white = opaque, black = transparent)", GetLastOpenFolder(),
        "All supported images|" + JoinedFormatPatterns(FormatList::Mask) + "|All files (*.*)|*.*", 0,
        GetMainWindow());
    if (path.empty()) return;
    TexInfo maskInfo;
    ImagePtr mask = LoadImageAnySource(path, maskInfo, CurrentHdrDisplaySettings());
    const std::string name = GetDisplayName(path);
    if (!mask) {
        FreeTexHdrData(maskInfo);
        UiMessageBox(GetAppTitle(), name + " could not be loaded:\n" + maskInfo.errorText, UiButtons::Ok,
                     UiIcon::Error, GetMainWindow());
        return;
    }
    FreeTexHdrData(maskInfo);
    const Image& picture = *GetCurrentPicture();
    if (!MakeRoomForEdit(picture.width, picture.height, MaskAsAlphaWorkBytes(picture, *mask))) return;
    ImagePtr result = ApplyMaskAsAlpha(picture, *mask);
    mask.reset();
    CommitEdit(std::move(result), "Alpha loaded from " + name, "_withalpha");
}

}  // namespace

void HandleChannelCommand(int64_t menuId) {
    const int64_t first = CommandNumber(CommandId::ExtractRed);
    if (menuId < first || menuId > CommandNumber(CommandId::InvertAlpha)) return;
    if (!RequireOpenPicture()) return;
    const auto command = CommandId(menuId);
    if (command == CommandId::LoadAlpha) {
        LoadAlphaFromImage();
        return;
    }
    if (command == CommandId::ExtractAlpha && GetCurrentPictureInfo().hasAlpha == 0 &&
        UiMessageBox(GetAppTitle(),
                     "This image has no transparency; the alpha channel is completely white.\nExtract it anyway?",
                     UiButtons::YesNo, UiIcon::None, GetMainWindow()) != 1)
        return;
    const Image& picture = *GetCurrentPicture();
    if (!MakeRoomForEdit(picture.width, picture.height)) return;
    if (command <= CommandId::ExtractAlpha) {
        const ExtractCommand& c = kExtractCommands[menuId - first];
        CommitEdit(ExtractChannelAsGrayscale(picture, menuId - first), c.label, c.suffix);
    } else if (command == CommandId::RemoveAlpha) {
        CommitEdit(MakeOpaqueCopy(picture), "Alpha removed (fully opaque)", "_opaque");
    } else {
        CommitEdit(InvertAlphaCopy(picture), "Alpha inverted", "_invalpha");
    }
}
