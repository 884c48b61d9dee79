// The batch run: settings checks, output planning with name collisions, then
// load, optional fitting and write of every item, one summary at the end. A
// failed item is logged and counted; it never ends the run.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "adjust/document_ui.h"
#include "editor/batch.h"
#include "formats/dispatch.h"
#include "formats/formats.h"
#include "formats/gro.h"
#include "formats/sizing.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

constexpr const char* kTitle = "Batch conversion";
constexpr size_t kSummaryLimit = 3000;

std::function<void(int64_t)> gItemHook;

// The name part without its extension ("a.b.tga" gives "a.b").
std::string WithoutExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

void SetBatchItemHookForTesting(std::function<void(int64_t)> hook) { gItemHook = std::move(hook); }

void PollBatchCancel() {
    for (;;) {
        const UiEvent event = UiPollEvent();
        if (event.kind == UiEventKind::None) break;
        if (event.kind == UiEventKind::Gadget && event.window == gBatchWindow && event.gadget == gBatchCloseButton)
            gBatchCancel = 1;
    }
    // The work that follows keeps the event loop away for as long as an item
    // takes: what the window shows must be on screen before it starts.
    UiPaintWindowNow(gBatchWindow);
}

void RunBatchConversion(bool selectedOnly) {
    const std::string ext = GetBatchTargetExtension();
    const FormatInfo* target = FindFormatByCanonicalExtension(ext);
    const bool toTexture = target && target->format == ImageFormat::Tex;
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
    const bool dropsAlpha = target && target->dropsAlpha;
    if (dropsAlpha &&
        UiMessageBox(kTitle,
                     ToUpperAscii(ext) + " has no transparency: any transparency in the files will be lost.\nContinue?",
                     UiButtons::YesNo, UiIcon::Warning, gBatchWindow) != 1)
        return;

    std::vector<std::string> outputs;
    std::map<std::string, int64_t> counts;
    bool collisions = false;
    for (const std::string& path : work) {
        const std::string folder = useSource ? GetFolderPart(IsArchivePath(path) ? GetArchivePartOfPath(path) : path)
                                             : gBatchOutputFolder;
        outputs.push_back(folder + WithoutExtension(GetListDisplayName(path)) + "." + ext);
        if (++counts[ToLowerAscii(outputs.back())] >= 2) collisions = true;
    }
    int mode = 0;
    if (collisions) {
        const int answer = UiMessageBox(
            kTitle,
            "Some files have the same name (for example from different subfolders or archives) and would end up as "
            "the same output file.\n\nYes = add a number to the names (name_2, name_3, ...)\nNo = convert only the "
            "first one of each name\nCancel = stop",
            UiButtons::YesNoCancel, UiIcon::Warning, gBatchWindow);
        if (answer == 1)
            mode = 1;
        else if (answer == 0)
            mode = 2;
        else
            return;
    }

    gBatchCancel = 0;
    UiSetGadgetText(gBatchCloseButton, "Stop");
    counts.clear();
    // Outputs already written by this run: a numbered name can meet a source
    // that carries that name itself, and the second write must not replace
    // the first even when overwriting is allowed.
    std::map<std::string, int64_t> written;
    int64_t converted = 0, skipped = 0, failed = 0, resized = 0, lostAlpha = 0;
    std::string log;
    const int64_t n = int64_t(work.size());
    for (int64_t i = 1; i <= n; ++i) {
        if (gBatchCancel == 1) break;
        const std::string& path = work[size_t(i - 1)];
        std::string output = outputs[size_t(i - 1)];
        const std::string name = GetListDisplayName(path);
        UiSetGadgetState(gBatchProgressBar, int(i * 100 / n));
        UiSetGadgetText(gBatchStatusText,
                        "Converting " + std::to_string(i) + " of " + std::to_string(n) + ": " + name);
        PollBatchCancel();
        if (gItemHook) gItemHook(i);

        const int64_t occurrence = ++counts[ToLowerAscii(output)];
        if (occurrence >= 2) {
            if (mode == 2) {
                ++skipped;
                log += name + ": skipped (same name as an earlier file)\n";
                continue;
            }
            output = GetFolderPart(output) + WithoutExtension(GetFilePart(output)) + "_" + std::to_string(occurrence) +
                     "." + ext;
        }
        if (ToLowerAscii(output) == ToLowerAscii(path)) {
            ++skipped;
            log += name + ": skipped (output would overwrite the source file)\n";
            continue;
        }
        if (GetFileKind(output) == FileKind::File && (!force || written.count(ToLowerAscii(output)) != 0)) {
            ++skipped;
            log += GetFilePart(output) + ": skipped (already exists)\n";
            continue;
        }
        TexInfo info;
        ImagePtr image = LoadImageAnySource(path, info, CurrentHdrDisplaySettings());
        if (!image) {
            ++failed;
            log += name + ": " + info.errorText + "\n";
            FreeTexHdrData(info);
            continue;
        }
        if (toTexture && (info.width > 1024 || info.height > 1024)) {
            if (!fit) {
                ++failed;
                log += name + ": larger than 1024 pixels (not allowed for Dravik 1)\n";
                FreeTexHdrData(info);
                continue;
            }
            int w = 0, h = 0;
            FitSizePowerOfTwo(info.width, info.height, 1024, w, h);
            // Without the smaller copy the texture would be written too large
            // for the engine and counted as converted.
            ImagePtr small = ShrinkImageByHalving(*image, w, h);
            if (!small) {
                ++failed;
                log += name + ": larger than 1024 pixels (not allowed for Dravik 1)\n";
                FreeTexHdrData(info);
                continue;
            }
            ++resized;
            image = std::move(small);
        }
        if (info.hasAlpha != 0 && dropsAlpha) ++lostAlpha;
        const std::string result = SaveImageForBatch(*image, info, output, ext);
        if (result.empty()) {
            ++converted;
            written[ToLowerAscii(output)] = 1;
        } else if (result == "not an HDR texture") {
            ++skipped;
            log += name + ": skipped (not an HDR texture, cannot be saved as .hdr)\n";
        } else {
            ++failed;
            log += name + ": " + result + "\n";
        }
        image.reset();
        FreeTexHdrData(info);
    }

    UiSetGadgetText(gBatchCloseButton, "Close");
    UiSetGadgetState(gBatchProgressBar, 0);
    UiSetGadgetText(gBatchStatusText, gBatchCancel == 1 ? "Stopped." : "Done.");

    std::string summary;
    if (gBatchCancel == 1) summary += "Stopped by the user.\n";
    summary += "Converted: " + std::to_string(converted) + "   Skipped: " + std::to_string(skipped) +
               "   Failed: " + std::to_string(failed) + "\n\n";
    summary += log;
    if (resized > 0) summary += std::to_string(resized) + " file(s) were resized to fit 1024 pixels for Dravik 1.\n";
    if (lostAlpha > 0)
        summary += std::to_string(lostAlpha) + " file(s) lost their transparency (" + ToUpperAscii(ext) + ").\n";
    if (summary.size() > kSummaryLimit) {
        // File names may hold UTF-8; a cut inside a character would make the
        // whole text unshowable.
        size_t cut = kSummaryLimit;
        while (cut > 0 && (static_cast<unsigned char>(summary[cut]) & 0xC0) == 0x80) --cut;
        summary = summary.substr(0, cut) + "\n...";
    }
    UiMessageBox(kTitle, summary, UiButtons::Ok, UiIcon::None, gBatchWindow);
}
