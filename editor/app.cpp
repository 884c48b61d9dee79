// Start-up, the main event loop with the command table, and shutdown.
#include <cmath>
#include <cstdlib>

#include "editor/commands.h"
#include "editor/globals.h"
#include "editor/mainwindow.h"
#include "editor/prefs.h"
#include "toolkit/displays.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

CommandProbe gProbe;

// One call the command table or the loop makes; a test probe may stand in
// for it (a result of 0 or more is taken as the handler's result).
int Reach(const char* call, const std::function<int()>& handler) {
    if (gProbe) {
        const int result = gProbe(call);
        if (result >= 0) return result;
    }
    return handler();
}

template <typename F>
void Run(const char* call, F handler) {
    Reach(call, [&] {
        handler();
        return 0;
    });
}

bool AskDiscardEdits() { return Reach("ConfirmDiscardEdits()", [] { return ConfirmDiscardEdits() ? 1 : 0; }) != 0; }

void ShowHistogramOrAsk() {
    if (gCurrentImage) {
        Run("ShowHistogramWindow(gCurrentImage, gTexInfo, gHdrExposure, gMainWindow)",
            [] { ShowHistogramWindow(gCurrentImage.get(), gTexInfo, gHdrExposure, gMainWindow); });
    } else {
        UiMessageBox(gAppTitle, "Please open a .tex file first.", UiButtons::Ok, UiIcon::None, gMainWindow);
    }
}

void ShowPreferencesAndApply() {
    if (Reach("ShowPreferencesDialog(gMainWindow)", [] { return ShowPreferencesDialog(gMainWindow); }) != 0) {
        gUndoLimit = gPrefUndoSteps;
        RefreshPreview();
    }
}

void StepHistory(const char* can, bool (*allowed)(), const char* call, const HistoryEntry* (*step)()) {
    if (Reach(can, [allowed] { return allowed() ? 1 : 0; }) != 0) Run(call, [step] { ApplyHistoryEntry(step()); });
}

using Handler = void (*)();
// Indexed by command id.
const Handler kCommandTable[kCommandCount] = {
    [] { Run("ShowOpenFileDialog()", [] { ShowOpenFileDialog(); }); },
    [] { Run("HandleSaveCommand()", [] { HandleSaveCommand(); }); },
    [] { Run("ShowSaveAsDialog()", [] { ShowSaveAsDialog(); }); },
    [] { if (AskDiscardEdits()) gQuit = 1; },
    [] { Run("ShowBatchWindow(gMainWindow, gLastOpenFolder)", [] { ShowBatchWindow(gMainWindow, gLastOpenFolder); }); },
    ShowPreferencesAndApply,
    [] { Run("OpenHelpFile()", [] { OpenHelpFile(); }); },
    [] { Run("ShowAbout()", [] { ShowAbout(); }); },
    [] { Run("StepExposure(1.0, 0)", [] { StepExposure(+1.0, 0); }); },
    [] { Run("StepExposure(-1.0, 0)", [] { StepExposure(-1.0, 0); }); },
    [] { Run("StepExposure(0.0, 1)", [] { StepExposure(0.0, 1); }); },
    [] { Run("SetToneMode(0)", [] { SetToneMode(0); }); },
    [] { Run("SetToneMode(1)", [] { SetToneMode(1); }); },
    [] { Run("SetToneMode(1 - gHdrTone)", [] { SetToneMode(1 - gHdrTone); }); },
    ShowHistogramOrAsk,
    [] { Run("OpenGroArchiveDialog()", [] { OpenGroArchiveDialog(); }); },
    [] { Run("HandleResizeCommand()", [] { HandleResizeCommand(); }); },
    [] { Run("HandleChannelCommand(17)", [] { HandleChannelCommand(17); }); },
    [] { Run("HandleChannelCommand(18)", [] { HandleChannelCommand(18); }); },
    [] { Run("HandleChannelCommand(19)", [] { HandleChannelCommand(19); }); },
    [] { Run("HandleChannelCommand(20)", [] { HandleChannelCommand(20); }); },
    [] { Run("HandleChannelCommand(21)", [] { HandleChannelCommand(21); }); },
    [] { Run("HandleChannelCommand(22)", [] { HandleChannelCommand(22); }); },
    [] { Run("HandleChannelCommand(23)", [] { HandleChannelCommand(23); }); },
    [] { Run("HandleNormalMapCommand(24)", [] { HandleNormalMapCommand(24); }); },
    [] { Run("HandleNormalMapCommand(25)", [] { HandleNormalMapCommand(25); }); },
    [] { Run("HandleNormalMapCommand(26)", [] { HandleNormalMapCommand(26); }); },
    [] { Run("HandleNormalMapCommand(27)", [] { HandleNormalMapCommand(27); }); },
    [] { Run("HandleNormalMapCommand(28)", [] { HandleNormalMapCommand(28); }); },
    [] { Run("OpenSkyboxTool()", [] { OpenSkyboxTool(); }); },
    [] { StepHistory("CanUndo()", CanUndo, "ApplyHistoryEntry(GoToPreviousStep())", GoToPreviousStep); },
    [] { StepHistory("CanRedo()", CanRedo, "ApplyHistoryEntry(GoToNextStep())", GoToNextStep); },
    [] { StepHistory("CanUndo()", CanUndo, "ApplyHistoryEntry(GoToOriginalStep())", GoToOriginalStep); },
    [] { Run("HandleLevelsCommand()", [] { HandleLevelsCommand(); }); },
    [] { Run("ApplyAutoLevels()", [] { ApplyAutoLevels(); }); },
};

WindowPlacement CurrentPlacement() {
    WindowPlacement p;
    const UiWindowState state = UiGetWindowState(gMainWindow);
    p.maximized = state == UiWindowState::Maximized;
    p.minimized = state == UiWindowState::Minimized;
    const UiRect frame = UiGetWindowFrame(gMainWindow);
    const double scale = GetDpiScale();
    p.x = int(std::lround(frame.x / scale));
    p.y = int(std::lround(frame.y / scale));
    p.width = UiGetWindowInnerWidth(gMainWindow);
    p.height = UiGetWindowInnerHeight(gMainWindow);
    return p;
}

}  // namespace

const std::vector<CommandShortcut>& GetCommandShortcuts() {
    static const std::vector<CommandShortcut> shortcuts = {
        {0, kUiCtrl, 'O'},           {1, kUiCtrl, 'S'},         {2, kUiCtrl | kUiShift, 'S'},
        {3, kUiCtrl, 'Q'},           {4, kUiCtrl, 'B'},         {5, kUiCtrl, 'P'},
        {6, kUiCtrl, 'H'},           {8, kUiCtrl, kUiKeyUp},    {9, kUiCtrl, kUiKeyDown},
        {10, kUiCtrl, '0'},          {13, kUiCtrl, 'T'},        {14, kUiCtrl, 'I'},
        {15, kUiCtrl, 'G'},          {16, kUiCtrl, 'R'},        {29, kUiCtrl, 'K'},
        {30, kUiCtrl, 'Z'},          {31, kUiCtrl, 'Y'},        {33, kUiCtrl, 'L'},
    };
    return shortcuts;
}

void SetCommandProbeForTesting(CommandProbe probe) { gProbe = std::move(probe); }

void DispatchCommand(int id) {
    if (id < 0 || id >= kCommandCount) return;
    kCommandTable[id]();
}

void StartProgram(int argc, char** argv) {
    ResetEditorGlobals();
    if (!UiInit()) {
        // Without a display there is no window to show anything in.
        std::exit(1);
    }
    // ResetEditorGlobals gave the start values: exposure 0 EV, editor tone,
    // undo limit 30, no history, the program title, the window at 100, 50
    // with 824 x 448 centred, no DDS format remembered.
    LoadPreferences();
    BuildMainWindow();
    if (gStartMaximized == 1) UiMaximizeWindow(gMainWindow);
    UiSetMenuItemChecked(gMainWindow, 11, gHdrTone == 0);
    UiSetMenuItemChecked(gMainWindow, 12, gHdrTone == 1);
    ResizePreviewToWindow();
    UpdateTitleAndUndoMenu();
    // Only a regular file with content is opened; an archive entry path, a
    // folder, a pipe or device, an empty or missing file are passed over
    // without a word.
    if (argc >= 2 && argv[1] && GetFileSize(argv[1]) > 0)
        Run("OpenFile(argument, 0)", [argv] { OpenFile(argv[1], 0); });
}

void RunMainLoop() {
    while (gQuit != 1) {
        const UiEvent event = UiWaitEvent();
        switch (event.kind) {
        case UiEventKind::CloseBox:
            if (event.window == gMainWindow && AskDiscardEdits()) gQuit = 1;
            break;
        case UiEventKind::Menu: DispatchCommand(event.id); break;
        case UiEventKind::Size: ResizePreviewToWindow(); break;
        default: break;
        }
    }
}

void FinishProgram() {
    if (gMainWindow) SaveSessionSettings(CurrentPlacement());
    ShutdownRuntime();
}

void ShutdownRuntime() {
    ClearPreview();
    UiShutdown();
    gMainWindow = gPreviewScroll = gPreviewCanvas = 0;
}

void RunMainProgram(int argc, char** argv) {
    StartProgram(argc, argv);
    RunMainLoop();
    FinishProgram();
    std::exit(0);
}
