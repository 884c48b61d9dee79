#include "editor/prefs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "adjust/document_ui.h"
#include "editor/globals.h"
#include "toolkit/displays.h"
#include "toolkit/files.h"
#include "toolkit/numbers.h"
#include "toolkit/settings.h"

namespace {

// Exposure steps are whole EV; beyond this no picture shows anything but
// black or white, so such a value can only come from a damaged file.
constexpr double kMaxExposure = 64.0;
// The preferences dialog refuses strengths above this.
constexpr double kMaxNormalStrength = 50.0;

double ReadExposure(const std::string& key, double defaultValue) {
    const double value = ReadPrefFloat(key, defaultValue);
    return std::isfinite(value) && std::fabs(value) <= kMaxExposure ? value : defaultValue;
}

int64_t ReadSwitch(const std::string& key, int64_t defaultValue) { return ReadPrefInt(key, defaultValue) != 0 ? 1 : 0; }

bool Fits32(int64_t v) { return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max(); }

int64_t ToLogical(int64_t device, double scale) {
    const double v = std::floor(double(device) / scale + 0.5);
    // A tiny scale could push the value past what int64 holds.
    constexpr double kLimit = 4.0e18;
    return v >= kLimit ? int64_t(kLimit) : v <= -kLimit ? -int64_t(kLimit) : int64_t(v);
}

}  // namespace

std::string GetPrefsFilePath() {
    const std::string folder = GetConfigFolder() + "Orvanta/";
    if (!FolderExists(folder)) CreateFolder(folder);
    return folder + "Orvanta.prefs";
}

std::string ReadPrefString(const std::string& key, const std::string& defaultValue) {
    std::string value;
    return ReadSettingsValue(GetPrefsFilePath(), key, value) ? value : defaultValue;
}

int64_t ReadPrefInt(const std::string& key, int64_t defaultValue) {
    const std::string text = ReadPrefString(key, std::string());
    return text.empty() ? defaultValue : ParseIntText(text);
}

double ReadPrefFloat(const std::string& key, double defaultValue) {
    const std::string text = ReadPrefString(key, std::string());
    return text.empty() ? defaultValue : ParseFloatText(text);
}

std::string ReadPrefFolder(const std::string& key) {
    const std::string folder = ReadPrefString(key, std::string());
    return !folder.empty() && FolderExists(folder) ? folder : std::string();
}

void WritePrefString(const std::string& key, const std::string& value) {
    WriteSettingsValue(GetPrefsFilePath(), key, value);
}

void WritePrefNumber(const std::string& key, int64_t value) { WritePrefString(key, std::to_string(value)); }

void WritePrefFloat(const std::string& key, double value) { WritePrefString(key, FormatFixed(value, 3)); }

void SetDefaultPreferences() {
    gPrefRememberWindow = 1;
    gPrefBackground = 0;
    gPrefUndoSteps = 30;
    gPrefNormalStrength = 2.0;
    gPrefHdrFixed = 0;
    gPrefHdrExposure = 0.0;
    gPrefHdrTone = 0;
    gPrefSaveFormat = 0;
    gPrefSaveSourceFolder = 0;
    gPrefWarnDataLoss = 1;
    gPrefWarnQE1Size = 1;
    gPrefWarnClipping = 1;
}

void LoadPrefKeys() {
    SetDefaultPreferences();
    gPrefRememberWindow = ReadSwitch("PrefRememberWindow", gPrefRememberWindow);
    gPrefBackground = ClampInt(ReadPrefInt("PrefBackground", gPrefBackground), 0, 3);
    gPrefUndoSteps = ClampInt(ReadPrefInt("PrefUndoSteps", gPrefUndoSteps), 2, 200);
    const double strength = ReadPrefFloat("PrefNormalStrength", gPrefNormalStrength);
    // NaN fails the comparison and falls back as well.
    gPrefNormalStrength = strength > 0.0 && strength <= kMaxNormalStrength ? strength : 2.0;
    gPrefHdrFixed = ReadSwitch("PrefHdrFixed", gPrefHdrFixed);
    gPrefHdrExposure = ReadExposure("PrefHdrExposure", gPrefHdrExposure);
    gPrefHdrTone = ClampInt(ReadPrefInt("PrefHdrTone", gPrefHdrTone), 0, 1);
    gPrefSaveFormat = ClampInt(ReadPrefInt("PrefSaveFormat", gPrefSaveFormat), 0, 7);
    gPrefSaveSourceFolder = ReadSwitch("PrefSaveSourceFolder", gPrefSaveSourceFolder);
    gPrefWarnDataLoss = ReadSwitch("PrefWarnDataLoss", gPrefWarnDataLoss);
    gPrefWarnQE1Size = ReadSwitch("PrefWarnQE1Size", gPrefWarnQE1Size);
    gPrefWarnClipping = ReadSwitch("PrefWarnClipping", gPrefWarnClipping);
}

void LoadPreferences() {
    LoadPrefKeys();
    gUndoLimit = gPrefUndoSteps;

    gLastOpenFolder = ReadPrefFolder("LastOpenFolder");
    gLastSaveFolder = ReadPrefFolder("LastSaveFolder");

    if (gPrefHdrFixed == 1) {
        SetHdrExposure(gPrefHdrExposure);
        gHdrTone = gPrefHdrTone;
    } else {
        SetHdrExposure(ReadExposure("LastHdrExposure", 0.0));
        gHdrTone = ClampInt(ReadPrefInt("LastHdrTone", 0), 0, 1);
    }

    // Only the four DDS choices of the save dialog exist; anything else would
    // preselect a choice that is not there.
    const int64_t ddsFormat = ReadPrefInt("LastDDSFormat", -1);
    gLastDdsFormat = ddsFormat >= 0 && ddsFormat <= 3 ? ddsFormat : -1;
    gLastDdsMips = ReadSwitch("LastDDSMips", 1);

    if (gPrefRememberWindow == 1) {
        // 64 bits until checked: a value beyond 32 bits must not wrap into a
        // plausible placement, nor overflow when the test point is offset.
        const int64_t x = ReadPrefInt("WindowX", -100000);
        const int64_t y = ReadPrefInt("WindowY", -100000);
        const int64_t w = ReadPrefInt("WindowWidth", 0);
        const int64_t h = ReadPrefInt("WindowHeight", 0);
        if (Fits32(x) && Fits32(y) && w >= 300 && Fits32(w) && h >= 200 && Fits32(h) &&
            IsPointOnAMonitor(x + 40, y + 20)) {
            // A size beyond the largest display (stored on another machine,
            // or edited by hand) would put the window's edges out of reach.
            const DisplayRect largest = GetLargestDisplay();
            const double scale = GetDpiScale();
            gWindowX = int32_t(x);
            gWindowY = int32_t(y);
            gWindowWidth = int32_t(std::min(w, std::max<int64_t>(ToLogical(largest.UsableWidth(), scale), 1)));
            gWindowHeight = int32_t(std::min(h, std::max<int64_t>(ToLogical(largest.UsableHeight(), scale), 1)));
            gWindowCentre = 0;
        }
        gStartMaximized = ReadSwitch("WindowMaximized", 0);
    }
}

void SavePreferences() {
    WritePrefNumber("PrefRememberWindow", gPrefRememberWindow);
    WritePrefNumber("PrefBackground", gPrefBackground);
    WritePrefNumber("PrefUndoSteps", gPrefUndoSteps);
    WritePrefFloat("PrefNormalStrength", gPrefNormalStrength);
    WritePrefNumber("PrefHdrFixed", gPrefHdrFixed);
    WritePrefFloat("PrefHdrExposure", gPrefHdrExposure);
    WritePrefNumber("PrefHdrTone", gPrefHdrTone);
    WritePrefNumber("PrefSaveFormat", gPrefSaveFormat);
    WritePrefNumber("PrefSaveSourceFolder", gPrefSaveSourceFolder);
    WritePrefNumber("PrefWarnDataLoss", gPrefWarnDataLoss);
    WritePrefNumber("PrefWarnQE1Size", gPrefWarnQE1Size);
    WritePrefNumber("PrefWarnClipping", gPrefWarnClipping);
}

void SaveSessionSettings(const WindowPlacement& placement) {
    // Written even when the preferences fix the exposure, so that switching
    // back to "last time" resumes from this run.
    WritePrefFloat("LastHdrExposure", gHdrExposure);
    WritePrefNumber("LastHdrTone", gHdrTone);
    WritePrefNumber("LastDDSFormat", gLastDdsFormat);
    WritePrefNumber("LastDDSMips", gLastDdsMips);
    if (gPrefRememberWindow != 1) return;
    WritePrefNumber("WindowMaximized", placement.maximized ? 1 : 0);
    if (placement.maximized || placement.minimized) return;
    WritePrefNumber("WindowX", placement.x);
    WritePrefNumber("WindowY", placement.y);
    WritePrefNumber("WindowWidth", placement.width);
    WritePrefNumber("WindowHeight", placement.height);
}

bool IsPointOnAMonitor(int64_t x, int64_t y) {
    const double scale = GetDpiScale();
    for (const DisplayRect& d : GetDisplays()) {
        const int64_t left = ToLogical(d.x, scale);
        const int64_t top = ToLogical(d.y, scale);
        const int64_t right = ToLogical(int64_t(d.x) + d.width, scale);
        const int64_t bottom = ToLogical(int64_t(d.y) + d.height, scale);
        if (left <= x && x < right && top <= y && y < bottom) return true;
    }
    return false;
}

int64_t ClampInt(int64_t value, int64_t low, int64_t high) {
    if (value < low) return low;
    if (value > high) return high;
    return value;
}
