// Start-up, the main event loop with the command table, and shutdown. The
// table and the program's reset are the editor's only ways into the tools.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "adjust/histogram.h"
#include "editor/commands.h"
#include "editor/globals.h"
#include "editor/mainwindow.h"
#include "editor/prefs.h"
#include "formats/gro.h"
#include "skybox/skybox.h"
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
    if (!RequireOpenPicture()) return;
    Run("ShowHistogramWindow(gCurrentImage, gTexInfo, gHdrExposure, gMainWindow)",
        [] { ShowHistogramWindow(gCurrentImage.get(), gTexInfo, gHdrExposure, gMainWindow); });
}

void ShowPreferencesAndApply() {
    if (Reach("ShowPreferencesDialog(gMainWindow)", [] { return ShowPreferencesDialog(gMainWindow) ? 1 : 0; }) != 0) {
        gUndoLimit = gPrefUndoSteps;
        RefreshPreview();
    }
}

void StepHistory(const char* can, bool (*allowed)(), const char* call, const HistoryEntry* (*step)()) {
    if (Reach(can, [allowed] { return allowed() ? 1 : 0; }) != 0) Run(call, [step] { ApplyHistoryEntry(step()); });
}

struct Command {
    CommandId id;
    void (*run)();
};
// In id order, so that a command's number indexes it.
constexpr Command kCommandTable[] = {
    {CommandId::Open, [] { Run("ShowOpenFileDialog()", [] { ShowOpenFileDialog(); }); }},
    {CommandId::Save, [] { Run("HandleSaveCommand()", [] { HandleSaveCommand(); }); }},
    {CommandId::SaveAs, [] { Run("ShowSaveAsDialog()", [] { ShowSaveAsDialog(); }); }},
    {CommandId::Quit, [] { if (AskDiscardEdits()) gQuit = 1; }},
    {CommandId::BatchConversion,
     [] { Run("ShowBatchWindow(gMainWindow, gLastOpenFolder)", [] { ShowBatchWindow(gMainWindow, gLastOpenFolder); }); }},
    {CommandId::Preferences, ShowPreferencesAndApply},
    {CommandId::Help, [] { Run("OpenHelpFile()", [] { OpenHelpFile(); }); }},
    {CommandId::About, [] { Run("ShowAbout()", [] { ShowAbout(); }); }},
    {CommandId::ExposureUp, [] { Run("StepExposure(1.0, 0)", [] { StepExposure(+1.0, false); }); }},
    {CommandId::ExposureDown, [] { Run("StepExposure(-1.0, 0)", [] { StepExposure(-1.0, false); }); }},
    {CommandId::ExposureReset, [] { Run("StepExposure(0.0, 1)", [] { StepExposure(0.0, true); }); }},
    {CommandId::ToneEditor, [] { Run("SetToneMode(0)", [] { SetToneMode(0); }); }},
    {CommandId::ToneFilmic, [] { Run("SetToneMode(1)", [] { SetToneMode(1); }); }},
    {CommandId::ToneSwitch, [] { Run("SetToneMode(1 - gHdrTone)", [] { SetToneMode(1 - gHdrTone); }); }},
    {CommandId::Histogram, ShowHistogramOrAsk},
    {CommandId::OpenFromGro, [] { Run("OpenGroArchiveDialog()", [] { OpenGroArchiveDialog(); }); }},
    {CommandId::Resize, [] { Run("HandleResizeCommand()", [] { HandleResizeCommand(); }); }},
    {CommandId::ExtractRed, [] { Run("HandleChannelCommand(17)", [] { HandleChannelCommand(17); }); }},
    {CommandId::ExtractGreen, [] { Run("HandleChannelCommand(18)", [] { HandleChannelCommand(18); }); }},
    {CommandId::ExtractBlue, [] { Run("HandleChannelCommand(19)", [] { HandleChannelCommand(19); }); }},
    {CommandId::ExtractAlpha, [] { Run("HandleChannelCommand(20)", [] { HandleChannelCommand(20); }); }},
    {CommandId::LoadAlpha, [] { Run("HandleChannelCommand(21)", [] { HandleChannelCommand(21); }); }},
    {CommandId::RemoveAlpha, [] { Run("HandleChannelCommand(22)", [] { HandleChannelCommand(22); }); }},
    {CommandId::InvertAlpha, [] { Run("HandleChannelCommand(23)", [] { HandleChannelCommand(23); }); }},
    {CommandId::FlipGreen, [] { Run("HandleNormalMapCommand(24)", [] { HandleNormalMapCommand(24); }); }},
    {CommandId::FlipRed, [] { Run("HandleNormalMapCommand(25)", [] { HandleNormalMapCommand(25); }); }},
    {CommandId::RebuildBlue, [] { Run("HandleNormalMapCommand(26)", [] { HandleNormalMapCommand(26); }); }},
    {CommandId::Normalize, [] { Run("HandleNormalMapCommand(27)", [] { HandleNormalMapCommand(27); }); }},
    {CommandId::NormalFromHeight, [] { Run("HandleNormalMapCommand(28)", [] { HandleNormalMapCommand(28); }); }},
    {CommandId::Skybox, [] { Run("OpenSkyboxTool()", [] { OpenSkyboxTool(); }); }},
    {CommandId::Undo,
     [] { StepHistory("CanUndo()", CanUndo, "ApplyHistoryEntry(GoToPreviousStep())", GoToPreviousStep); }},
    {CommandId::Redo, [] { StepHistory("CanRedo()", CanRedo, "ApplyHistoryEntry(GoToNextStep())", GoToNextStep); }},
    {CommandId::Revert,
     [] { StepHistory("CanUndo()", CanUndo, "ApplyHistoryEntry(GoToOriginalStep())", GoToOriginalStep); }},
    {CommandId::Levels, [] { Run("HandleLevelsCommand()", [] { HandleLevelsCommand(); }); }},
    {CommandId::AutoLevels, [] { Run("ApplyAutoLevels()", [] { ApplyAutoLevels(); }); }},
};
constexpr bool IsInIdOrder() {
    int number = 0;
    for (const Command& command : kCommandTable)
        if (CommandNumber(command.id) != number++) return false;
    return number == kCommandCount;
}
static_assert(IsInIdOrder(), "the command table lists every command once, in id order");

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
    using enum CommandId;
    static const std::vector<CommandShortcut> shortcuts = {
        {Open, kUiCtrl, 'O'},
        {Save, kUiCtrl, 'S'},
        {SaveAs, kUiCtrl | kUiShift, 'S'},
        {Quit, kUiCtrl, 'Q'},
        {BatchConversion, kUiCtrl, 'B'},
        {Preferences, kUiCtrl, 'P'},
        {Help, kUiCtrl, 'H'},
        {ExposureUp, kUiCtrl, kUiKeyUp},
        {ExposureDown, kUiCtrl, kUiKeyDown},
        {ExposureReset, kUiCtrl, '0'},
        {ToneSwitch, kUiCtrl, 'T'},
        {Histogram, kUiCtrl, 'I'},
        {OpenFromGro, kUiCtrl, 'G'},
        {Resize, kUiCtrl, 'R'},
        {Skybox, kUiCtrl, 'K'},
        {Undo, kUiCtrl, 'Z'},
        {Redo, kUiCtrl, 'Y'},
        {Levels, kUiCtrl, 'L'},
    };
    return shortcuts;
}

void SetCommandProbeForTesting(CommandProbe probe) { gProbe = std::move(probe); }

void DispatchCommand(int id) {
    if (id < 0 || id >= kCommandCount) return;
    kCommandTable[id].run();
}

void ResetEditorGlobals() {
    SetEditorStartValues();
    ClearPreview();
    ResetGroGlobals();
    ResetBatchGlobals();
    ResetHistogramGlobals();
    ResetLevelsGlobals();
    ResetSkyboxGlobals();
    ResetSkyboxWindowGlobals();
}

void StartProgram(int argc, char** argv) {
    ResetEditorGlobals();
    if (!UiInit()) {
        // Without a display there is no window to show anything in, and no
        // box to say so: the one place this program writes to the terminal.
        std::fputs("Dravik Orvanta: cannot open the display.\n", stderr);
        std::exit(1);
    }
    // ResetEditorGlobals gave the start values: exposure 0 EV, editor tone,
    // undo limit 30, no history, the program title, the window at 100, 50
    // with 824 x 448 centred, no DDS format remembered.
    LoadPreferences();
    BuildMainWindow();
    if (gStartMaximized == 1) UiMaximizeWindow(gMainWindow);
    ShowToneMenuTicks();
    ResizePreviewToWindow();
    UpdateTitleAndUndoMenu();
    // Only a regular file with content is opened; an archive entry path, a
    // folder, a pipe or device, an empty or missing file are passed over
    // without a word.
    if (argc >= 2 && argv[1] && GetFileSize(argv[1]) > 0)
        Run("OpenFile(argument, 0)", [argv] { OpenFile(argv[1], false); });
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
