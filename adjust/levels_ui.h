// The Levels dialog and the "Levels..." / "Auto levels" commands. One dialog
// at a time: its state lives here so the live preview, the canvas and the
// fields all see the same setting.
#pragma once

#include <cstdint>
#include <functional>

#include "adjust/document_ui.h"
#include "adjust/levels.h"

// Shows the current picture in the main preview through a view (empty: as it is).
using LevelsPreviewProc = void (*)(const PictureView& view);

extern LevelsSet gLevelsRecords;
extern ChannelHistogram gLevelsCounts;
extern int64_t gLevelsValueCount;
extern LevelsLut gLevelsLut;
extern LevelsClipMarks gLevelsClipMask;
extern int64_t gLevelsClippedCount;
extern const Image* gLevelsSourceImage;
extern LevelsPreviewProc gLevelsPreviewCallback;
extern int gLevelsWindow;
extern int gLevelsChannelCombo, gLevelsCanvas, gLevelsInBlackField, gLevelsGammaField, gLevelsInWhiteField,
    gLevelsOutBlackField, gLevelsOutWhiteField, gLevelsShowClipCheck, gLevelsClipText;

// Clears the dialog state (closed window, neutral setting).
void ResetLevelsGlobals();

// The "Levels..." command: the dialog over the open picture, its setting
// committed as one edit that carries the values it clips.
void HandleLevelsCommand();
// The "Auto levels" command: each channel stretched to its used range.
void ApplyAutoLevels();

// Runs the modal dialog on `source`. True when a non-neutral setting was
// applied: `destination` and `clippedCount` then hold it.
bool RunLevelsDialog(int parentWindow, const Image& source, LevelsSet& destination, LevelsPreviewProc preview,
                     int64_t& clippedCount);
// Table, marks, statistics text and canvas for the current setting; live
// also rebuilds the preview picture.
void UpdateLevelsPreview(bool live);
void DrawLevelsHistogram();
void ShowLevelsChannelValues();
// The field's leading integer (spaces and tabs skipped, optional sign, no
// digits give 0), clamped to low..high.
int64_t ReadClampedField(int field, int64_t low, int64_t high);
// The main preview shows the current picture through `view` for one redraw
// while the picture stays what it is; an empty view redraws it as it is.
void PreviewThroughView(const PictureView& view);

// Test hook: runs once the dialog's window and gadgets exist, before its loop
// waits for the first event, with the buttons the globals do not name (null
// removes it).
using LevelsDialogHook = std::function<void(int ok, int cancel, int autoButton, int resetButton)>;
void SetLevelsDialogHookForTesting(LevelsDialogHook hook);
