#include "adjust/normalmap_ui.h"

#include <cmath>
#include <optional>
#include <string>

#include "adjust/document_ui.h"
#include "adjust/normalmap.h"
#include "toolkit/numbers.h"
#include "toolkit/ui/ui.h"

namespace {

struct NormalCommand {
    ImagePtr (*build)(const Image&);
    const char* label;
    const char* suffix;
};
constexpr NormalCommand kNormalCommands[] = {
    {FlipNormalGreen, "Normal map: green flipped", "_flipg"},
    {FlipNormalRed, "Normal map: red flipped", "_flipr"},
    {RebuildNormalZ, "Normal map: blue (Z) rebuilt from red and green", "_z"},
    {NormalizeNormalMap, "Normal map: normalized", "_norm"},
};

void CreateFromHeightMap() {
    const std::optional<std::string> answer = UiInputRequester(
        GetAppTitle(),
        "Create a normal map from this image (light = high, dark = low).\nStrength (1 = subtle, 2 = normal, 5 = strong):",
        FormatFixed(GetNormalMapStrength(), 1), GetMainWindow());
    if (!answer || answer->empty()) return;
    const double strength = ParseFloatText(*answer, true);
    // An infinite strength would turn every sloped normal into NaN.
    if (!(strength > 0.0) || !std::isfinite(strength)) {
        UiMessageBox(GetAppTitle(), "Please enter a number larger than 0.", UiButtons::Ok, UiIcon::Error,
                     GetMainWindow());
        return;
    }
    const Image& picture = *GetCurrentPicture();
    if (!MakeRoomForEdit(picture.width, picture.height, NormalMapFromHeightWorkBytes(picture))) return;
    CommitEdit(MakeNormalMapFromHeight(picture, strength),
               "Normal map from height map (strength " + FormatFixed(strength, 1) + ", OpenGL style: green up)",
               "_NM");
}

}  // namespace

void HandleNormalMapCommand(int64_t id) {
    const int64_t first = CommandNumber(CommandId::FlipGreen);
    if (id < first || id > CommandNumber(CommandId::NormalFromHeight)) return;
    if (!RequireOpenPicture()) return;
    if (CommandId(id) == CommandId::NormalFromHeight) {
        CreateFromHeightMap();
        return;
    }
    const NormalCommand& c = kNormalCommands[id - first];
    const Image& picture = *GetCurrentPicture();
    if (MakeRoomForEdit(picture.width, picture.height)) CommitEdit(c.build(picture), c.label, c.suffix);
}
