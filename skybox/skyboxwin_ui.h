// The skybox window: a modal window over the main window in which a face set
// is opened (from files or a ".gro" archive), given a common HDR exposure and
// tone, previewed as a cross and exported.
#pragma once

#include <functional>
#include <string>

// Window and gadget numbers; all 0 while the window is not open.
extern int gSkyboxWindow;
extern int gSkyboxCanvas;
extern int gSkyboxStatusText;
extern int gSkyboxProgressBar;
extern int gSkyboxExposureField;
extern int gSkyboxToneCombo;
extern int gSkyLayoutGadget;
extern int gSkyFormatGadget;

void ResetSkyboxWindowGlobals();

// The "Skybox..." command: the window, starting with the open picture's set
// when the picture is a skybox face.
void OpenSkyboxTool();

// Runs the window until it is closed. The face table is emptied when it
// opens and again when it closes. Always 0.
int ShowSkyboxWindow(int parentWindow, const std::string& startFacePath, const std::string& startFolder);
// Redraws the preview and the status line; nothing while the window is closed.
void UpdateSkyboxPreview();

// Test hook: called once the window is built and the start face (if any) is
// loaded, before the window waits for the user, with the buttons' numbers.
struct SkyboxWindowButtons {
    int openFace = 0, fromArchive = 0, stepDown = 0, stepUp = 0, automatic = 0, exportButton = 0, close = 0;
};
using SkyboxWindowHook = std::function<void(const SkyboxWindowButtons&)>;
void SetSkyboxWindowHookForTesting(SkyboxWindowHook hook);
