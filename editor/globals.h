// The editor's program-wide state. It starts cleared; ResetEditorGlobals()
// gives it the start values (start-up calls it once, tests call it between
// cases). Window and gadget handles of the editor's windows live with the
// code that builds those windows. The tools reach the open picture through
// adjust/document_ui.h, never through these globals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/texinfo.h"
#include "toolkit/image.h"

// One step of the edit history. Its picture is shared with the open picture
// while the step is shown, and never changed.
struct HistoryEntry {
    SharedImage image;
    std::string label;
    int64_t width = 0;
    int64_t height = 0;
    int64_t hasAlpha = 0;
    int64_t isHdr = 0;
    int64_t firstMip = 0;
    std::string note;
    std::string saveNameSuffix;
    std::string statusText;
    int64_t clippedCount = 0;
};

// The current picture and what describes it. The picture is the shown step's
// own (one buffer, never changed in place): an edit makes a new one.
extern SharedImage gCurrentImage;
extern TexInfo gTexInfo;
extern std::string gCurrentPath;
extern std::string gSavePath;
extern std::string gStatusText;
extern std::string gSaveNameSuffix;
extern std::string gLastOpenFolder;
extern std::string gLastSaveFolder;
extern int64_t gEditClippedCount;

// Edit history.
extern std::vector<HistoryEntry> gHistory;
extern int64_t gHistoryPos;
extern int64_t gSavedPos;
extern int64_t gUndoLimit;

// HDR display settings.
extern double gHdrExposure;
extern int64_t gHdrTone;

// Program and main window.
extern std::string gAppTitle;
extern int32_t gWindowX, gWindowY, gWindowWidth, gWindowHeight;
extern int64_t gWindowCentre;
extern int64_t gStartMaximized;
extern int64_t gQuit;

// Last DDS choices.
extern int64_t gLastDdsFormat;
extern int64_t gLastDdsMips;

// Preferences (set by the preferences file and dialog).
extern int64_t gPrefRememberWindow;
extern int64_t gPrefBackground;
extern int64_t gPrefUndoSteps;
extern double gPrefNormalStrength;
extern int64_t gPrefHdrFixed;
extern double gPrefHdrExposure;
extern int64_t gPrefHdrTone;
extern int64_t gPrefSaveFormat;
extern int64_t gPrefSaveSourceFolder;
extern int64_t gPrefWarnDataLoss;
extern int64_t gPrefWarnQE1Size;
extern int64_t gPrefWarnClipping;

// The start values of every global declared here.
void SetEditorStartValues();
// The whole program's start state: SetEditorStartValues, and the state of the
// preview, the archive lists, the batch window and the tools. It lives with
// the command table (editor/app.cpp), the one place that reaches every tool.
// The main window stays: tests start over in the window they have.
void ResetEditorGlobals();
