// The skybox window, its preview and the main window's command that opens it.
#include "skybox/skyboxwin_ui.h"

#include <algorithm>
#include <cmath>

#include "adjust/document_ui.h"
#include "formats/formats.h"
#include "formats/gro_ui.h"
#include "formats/texinfo.h"
#include "skybox/skybox.h"
#include "skybox/skybox_ui.h"
#include "toolkit/files.h"
#include "toolkit/numbers.h"
#include "toolkit/ui/ui.h"

int gSkyboxWindow = 0;
int gSkyboxCanvas = 0;
int gSkyboxStatusText = 0;
int gSkyboxProgressBar = 0;
int gSkyboxExposureField = 0;
int gSkyboxToneCombo = 0;
int gSkyLayoutGadget = 0;
int gSkyFormatGadget = 0;

namespace {

SkyboxWindowHook gWindowHook;

// Keeps the window painted during long steps. Input made meanwhile is
// dropped: a click taken up after the step would act on a state the user
// did not see when making it, and clicks made while waiting would pile up
// (three clicks on "+" during one exposure would step it three times).
void WindowProgress(const std::string& text, int64_t done, int64_t total) {
    if (!gSkyboxWindow) return;
    UiSetGadgetText(gSkyboxStatusText, text);
    int64_t percent = total > 0 ? done * 100 / total : 0;
    UiSetGadgetState(gSkyboxProgressBar, int(std::clamp<int64_t>(percent, 0, 100)));
    while (UiPollEvent().kind != UiEventKind::None) {
    }
    // The step's work keeps the event loop away until the next report, and
    // the toolkit's frame clock is seldom due right now: paint it now.
    UiPaintWindowNow(gSkyboxWindow);
}

double Exposure() { return CurrentHdrDisplaySettings().exposure; }

void ShowExposureText() { UiSetGadgetText(gSkyboxExposureField, FormatFixed(Exposure(), 1)); }

void ApplyExposure() {
    ApplyExposureToSkyboxFaces(CurrentHdrDisplaySettings(), WindowProgress);
    UpdateSkyboxPreview();
}

void ExposureUpdate() {
    ShowExposureText();
    ApplyExposure();
}

void OpenFace(const std::string& path, int window) {
    OpenSkyboxFromFace(
        path, CurrentHdrDisplaySettings(), WindowProgress,
        [] {
            ShowExposureText();
            UpdateSkyboxPreview();
        },
        window);
}

void OnOpenFace(int window) {
    const std::string path =
        UiOpenFileRequester("Open one face of a skybox", gSkyboxFolder,
                            "Skybox faces|" + JoinedFormatPatterns(FormatList::SkyboxFaces) + "|All files (*.*)|*.*",
                            0, window);
    if (path.empty()) return;
    gSkyboxFolder = GetFolderPart(path);
    OpenFace(path, window);
}

void OnFromArchive(int window) {
    const std::string archive = UiOpenFileRequester("Open .gro archive", gSkyboxFolder, "Dravik archive (*.gro)|*.gro", 0, window);
    if (archive.empty()) return;
    const std::string entry = ShowGroChooser(archive, window, 0);
    if (entry.empty()) return;
    OpenFace(archive + "::" + entry, window);
}

void OnExposureLeft() {
    std::string text = UiGetGadgetText(gSkyboxExposureField);
    std::replace(text.begin(), text.end(), ',', '.');
    const double value = ParseFloatText(text);
    // "NaN" and "Infinity" read as numbers but would turn every face black
    // or white for good; the exposure keeps its last usable value.
    if (!std::isfinite(value) || value == Exposure()) return;
    SetHdrExposure(value);
    ApplyExposure();
}

}  // namespace

void ResetSkyboxWindowGlobals() {
    gSkyboxWindow = 0;
    gSkyboxCanvas = 0;
    gSkyboxStatusText = 0;
    gSkyboxProgressBar = 0;
    gSkyboxExposureField = 0;
    gSkyboxToneCombo = 0;
    gSkyLayoutGadget = 0;
    gSkyFormatGadget = 0;
}

void SetSkyboxWindowHookForTesting(SkyboxWindowHook hook) { gWindowHook = std::move(hook); }

void UpdateSkyboxPreview() {
    if (!gSkyboxWindow) return;
    Image* canvas = UiCanvasImage(gSkyboxCanvas);
    if (!canvas) return;
    const int canvasWidth = canvas->width;
    const int canvasHeight = canvas->height;
    FillRect(*canvas, 0, 0, canvasWidth, canvasHeight, MakeColour(60, 60, 60));
    if (!gSkyFaces[0].loaded) {
        UiShowCanvas(gSkyboxCanvas);
        UiSetGadgetText(gSkyboxStatusText,
                        "No skybox loaded. Use 'Open face...' or 'From .gro...' and pick one face (e.g. "
                        "HDR_Cloudy04_N.tex).");
        return;
    }
    int64_t crossWidth = 0, crossHeight = 0;
    GetSkyboxLayoutSize(1, crossWidth, crossHeight);
    if (crossWidth > 0 && crossHeight > 0) {
        double f = double(canvasWidth) / double(crossWidth);
        if (double(canvasHeight) < double(crossHeight) * f) f = double(canvasHeight) / double(crossHeight);
        const int width = int(std::nearbyint(double(crossWidth) * f));
        const int height = int(std::nearbyint(double(crossHeight) * f));
        ImagePtr scaled = width > 0 && height > 0 ? BuildSkyboxPreview(width, height, WindowProgress) : nullptr;
        // The canvas may be the one the progress repaints just used.
        canvas = UiCanvasImage(gSkyboxCanvas);
        if (canvas && scaled)
            DrawImage(*canvas, *scaled, (canvasWidth - width) / 2, (canvasHeight - height) / 2, DrawMode::AlphaBlend);
    }
    UiShowCanvas(gSkyboxCanvas);

    std::string faces;
    for (size_t i = 0; i < gSkyFaces.size(); ++i) {
        const SkyFace& face = gSkyFaces[i];
        if (face.loaded)
            faces += " " + face.letter;
        else if (i != 5)  // sets often come without a bottom face
            faces += " (" + face.letter + " missing)";
    }
    UiSetGadgetState(gSkyboxProgressBar, 0);
    std::string status = "Set: " + gSkyboxName + "  -  faces:" + faces;
    if (AreAllLoadedFacesHdr()) status += "  -  HDR, exposure " + FormatFixed(Exposure(), 1) + " EV";
    UiSetGadgetText(gSkyboxStatusText, status);
}

int ShowSkyboxWindow(int parentWindow, const std::string& startFacePath, const std::string& startFolder) {
    gSkyboxFolder = startFolder;
    const int window = UiOpenWindow(0, 0, 900, 560, "Skybox", kUiCaption | kUiCloseBox | kUiCentreParent, parentWindow);
    gSkyboxWindow = window;
    if (!window) return 0;

    const int openFace = UiCreateButton(window, 8, 8, 110, 26, "Open face...");
    const int fromArchive = UiCreateButton(window, 124, 8, 110, 26, "From .gro...");
    UiCreateLabel(window, 250, 13, 70, 20, "Exposure:");
    const int stepDown = UiCreateButton(window, 320, 8, 30, 26, "-");
    gSkyboxExposureField = UiCreateTextField(window, 352, 9, 50, 24, FormatFixed(Exposure(), 1));
    const int stepUp = UiCreateButton(window, 404, 8, 30, 26, "+");
    const int automatic = UiCreateButton(window, 440, 8, 110, 26, "Auto (whole set)");
    gSkyboxToneCombo = UiCreateCombo(window, 560, 9, 150, 24);
    UiAddItem(gSkyboxToneCombo, "Editor (clip)");
    UiAddItem(gSkyboxToneCombo, "Filmic");
    UiSetGadgetState(gSkyboxToneCombo, CurrentHdrDisplaySettings().tone == HdrTone::Filmic ? 1 : 0);
    gSkyboxCanvas = UiCreateCanvas(window, 8, 42, 884, 420);
    gSkyboxStatusText = UiCreateLabel(window, 8, 468, 680, 20, "");
    gSkyboxProgressBar = UiCreateProgressBar(window, 692, 466, 200, 20, 100);
    UiCreateLabel(window, 8, 500, 50, 20, "Export:");
    gSkyLayoutGadget = UiCreateCombo(window, 60, 496, 250, 24);
    for (const char* item :
         {"Separate faces", "Strip (W N E S side by side)", "Cross (U above N)", "360 degree panorama (2:1)"})
        UiAddItem(gSkyLayoutGadget, item);
    UiSetGadgetState(gSkyLayoutGadget, 0);
    gSkyFormatGadget = UiCreateCombo(window, 320, 496, 260, 24);
    for (ImageFormat format : FormatsIn(FormatList::SkyboxExport))
        UiAddItem(gSkyFormatGadget, FormatLabel(FormatList::SkyboxExport, format));
    UiSetGadgetState(gSkyFormatGadget, 0);
    const int exportButton = UiCreateButton(window, 590, 495, 100, 26, "Export...");
    const int closeButton = UiCreateButton(window, 792, 526, 100, 26, "Close");

    UiDialogLoop loop;
    loop.cancel = closeButton;
    loop.onStart = [&] {
        ResetSkyboxFaces();
        if (!startFacePath.empty())
            OpenFace(startFacePath, window);
        else
            UpdateSkyboxPreview();
        if (gWindowHook) gWindowHook({openFace, fromArchive, stepDown, stepUp, automatic, exportButton, closeButton});
    };
    loop.onEvent = [&](const UiEvent& event) {
        if (event.kind != UiEventKind::Gadget) return UiDialogStep::Stay;
        const int gadget = event.gadget;
        if (gadget == openFace) {
            OnOpenFace(window);
        } else if (gadget == fromArchive) {
            OnFromArchive(window);
        } else if (gadget == stepDown) {
            SetHdrExposure(Exposure() - 1.0);
            ExposureUpdate();
        } else if (gadget == stepUp) {
            SetHdrExposure(Exposure() + 1.0);
            ExposureUpdate();
        } else if (gadget == automatic) {
            SetHdrExposure(std::round(ComputeSkyboxAutoExposure() * 10.0) / 10.0);
            ExposureUpdate();
        } else if (gadget == gSkyboxExposureField) {
            if (event.type == UiEventType::LostFocus) OnExposureLeft();
        } else if (gadget == gSkyboxToneCombo) {
            const int selection = UiGetGadgetState(gSkyboxToneCombo);
            if (event.type == UiEventType::Change && (selection == 0 || selection == 1)) {
                SetHdrTone(HdrToneFromCode(selection));
                ApplyExposure();
            }
        } else if (gadget == exportButton) {
            ExportSkybox(UiGetGadgetState(gSkyLayoutGadget), UiGetGadgetState(gSkyFormatGadget), WindowProgress, window);
        }
        return UiDialogStep::Stay;
    };
    loop.onEnd = [](bool) { ResetSkyboxFaces(); };
    UiRunModalDialog(window, parentWindow, loop);
    ResetSkyboxWindowGlobals();
    if (parentWindow) UiActivateWindow(parentWindow);
    return 0;
}

void OpenSkyboxTool() {
    std::string startFace;
    const std::string& path = GetCurrentPicturePath();
    if (GetCurrentPicture() && IsSkyboxFaceName(GetDisplayName(path))) startFace = path;
    ShowSkyboxWindow(GetMainWindow(), startFace, GetLastOpenFolder());
    // The window may have changed the exposure and tone the open picture shows.
    ApplyHdrDisplaySettings();
}
