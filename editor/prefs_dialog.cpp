#include "editor/prefs_dialog.h"

#include <cmath>
#include <string>
#include <tuple>

#include "editor/globals.h"
#include "editor/prefs.h"
#include "formats/formats.h"
#include "toolkit/numbers.h"
#include "toolkit/ui/ui.h"

int gPrefRememberWindowCheck = 0;
int gPrefBackgroundCombo = 0;
int gPrefUndoStepsSpin = 0;
int gPrefNormalStrengthField = 0;
int gPrefHdrLastOption = 0;
int gPrefHdrFixedOption = 0;
int gPrefHdrExposureField = 0;
int gPrefHdrToneCombo = 0;
int gPrefSaveFormatCombo = 0;
int gPrefSaveLastFolderOption = 0;
int gPrefSaveSourceOption = 0;
int gPrefWarnDataLossCheck = 0;
int gPrefWarnQE1SizeCheck = 0;
int gPrefWarnClippingCheck = 0;

namespace {

PreferencesDialogHook gDialogHook;
int gPrefWindow = 0;

void UpdateHdrControls() {
    const bool fixed = UiGetGadgetState(gPrefHdrFixedOption) == 1;
    UiEnableGadget(gPrefHdrExposureField, fixed);
    UiEnableGadget(gPrefHdrToneCombo, fixed);
}

void BuildGeneralPage(int page) {
    gPrefRememberWindowCheck = UiCreateCheckBox(page, 12, 12, 440, 22, "Remember the window position and size");
    UiCreateLabel(page, 12, 46, 240, 20, "Background behind transparent areas:");
    gPrefBackgroundCombo = UiCreateCombo(page, 256, 42, 200, 24);
    for (const char* item : {"Checkerboard", "Black", "Gray", "White"}) UiAddItem(gPrefBackgroundCombo, item);
    UiCreateLabel(page, 12, 78, 240, 20, "Undo steps (more uses more memory):");
    gPrefUndoStepsSpin = UiCreateSpin(page, 256, 74, 130, 24, 2, 200);
    UiCreateLabel(page, 12, 110, 240, 20, "Normal map from height map, strength:");
    gPrefNormalStrengthField = UiCreateTextField(page, 256, 106, 90, 24, "");
    UiCreateFrame(page, 8, 140, 460, 96, "HDR textures when the program starts");
    gPrefHdrLastOption = UiCreateOption(page, 20, 164, 400, 22, "Same exposure and tone as last time", true);
    gPrefHdrFixedOption = UiCreateOption(page, 20, 196, 80, 22, "Always:");
    UiCreateLabel(page, 104, 199, 86, 20, "Exposure (EV)");
    gPrefHdrExposureField = UiCreateTextField(page, 192, 195, 70, 24, "");
    UiCreateLabel(page, 276, 199, 40, 20, "Tone");
    gPrefHdrToneCombo = UiCreateCombo(page, 318, 195, 138, 24);
    for (const char* item : {"Editor (clip)", "Filmic"}) UiAddItem(gPrefHdrToneCombo, item);
}

void BuildSavingPage(int page) {
    UiCreateLabel(page, 12, 16, 440, 20, "Default format for Save As:");
    gPrefSaveFormatCombo = UiCreateCombo(page, 12, 40, 444, 24);
    // The patterns of Save As, so the index means the same there; the HDR
    // pattern is offered only to HDR pictures and cannot be preferred.
    for (ImageFormat format : FormatsIn(FormatList::SaveAs))
        if (!GetFormatInfo(format).holdsHdr) UiAddItem(gPrefSaveFormatCombo, FormatLabel(FormatList::SaveAs, format));
    UiCreateFrame(page, 8, 80, 460, 86, "Save As suggests");
    gPrefSaveLastFolderOption = UiCreateOption(page, 20, 104, 420, 22, "The folder where you last saved", true);
    gPrefSaveSourceOption = UiCreateOption(page, 20, 134, 420, 22, "The folder of the source file");
}

void BuildWarningsPage(int page) {
    gPrefWarnDataLossCheck = UiCreateCheckBox(
        page, 12, 16, 456, 22, "Warn when saving loses information (HDR, transparency, clipping, JPG)");
    gPrefWarnQE1SizeCheck =
        UiCreateCheckBox(page, 12, 46, 456, 22, "Dravik 1 .tex: offer to resize textures larger than 1024 pixels");
    gPrefWarnClippingCheck =
        UiCreateCheckBox(page, 12, 76, 456, 22, "Levels: ask before applying an adjustment that clips");
}

void ForgetControls() {
    for (int* gadget : {&gPrefRememberWindowCheck, &gPrefBackgroundCombo, &gPrefUndoStepsSpin,
                        &gPrefNormalStrengthField, &gPrefHdrLastOption, &gPrefHdrFixedOption, &gPrefHdrExposureField,
                        &gPrefHdrToneCombo, &gPrefSaveFormatCombo, &gPrefSaveLastFolderOption, &gPrefSaveSourceOption,
                        &gPrefWarnDataLossCheck, &gPrefWarnQE1SizeCheck, &gPrefWarnClippingCheck})
        *gadget = 0;
    gPrefWindow = 0;
}

// The twelve preference globals, so "Defaults" can show the defaults without
// touching what is in force until OK: TakePreferences copies their values,
// assigning those to PreferenceGlobals() puts them back.
auto PreferenceGlobals() {
    return std::tie(gPrefRememberWindow, gPrefBackground, gPrefUndoSteps, gPrefNormalStrength, gPrefHdrFixed,
                    gPrefHdrExposure, gPrefHdrTone, gPrefSaveFormat, gPrefSaveSourceFolder, gPrefWarnDataLoss,
                    gPrefWarnQE1Size, gPrefWarnClipping);
}

auto TakePreferences() {
    return std::apply([](const auto&... value) { return std::make_tuple(value...); }, PreferenceGlobals());
}

}  // namespace

void SetPreferencesDialogHookForTesting(PreferencesDialogHook hook) { gDialogHook = std::move(hook); }

void ShowPreferenceValues() {
    UiSetGadgetState(gPrefRememberWindowCheck, gPrefRememberWindow != 0 ? 1 : 0);
    UiSetGadgetState(gPrefBackgroundCombo, int(ClampInt(gPrefBackground, 0, 3)));
    UiSetGadgetText(gPrefUndoStepsSpin, std::to_string(ClampInt(gPrefUndoSteps, 2, 200)));
    UiSetGadgetText(gPrefNormalStrengthField, FormatFixed(gPrefNormalStrength, 1));
    UiSetGadgetState(gPrefHdrLastOption, gPrefHdrFixed != 0 ? 0 : 1);
    UiSetGadgetState(gPrefHdrFixedOption, gPrefHdrFixed != 0 ? 1 : 0);
    UiSetGadgetText(gPrefHdrExposureField, FormatFixed(gPrefHdrExposure, 1));
    UiSetGadgetState(gPrefHdrToneCombo, int(ClampInt(gPrefHdrTone, 0, 1)));
    UiSetGadgetState(gPrefSaveFormatCombo, int(ClampInt(gPrefSaveFormat, 0, 7)));
    UiSetGadgetState(gPrefSaveLastFolderOption, gPrefSaveSourceFolder != 0 ? 0 : 1);
    UiSetGadgetState(gPrefSaveSourceOption, gPrefSaveSourceFolder != 0 ? 1 : 0);
    UiSetGadgetState(gPrefWarnDataLossCheck, gPrefWarnDataLoss != 0 ? 1 : 0);
    UiSetGadgetState(gPrefWarnQE1SizeCheck, gPrefWarnQE1Size != 0 ? 1 : 0);
    UiSetGadgetState(gPrefWarnClippingCheck, gPrefWarnClipping != 0 ? 1 : 0);
    UpdateHdrControls();
}

bool ReadPreferenceGadgets() {
    const double strength = ParseFloatText(UiGetGadgetText(gPrefNormalStrengthField), true);
    // Written this way round so that NaN is refused too.
    if (!(strength > 0.0 && strength <= 50.0)) {
        UiMessageBox("Preferences", "The normal map strength must be a number between 0 and 50.", UiButtons::Ok,
                     UiIcon::Error, gPrefWindow);
        return false;
    }
    double exposure = ParseFloatText(UiGetGadgetText(gPrefHdrExposureField), true);
    // "NaN" or "Infinity" typed here would black out every HDR picture at the
    // next start and be written to the file as such: take it as no number.
    if (!std::isfinite(exposure)) exposure = 0.0;

    gPrefRememberWindow = UiGetGadgetState(gPrefRememberWindowCheck) == 1 ? 1 : 0;
    gPrefBackground = ClampInt(UiGetGadgetState(gPrefBackgroundCombo), 0, 3);
    gPrefUndoSteps = ClampInt(ParseIntText(UiGetGadgetText(gPrefUndoStepsSpin)), 2, 200);
    gPrefNormalStrength = strength;
    gPrefHdrFixed = UiGetGadgetState(gPrefHdrFixedOption) == 1 ? 1 : 0;
    gPrefHdrExposure = exposure;
    gPrefHdrTone = ClampInt(UiGetGadgetState(gPrefHdrToneCombo), 0, 1);
    gPrefSaveFormat = ClampInt(UiGetGadgetState(gPrefSaveFormatCombo), 0, 7);
    gPrefSaveSourceFolder = UiGetGadgetState(gPrefSaveSourceOption) == 1 ? 1 : 0;
    gPrefWarnDataLoss = UiGetGadgetState(gPrefWarnDataLossCheck) == 1 ? 1 : 0;
    gPrefWarnQE1Size = UiGetGadgetState(gPrefWarnQE1SizeCheck) == 1 ? 1 : 0;
    gPrefWarnClipping = UiGetGadgetState(gPrefWarnClippingCheck) == 1 ? 1 : 0;
    return true;
}

bool ShowPreferencesDialog(int parent) {
    const int window = UiOpenWindow(0, 0, 500, 360, "Preferences", kUiDialogFlags, parent);
    if (!window) return false;
    gPrefWindow = window;
    const int tabs = UiCreateTabPanel(window, 8, 8, 484, 300);
    BuildGeneralPage(UiAddTabPage(tabs, "General"));
    BuildSavingPage(UiAddTabPage(tabs, "Saving"));
    BuildWarningsPage(UiAddTabPage(tabs, "Warnings"));
    const int defaults = UiCreateButton(window, 8, 320, 90, 28, "Defaults");
    const int ok = UiCreateButton(window, 314, 320, 86, 28, "OK", true);
    const int cancel = UiCreateButton(window, 406, 320, 86, 28, "Cancel");
    ShowPreferenceValues();

    UiDialogLoop loop;
    loop.ok = ok;
    loop.cancel = cancel;
    loop.escapeCancels = true;
    loop.onStart = [&] {
        if (gDialogHook) gDialogHook(window, defaults, ok, cancel);
    };
    loop.onConfirm = [](const UiEvent&) {
        if (!ReadPreferenceGadgets()) return UiDialogStep::Stay;
        SavePreferences();
        return UiDialogStep::Confirm;
    };
    loop.onEvent = [&](const UiEvent& event) {
        if (event.kind != UiEventKind::Gadget || event.type != UiEventType::Click) return UiDialogStep::Stay;
        if (event.gadget == gPrefHdrLastOption || event.gadget == gPrefHdrFixedOption) {
            UpdateHdrControls();
        } else if (event.gadget == defaults) {
            // The controls show the defaults; what is in force stays until OK.
            const auto inForce = TakePreferences();
            SetDefaultPreferences();
            ShowPreferenceValues();
            PreferenceGlobals() = inForce;
        }
        return UiDialogStep::Stay;
    };
    const bool confirmed = UiRunModalDialog(window, parent, loop);
    ForgetControls();
    return confirmed;
}
