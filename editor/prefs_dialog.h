// The "Preferences" window: the twelve preferences of the preferences file on
// three pages. OK stores the controls into the gPref* globals and writes the
// file; Cancel, Escape and the close box leave both untouched.
#pragma once

#include <functional>

// The controls, valid while the window is open (0 otherwise).
extern int gPrefRememberWindowCheck;
extern int gPrefBackgroundCombo;
extern int gPrefUndoStepsSpin;
extern int gPrefNormalStrengthField;
extern int gPrefHdrLastOption;
extern int gPrefHdrFixedOption;
extern int gPrefHdrExposureField;
extern int gPrefHdrToneCombo;
extern int gPrefSaveFormatCombo;
extern int gPrefSaveLastFolderOption;
extern int gPrefSaveSourceOption;
extern int gPrefWarnDataLossCheck;
extern int gPrefWarnQE1SizeCheck;
extern int gPrefWarnClippingCheck;

// True when the user confirmed and the preferences were saved.
bool ShowPreferencesDialog(int parent);
// Fills every control from the preference globals; the exposure field and
// the tone list are enabled only while "Always:" is checked.
void ShowPreferenceValues();
// True when the values were valid and stored in the globals; false (nothing
// stored) when the strength was refused, after telling the user.
bool ReadPreferenceGadgets();

// Test hook: runs once the window is open and filled, before its loop waits.
using PreferencesDialogHook = std::function<void(int window, int defaults, int ok, int cancel)>;
void SetPreferencesDialogHookForTesting(PreferencesDialogHook hook);
