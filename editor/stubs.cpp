// Handlers whose features are not built yet: each does nothing (or gives the
// answer that lets the program go on) until its real one replaces it here.
#include "editor/commands.h"

void ShowOpenFileDialog() {}
void OpenGroArchiveDialog() {}
void OpenFile(const std::string&, int) {}
bool ConfirmDiscardEdits() { return true; }
void HandleSaveCommand() {}
void ShowSaveAsDialog() {}

void ShowBatchWindow(int, const std::string&) {}
int ShowPreferencesDialog(int) { return 0; }
void OpenHelpFile() {}
void ShowAbout() {}

void StepExposure(double, int) {}
void SetToneMode(int64_t) {}

void ShowHistogramWindow(const Image*, const TexInfo&, double, int) {}
void UpdateHistogram(const Image*, const TexInfo&, double) {}
void HandleResizeCommand() {}
void HandleChannelCommand(int64_t) {}
void HandleNormalMapCommand(int64_t) {}
void HandleLevelsCommand() {}
void ApplyAutoLevels() {}
void OpenSkyboxTool() {}

void ApplyHistoryEntry(const HistoryEntry*) {}
const HistoryEntry* GoToPreviousStep() { return nullptr; }
const HistoryEntry* GoToNextStep() { return nullptr; }
const HistoryEntry* GoToOriginalStep() { return nullptr; }
bool CanUndo() { return false; }
bool CanRedo() { return false; }
bool HasUnsavedEdits() { return false; }
std::string GetUndoLabel() { return {}; }
std::string GetRedoLabel() { return {}; }
