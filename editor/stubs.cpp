// Handlers whose features are not built yet: each does nothing (or gives the
// answer that lets the program go on) until its real one replaces it here.
#include "editor/commands.h"

void ShowBatchWindow(int, const std::string&) {}
int ShowPreferencesDialog(int) { return 0; }
void OpenHelpFile() {}
void ShowAbout() {}

void HandleChannelCommand(int64_t) {}
void HandleNormalMapCommand(int64_t) {}
void HandleLevelsCommand() {}
void ApplyAutoLevels() {}
void OpenSkyboxTool() {}

