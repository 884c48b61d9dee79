// The command table of the main window and the handlers it calls.
//
// Every menu item and keyboard shortcut of the main window carries a command
// id 0..34; a shortcut sends the same id as its menu item.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "editor/globals.h"

constexpr int kCommandCount = 35;

struct CommandShortcut {
    int id;
    int modifiers;  // UiKeyModifier bits
    int key;        // UiKey or a character
};
// The main window's 18 shortcuts.
const std::vector<CommandShortcut>& GetCommandShortcuts();
// Runs the handler of one command id; ids outside the table do nothing.
void DispatchCommand(int id);

// Test hook: sees every handler call the table, the loop and start-up make,
// named as in "HandleChannelCommand(17)". A result of 0 or more stands in for
// the handler (which then does not run) as its result; -1 runs the handler.
using CommandProbe = std::function<int(const std::string& call)>;
void SetCommandProbeForTesting(CommandProbe probe);

// Start-up, main loop and shutdown.
[[noreturn]] void RunMainProgram(int argc, char** argv);
// The steps of RunMainProgram, for tests: everything before the loop; the
// loop until gQuit; the session written and the main window gone.
void StartProgram(int argc, char** argv);
void RunMainLoop();
void FinishProgram();
void ShutdownRuntime();

// Opening, saving and quitting.
void ShowOpenFileDialog();
void OpenGroArchiveDialog();
void OpenFile(const std::string& path, int reload);
bool ConfirmDiscardEdits();
void HandleSaveCommand();
void ShowSaveAsDialog();

// Windows and help.
void ShowBatchWindow(int parentWindow, const std::string& startFolder);
int ShowPreferencesDialog(int parent);
void OpenHelpFile();
void ShowAbout();

// HDR display.
void StepExposure(double step, int reset);
void SetToneMode(int64_t mode);

// Adjustments and tools.
void ShowHistogramWindow(const Image* image, const TexInfo& info, double exposure, int ownerWindow);
void UpdateHistogram(const Image* image, const TexInfo& info, double exposure);
void HandleResizeCommand();
void HandleChannelCommand(int64_t menuId);
void HandleNormalMapCommand(int64_t id);
void HandleLevelsCommand();
void ApplyAutoLevels();
void OpenSkyboxTool();

// Edit history.
void ApplyHistoryEntry(const HistoryEntry* entry);
const HistoryEntry* GoToPreviousStep();
const HistoryEntry* GoToNextStep();
const HistoryEntry* GoToOriginalStep();
bool CanUndo();
bool CanRedo();
bool HasUnsavedEdits();
std::string GetUndoLabel();
std::string GetRedoLabel();
