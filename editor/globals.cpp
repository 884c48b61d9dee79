#include "editor/globals.h"


SharedImage gCurrentImage;
TexInfo gTexInfo;
std::string gCurrentPath;
std::string gSavePath;
std::string gStatusText;
std::string gSaveNameSuffix;
std::string gLastOpenFolder;
std::string gLastSaveFolder;
int64_t gEditClippedCount = 0;

std::vector<HistoryEntry> gHistory;
int64_t gHistoryPos = -1;
int64_t gSavedPos = 0;
int64_t gUndoLimit = 30;

double gHdrExposure = 0.0;
int64_t gHdrTone = 0;

std::string gAppTitle = "Dravik Orvanta";
int32_t gWindowX = 100, gWindowY = 50, gWindowWidth = 824, gWindowHeight = 448;
int64_t gWindowCentre = 1;
int64_t gStartMaximized = 0;
int64_t gQuit = 0;

int64_t gLastDdsFormat = -1;
int64_t gLastDdsMips = 1;

int64_t gPrefRememberWindow = 0;
int64_t gPrefBackground = 0;
int64_t gPrefUndoSteps = 0;
double gPrefNormalStrength = 0.0;
int64_t gPrefHdrFixed = 0;
double gPrefHdrExposure = 0.0;
int64_t gPrefHdrTone = 0;
int64_t gPrefSaveFormat = 0;
int64_t gPrefSaveSourceFolder = 0;
int64_t gPrefWarnDataLoss = 0;
int64_t gPrefWarnQE1Size = 0;
int64_t gPrefWarnClipping = 0;

void SetEditorStartValues() {
    gCurrentImage.reset();
    ClearTexInfo(gTexInfo);
    gCurrentPath.clear();
    gSavePath.clear();
    gStatusText.clear();
    gSaveNameSuffix.clear();
    gLastOpenFolder.clear();
    gLastSaveFolder.clear();
    gEditClippedCount = 0;

    gHistory.clear();
    gHistoryPos = -1;
    gSavedPos = 0;
    gUndoLimit = 30;

    gHdrExposure = 0.0;
    gHdrTone = 0;

    gAppTitle = "Dravik Orvanta";
    gWindowX = 100;
    gWindowY = 50;
    gWindowWidth = 824;
    gWindowHeight = 448;
    gWindowCentre = 1;
    gStartMaximized = 0;
    gQuit = 0;

    gLastDdsFormat = -1;
    gLastDdsMips = 1;

    // Preferences start cleared; LoadPreferences gives them their defaults.
    gPrefRememberWindow = 0;
    gPrefBackground = 0;
    gPrefUndoSteps = 0;
    gPrefNormalStrength = 0.0;
    gPrefHdrFixed = 0;
    gPrefHdrExposure = 0.0;
    gPrefHdrTone = 0;
    gPrefSaveFormat = 0;
    gPrefSaveSourceFolder = 0;
    gPrefWarnDataLoss = 0;
    gPrefWarnQE1Size = 0;
    gPrefWarnClipping = 0;
}
