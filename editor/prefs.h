// The preferences file: the user's preferences and the state of the last run,
// kept as "key = value" lines in <config folder>/Orvanta/Orvanta.prefs.
//
// Nothing is cached: every read of a key parses the whole file, every write
// rewrites it atomically. A missing file, a missing key or an empty value
// gives the caller's default; a file that cannot be written is left alone
// without a word, and the program runs on with the values in memory.
#pragma once

#include <cstdint>
#include <string>

// The main window as it is when the program ends: the outer frame's left and
// top and the client area's size, all in 96-DPI units.
struct WindowPlacement {
    bool maximized = false, minimized = false;
    int x = 0, y = 0, width = 0, height = 0;
};

// The file's path; creates the folder when it is missing (each call), and
// returns the path even when the folder cannot be made.
std::string GetPrefsFilePath();

std::string ReadPrefString(const std::string& key, const std::string& defaultValue);
// Integer text ("$" hex, "%" binary, sign, stops at junk); empty gives the default.
int64_t ReadPrefInt(const std::string& key, int64_t defaultValue);
// Decimal text with "." as the point; empty gives the default.
double ReadPrefFloat(const std::string& key, double defaultValue);
// The stored folder when it still exists, else empty.
std::string ReadPrefFolder(const std::string& key);

void WritePrefString(const std::string& key, const std::string& value);
void WritePrefNumber(const std::string& key, int64_t value);
// Written with exactly three decimals.
void WritePrefFloat(const std::string& key, double value);

// The twelve preference globals (gPref*) get their defaults.
void SetDefaultPreferences();
// Defaults, then the twelve "Pref" keys read with their load rules.
void LoadPrefKeys();
// Start-up: the preferences, the undo limit, the last folders, the HDR
// exposure and tone, the last DDS choices and (when remembered) the window.
void LoadPreferences();
// Writes the twelve "Pref" keys (after the preferences dialog is confirmed).
void SavePreferences();
// Shutdown: the run's HDR and DDS choices and, when remembered, the window.
// A maximised or minimised window keeps the last normal placement in the file.
void SaveSessionSettings(const WindowPlacement& placement);

// True when some display contains the point (96-DPI units).
bool IsPointOnAMonitor(int64_t x, int64_t y);
int64_t ClampInt(int64_t value, int64_t low, int64_t high);
