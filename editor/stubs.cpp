// Handlers whose features are not built yet: each does nothing (or gives the
// answer that lets the program go on) until its real one replaces it here.
#include "editor/commands.h"

int ShowPreferencesDialog(int) { return 0; }
void OpenHelpFile() {}
void ShowAbout() {}

void ShowHistogramWindow(const Image*, const TexInfo&, double, int) {}
void UpdateHistogram(const Image*, const TexInfo&, double) {}
void HandleResizeCommand() {}
void HandleChannelCommand(int64_t) {}
void HandleNormalMapCommand(int64_t) {}
void HandleLevelsCommand() {}
void ApplyAutoLevels() {}
void OpenSkyboxTool() {}

