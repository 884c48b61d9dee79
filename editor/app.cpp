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

void ShowHistogramOrAsk() {
    if (gCurrentImage) {
        ShowHistogramWindow(gCurrentImage.get(), gTexInfo, gHdrExposure, gMainWindow);
    } else {
        UiMessageBox(gAppTitle, "Please open a .tex file first.", UiButtons::Ok, UiIcon::None, gMainWindow);
    }
}

void ShowPreferencesAndApply() {
    if (ShowPreferencesDialog(gMainWindow) != 0) {
        gUndoLimit = gPrefUndoSteps;
        RefreshPreview();
    }
}

using Handler = void (*)();
// Indexed by command id.
const Handler kCommandTable[kCommandCount] = {
    [] { ShowOpenFileDialog(); },                                  // 0 Open
    [] { HandleSaveCommand(); },                                   // 1 Save
    [] { ShowSaveAsDialog(); },                                    // 2 Save As
    [] { if (ConfirmDiscardEdits()) gQuit = 1; },                  // 3 Quit
    [] { ShowBatchWindow(gMainWindow, gLastOpenFolder); },         // 4 Batch conversion
    ShowPreferencesAndApply,                                       // 5 Preferences
    [] { OpenHelpFile(); },                                        // 6 Help
    [] { ShowAbout(); },                                           // 7 About
    [] { StepExposure(+1.0, 0); },                                 // 8 Exposure +1 EV
    [] { StepExposure(-1.0, 0); },                                 // 9 Exposure -1 EV
    [] { StepExposure(0.0, 1); },                                  // 10 Reset exposure
    [] { SetToneMode(0); },                                        // 11 Tone: Editor (clip)
    [] { SetToneMode(1); },                                        // 12 Tone: Filmic
    [] { SetToneMode(1 - gHdrTone); },                             // 13 Switch tone
    ShowHistogramOrAsk,                                            // 14 Histogram
    [] { OpenGroArchiveDialog(); },                                // 15 Open from .gro archive
    [] { HandleResizeCommand(); },                                 // 16 Resize
    [] { HandleChannelCommand(17); },                              // 17 Extract red
    [] { HandleChannelCommand(18); },                              // 18 Extract green
    [] { HandleChannelCommand(19); },                              // 19 Extract blue
    [] { HandleChannelCommand(20); },                              // 20 Extract alpha
    [] { HandleChannelCommand(21); },                              // 21 Load alpha from image
    [] { HandleChannelCommand(22); },                              // 22 Remove alpha
    [] { HandleChannelCommand(23); },                              // 23 Invert alpha
    [] { HandleNormalMapCommand(24); },                            // 24 Flip green
    [] { HandleNormalMapCommand(25); },                            // 25 Flip red
    [] { HandleNormalMapCommand(26); },                            // 26 Rebuild blue
    [] { HandleNormalMapCommand(27); },                            // 27 Normalize
    [] { HandleNormalMapCommand(28); },                            // 28 From height map
    [] { OpenSkyboxTool(); },                                      // 29 Skybox
    [] { if (CanUndo()) ApplyHistoryEntry(GoToPreviousStep()); },  // 30 Undo
    [] { if (CanRedo()) ApplyHistoryEntry(GoToNextStep()); },      // 31 Redo
    [] { if (CanUndo()) ApplyHistoryEntry(GoToOriginalStep()); },  // 32 Revert to original
    [] { HandleLevelsCommand(); },                                 // 33 Levels
    [] { ApplyAutoLevels(); },                                     // 34 Auto levels
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
    // Only a real file with content is opened; an archive entry path, a
    // folder, an empty or missing file are passed over without a word.
    if (argc >= 2 && argv[1] && GetFileKind(argv[1]) == FileKind::File && GetFileSize(argv[1]) > 0)
        OpenFile(argv[1], 0);
}

void RunMainLoop() {
    while (gQuit != 1) {
        const UiEvent event = UiWaitEvent();
        switch (event.kind) {
        case UiEventKind::CloseBox:
            if (event.window == gMainWindow && ConfirmDiscardEdits()) gQuit = 1;
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
