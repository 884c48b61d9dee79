// The batch run in its window: settings checks and the questions, then the
// conversion of formats/batch_convert.h with the window's progress, its Stop
// button and one summary at the end. A failed item is logged and counted; it
// never ends the run.
#include <functional>
#include <string>
#include <vector>

#include "adjust/document_ui.h"
#include "editor/batch.h"
#include "formats/batch_convert.h"
#include "formats/formats.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

constexpr const char* kTitle = "Batch conversion";

std::function<void(int64_t)> gItemHook;
std::function<void()> gWaitHook;

}  // namespace

void SetBatchItemHookForTesting(std::function<void(int64_t)> hook) { gItemHook = std::move(hook); }

void SetBatchWaitHookForTesting(std::function<void()> hook) { gWaitHook = std::move(hook); }

void PollBatchCancel() {
    for (;;) {
        const UiEvent event = UiPollEvent();
        if (event.kind == UiEventKind::None) break;
        if (event.kind == UiEventKind::Gadget && event.window == gBatchWindow && event.gadget == gBatchCloseButton)
            gBatchCancel = 1;
    }
    // Until the next poll nothing else lets the window paint: what it shows
    // must be on screen now.
    UiPaintWindowNow(gBatchWindow);
}

void RunBatchConversion(bool selectedOnly) {
    const std::string ext = GetBatchTargetExtension();
    const FormatInfo* target = FindFormatByCanonicalExtension(ext);
    const bool useSource = UiGetGadgetState(gBatchUseSourceCheck) != 0;
    const bool force = UiGetGadgetState(gBatchForceCheck) != 0;
    const bool fit = UiGetGadgetState(gBatchFit1024Check) != 0;

    std::vector<std::string> work;
    for (size_t i = 0; i < gBatchItems.size(); ++i)
        if (!selectedOnly || UiIsItemSelected(gBatchList, int(i))) work.push_back(gBatchItems[i].path);
    if (work.empty()) {
        UiMessageBox(kTitle, "Nothing selected.", UiButtons::Ok, UiIcon::Information, gBatchWindow);
        return;
    }
    if (!useSource && gBatchOutputFolder.empty()) {
        UiMessageBox(kTitle, "Please choose an output folder first (or tick 'Use source folder as output folder').",
                     UiButtons::Ok, UiIcon::Warning, gBatchWindow);
        return;
    }
    if (!useSource && !FolderExists(gBatchOutputFolder)) {
        UiMessageBox(kTitle, "The output folder does not exist:\n" + gBatchOutputFolder, UiButtons::Ok,
                     UiIcon::Warning, gBatchWindow);
        return;
    }
    if (target && target->dropsAlpha &&
        UiMessageBox(kTitle,
                     ToUpperAscii(ext) + " has no transparency: any transparency in the files will be lost.\nContinue?",
                     UiButtons::YesNo, UiIcon::Warning, gBatchWindow) != 1)
        return;

    BatchSettings settings;
    settings.extension = ext;
    settings.useSourceFolder = useSource;
    settings.outputFolder = gBatchOutputFolder;
    settings.force = force;
    settings.fit1024 = fit;
    settings.display = CurrentHdrDisplaySettings();
    bool collisions = false;
    const std::vector<std::string> outputs = PlanBatchOutputs(work, settings, collisions);
    if (collisions) {
        const int answer = UiMessageBox(
            kTitle,
            "Some files have the same name (for example from different subfolders or archives) and would end up as "
            "the same output file.\n\nYes = add a number to the names (name_2, name_3, ...)\nNo = convert only the "
            "first one of each name\nCancel = stop",
            UiButtons::YesNoCancel, UiIcon::Warning, gBatchWindow);
        if (answer == 1)
            settings.sameNames = BatchSameNames::Number;
        else if (answer == 0)
            settings.sameNames = BatchSameNames::FirstOnly;
        else
            return;
    }

    gBatchCancel = 0;
    UiSetGadgetText(gBatchCloseButton, "Stop");
    BatchCallbacks callbacks;
    callbacks.stopRequested = [] { return gBatchCancel == 1; };
    callbacks.itemInHand = [](int64_t i, int64_t n, const std::string& name) {
        UiSetGadgetState(gBatchProgressBar, int(i * 100 / n));
        UiSetGadgetText(gBatchStatusText, "Converting " + std::to_string(i) + " of " + std::to_string(n) + ": " + name);
        PollBatchCancel();
        if (gItemHook) gItemHook(i);
    };
    // Items convert in the background; the window stays alive meanwhile.
    callbacks.waiting = [] {
        if (gWaitHook) gWaitHook();
        PollBatchCancel();
    };
    const BatchOutcome outcome = ConvertBatchItems(work, outputs, settings, callbacks);

    UiSetGadgetText(gBatchCloseButton, "Close");
    UiSetGadgetState(gBatchProgressBar, 0);
    UiSetGadgetText(gBatchStatusText, outcome.stopped ? "Stopped." : "Done.");
    UiMessageBox(kTitle, ComposeBatchSummary(outcome, ext), UiButtons::Ok, UiIcon::None, gBatchWindow);
}
