// The command table of the main window: the keyboard shortcuts, the
// dispatcher that runs the handler of a command id (CommandId, in
// adjust/document_ui.h), start-up with the main loop that feeds it, and
// shutdown.
//
// The table is the one place in the editor that calls into the tools
// (adjust/*_ui, skybox/*_ui); they never call back into the editor except
// through adjust/document_ui.h. For the table's callers this header brings the
// declaration of every handler it runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "adjust/channels_ui.h"
#include "adjust/document_ui.h"
#include "adjust/histogram_ui.h"
#include "adjust/levels_ui.h"
#include "adjust/normalmap_ui.h"
#include "adjust/resize_ui.h"
#include "editor/about.h"
#include "editor/batch.h"
#include "editor/globals.h"
#include "editor/hdr_menu.h"
#include "editor/history.h"
#include "editor/open.h"
#include "editor/prefs_dialog.h"
#include "editor/save.h"
#include "skybox/skyboxwin_ui.h"

struct CommandShortcut {
    constexpr CommandShortcut(CommandId command, int modifiers, int key)
        : id(CommandNumber(command)), modifiers(modifiers), key(key) {}
    int id;         // the command's number, as the shortcut sends it
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
