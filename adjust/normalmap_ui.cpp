// The "Normal map" submenu: each command builds a new picture from the current
// one and commits it as one edit.
#include <cmath>
#include <optional>
#include <string>

#include "adjust/normalmap.h"
#include "editor/commands.h"
#include "editor/globals.h"
#include "editor/history.h"
#include "editor/mainwindow.h"
#include "toolkit/numbers.h"
#include "toolkit/ui/ui.h"

namespace {

constexpr int kMenuFlipGreen = 24;
constexpr int kMenuFromHeight = 28;

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
        gAppTitle,
        "Create a normal map from this image (light = high, dark = low).\nStrength (1 = subtle, 2 = normal, 5 = strong):",
        FormatFixed(gPrefNormalStrength, 1), gMainWindow);
    if (!answer || answer->empty()) return;
    const double strength = ParseFloatText(*answer, true);
    // An infinite strength would turn every sloped normal into NaN.
    if (!(strength > 0.0) || !std::isfinite(strength)) {
        UiMessageBox(gAppTitle, "Please enter a number larger than 0.", UiButtons::Ok, UiIcon::Error, gMainWindow);
        return;
    }
    CommitEdit(MakeNormalMapFromHeight(*gCurrentImage, strength),
               "Normal map from height map (strength " + FormatFixed(strength, 1) + ", OpenGL style: green up)",
               "_NM");
}

}  // namespace

void HandleNormalMapCommand(int64_t id) {
    if (id < kMenuFlipGreen || id > kMenuFromHeight) return;
    if (!gCurrentImage) {
        UiMessageBox(gAppTitle, "Please open a .tex file first.", UiButtons::Ok, UiIcon::None, gMainWindow);
        return;
    }
    if (id == kMenuFromHeight) {
        CreateFromHeightMap();
        return;
    }
    const NormalCommand& c = kNormalCommands[id - kMenuFlipGreen];
    CommitEdit(c.build(*gCurrentImage), c.label, c.suffix);
}
