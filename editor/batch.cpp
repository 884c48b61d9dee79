// The batch window: building it, filling the list, previews and the settings
// that persist in the preferences file. The run itself is in batch_run.cpp.
#include "editor/batch.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <utility>

#include "adjust/document_ui.h"
#include "editor/mainwindow.h"
#include "editor/prefs.h"
#include "formats/dispatch.h"
#include "formats/formats.h"
#include "formats/gro.h"
#include "formats/gro_ui.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

std::vector<BatchItem> gBatchItems;
int gBatchWindow = 0;
std::string gBatchAddFolder;
std::string gBatchOutputFolder;
int64_t gBatchCancel = 0;

int gBatchAddFilesButton = 0, gBatchAddFolderButton = 0, gBatchAddGroButton = 0, gBatchAddAllGroButton = 0;
int gBatchList = 0, gBatchRemoveButton = 0, gBatchRemoveAllButton = 0, gBatchCountText = 0;
int gBatchPreviewGadget = 0, gBatchInfoText = 0, gBatchSourceCombo = 0, gBatchTargetCombo = 0;
int gBatchUseSourceCheck = 0, gBatchFolderButton = 0, gBatchFolderText = 0, gBatchForceCheck = 0;
int gBatchFit1024Check = 0, gBatchConvertSelectedButton = 0, gBatchConvertAllButton = 0;
int gBatchCloseButton = 0, gBatchProgressBar = 0, gBatchStatusText = 0;

namespace {

std::function<void(int)> gWindowHook;

// The format a combo has selected; null without a selection.
const FormatInfo* SelectedFormat(int gadget, FormatList list) {
    return gadget ? FormatAt(list, UiGetGadgetState(gadget)) : nullptr;
}

std::string ExtensionAt(int gadget, FormatList list) {
    const FormatInfo* format = SelectedFormat(gadget, list);
    return format ? format->extension : "";
}

bool IsSelected(int gadget, FormatList list, ImageFormat wanted) {
    const FormatInfo* format = SelectedFormat(gadget, list);
    return format && format->format == wanted;
}

void FillFormatCombo(int combo, FormatList list) {
    for (ImageFormat format : FormatsIn(list)) UiAddItem(combo, FormatLabel(list, format));
}

int64_t LastIndexOf(FormatList list) { return int64_t(FormatsIn(list).size()) - 1; }

// Rows selected in the list, in row order.
int CountSelectedRows() {
    int count = 0;
    const int rows = UiCountItems(gBatchList);
    for (int i = 0; i < rows; ++i)
        if (UiIsItemSelected(gBatchList, i)) ++count;
    return count;
}

int FirstSelectedRow() {
    const int rows = UiCountItems(gBatchList);
    for (int i = 0; i < rows; ++i)
        if (UiIsItemSelected(gBatchList, i)) return i;
    return -1;
}

void RemoveItemAt(size_t index) {
    gBatchItems.erase(gBatchItems.begin() + static_cast<std::ptrdiff_t>(index));
    UiRemoveItem(gBatchList, int(index));
}

void SetStatus(const std::string& text) { UiSetGadgetText(gBatchStatusText, text); }

// Folder links can point back up the tree; each real folder is walked once so
// such a loop ends instead of recursing without bound.
int64_t AddFolderTree(const std::string& folder, std::set<std::string>& visited) {
    std::string base = folder;
    if (base.empty() || (base.back() != '/' && base.back() != '\\')) base += '/';
    std::unique_ptr<char, decltype(&free)> real(realpath(base.c_str(), nullptr), &free);
    if (real && !visited.insert(real.get()).second) return 0;
    int64_t added = 0;
    for (const FolderEntry& entry : ScanFolder(base)) {
        if (entry.isFolder)
            added += AddFolderTree(base + entry.name, visited);
        else
            added += AddBatchFile(base + entry.name);
    }
    return added;
}

std::string SourcePatterns(const std::string& ext) {
    const FormatInfo* format = FindFormatByCanonicalExtension(ext);
    return "Source format (*." + ext + ")|" + (format ? FormatPattern(format->format) : "*." + ext);
}

void HandleAddFiles() {
    const std::vector<std::string> files =
        UiOpenFilesRequester("Add files", gBatchAddFolder, SourcePatterns(GetBatchSourceExtension()), 0, gBatchWindow);
    int64_t count = 0;
    for (const std::string& file : files) {
        gBatchAddFolder = GetFolderPart(file);
        count += AddBatchFile(file);
    }
    SetStatus(std::to_string(count) + " file(s) added.");
    UpdateBatchControls();
}

void HandleAddFolder() {
    const std::string folder = UiFolderRequester(
        "Add all ." + GetBatchSourceExtension() + " files from a folder (including subfolders)", gBatchAddFolder,
        gBatchWindow);
    if (folder.empty()) return;
    gBatchAddFolder = folder;
    SetStatus("Searching " + folder + " ...");
    PollBatchCancel();
    const int64_t count = AddBatchFolder(folder);
    SetStatus(std::to_string(count) + " file(s) added from " + folder);
    UpdateBatchControls();
}

void HandleAddFromGro(bool all) {
    const std::string archive =
        UiOpenFileRequester("Open .gro archive", gBatchAddFolder, "Dravik archive (*.gro)|*.gro", 0, gBatchWindow);
    if (archive.empty()) return;
    gBatchAddFolder = GetFolderPart(archive);
    const std::string archiveName = GetFilePart(archive);
    int64_t count = 0;
    if (all) {
        SetStatus("Reading " + archiveName + " ...");
        PollBatchCancel();
        if (ListGroTextures(archive) > 0)
            for (const GroEntry& entry : gGroEntries) count += AddBatchFile(archive + "::" + entry.name);
    } else if (!ShowGroChooser(archive, gBatchWindow, 1).empty()) {
        for (const std::string& name : gGroSelectedNames) count += AddBatchFile(archive + "::" + name);
    }
    SetStatus(std::to_string(count) + " texture(s) added from " + archiveName);
    UpdateBatchControls();
}

void HandleDrop() {
    int64_t count = 0;
    for (const std::string& dropped : UiGetDroppedFiles()) {
        // A drop may carry several paths in one text, one a line.
        size_t start = 0;
        while (start <= dropped.size()) {
            size_t end = dropped.find('\n', start);
            if (end == std::string::npos) end = dropped.size();
            std::string path = dropped.substr(start, end - start);
            if (!path.empty() && path.back() == '\r') path.pop_back();
            if (GetFileKind(path) == FileKind::Folder)
                count += AddBatchFolder(path);
            else if (!path.empty())
                count += AddBatchFile(path);
            start = end + 1;
        }
    }
    SetStatus(std::to_string(count) + " file(s) added (only ." + GetBatchSourceExtension() +
              " files are accepted with this source format).");
    UpdateBatchControls();
}

void BuildWindow(int parentWindow) {
    const int w = gBatchWindow = UiOpenWindow(0, 0, 1000, 640, "Batch conversion", kUiDialogFlags, parentWindow);
    gBatchAddFilesButton = UiCreateButton(w, 8, 8, 110, 26, "Add files...");
    gBatchAddFolderButton = UiCreateButton(w, 122, 8, 110, 26, "Add folder...");
    gBatchAddGroButton = UiCreateButton(w, 236, 8, 120, 26, "Add from .gro...");
    gBatchAddAllGroButton = UiCreateButton(w, 360, 8, 130, 26, "Add all from .gro...");
    gBatchList = UiCreateListView(w, 8, 40, 482, 512, kUiMultiSelect | kUiFullRowSelect);
    UiAddListColumn(gBatchList, "File", 190);
    UiAddListColumn(gBatchList, "Location", 400);
    UiEnableFileDrop(gBatchList, true);
    gBatchRemoveButton = UiCreateButton(w, 8, 558, 120, 26, "Remove selected");
    gBatchRemoveAllButton = UiCreateButton(w, 132, 558, 100, 26, "Remove all");
    gBatchCountText = UiCreateLabel(w, 240, 563, 250, 20, "");
    gBatchPreviewGadget = UiCreateCanvas(w, 500, 8, 492, 300);
    gBatchInfoText = UiCreateLabel(w, 500, 312, 492, 20, "", kUiSunken);
    UiCreateLabel(w, 500, 344, 100, 20, "Source format:");
    gBatchSourceCombo = UiCreateCombo(w, 610, 340, 382, 24);
    FillFormatCombo(gBatchSourceCombo, FormatList::BatchSource);
    UiCreateLabel(w, 500, 376, 100, 20, "Output format:");
    gBatchTargetCombo = UiCreateCombo(w, 610, 372, 382, 24);
    FillFormatCombo(gBatchTargetCombo, FormatList::BatchTarget);
    gBatchUseSourceCheck = UiCreateCheckBox(w, 500, 406, 492, 22, "Use source folder as output folder");
    gBatchFolderButton = UiCreateButton(w, 500, 432, 120, 26, "Output folder...");
    gBatchFolderText = UiCreateLabel(w, 626, 437, 366, 20, "");
    gBatchForceCheck = UiCreateCheckBox(w, 500, 464, 492, 22, "Force overwriting existing files");
    gBatchFit1024Check =
        UiCreateCheckBox(w, 500, 488, 492, 22, "Dravik 1 .tex: resize textures larger than 1024 pixels");
    gBatchConvertSelectedButton = UiCreateButton(w, 500, 520, 160, 30, "Convert Selected");
    gBatchConvertAllButton = UiCreateButton(w, 666, 520, 160, 30, "Convert All");
    gBatchCloseButton = UiCreateButton(w, 892, 520, 100, 30, "Close");
    gBatchProgressBar = UiCreateProgressBar(w, 8, 596, 984, 16, 100);
    gBatchStatusText =
        UiCreateLabel(w, 8, 616, 984, 20, "Add files with the buttons above the list, or drag them onto the list.");
    UiSetGadgetState(gBatchSourceCombo, 0);
    UiSetGadgetState(gBatchTargetCombo, 0);
    UiSetGadgetState(gBatchUseSourceCheck, 1);
    UiSetGadgetState(gBatchFit1024Check, 1);
}

void ApplyPreferences() {
    UiSetGadgetState(gBatchSourceCombo,
                     int(ClampInt(ReadPrefInt("BatchSource", 0), 0, LastIndexOf(FormatList::BatchSource))));
    UiSetGadgetState(gBatchTargetCombo,
                     int(ClampInt(ReadPrefInt("BatchOutput", 0), 0, LastIndexOf(FormatList::BatchTarget))));
    UiSetGadgetState(gBatchUseSourceCheck, ReadPrefInt("BatchUseSource", 1) != 0 ? 1 : 0);
    UiSetGadgetState(gBatchForceCheck, ReadPrefInt("BatchForce", 0) != 0 ? 1 : 0);
    UiSetGadgetState(gBatchFit1024Check, ReadPrefInt("BatchFit1024", 1) != 0 ? 1 : 0);
    if (gBatchOutputFolder.empty()) gBatchOutputFolder = ReadPrefFolder("BatchOutputFolder");
}

void SaveBatchPreferences() {
    WritePrefNumber("BatchSource", UiGetGadgetState(gBatchSourceCombo));
    WritePrefNumber("BatchOutput", UiGetGadgetState(gBatchTargetCombo));
    WritePrefNumber("BatchUseSource", UiGetGadgetState(gBatchUseSourceCheck) != 0 ? 1 : 0);
    WritePrefNumber("BatchForce", UiGetGadgetState(gBatchForceCheck) != 0 ? 1 : 0);
    WritePrefNumber("BatchFit1024", UiGetGadgetState(gBatchFit1024Check) != 0 ? 1 : 0);
    WritePrefString("BatchOutputFolder", gBatchOutputFolder);
}

}  // namespace

void SetBatchWindowHookForTesting(std::function<void(int)> hook) { gWindowHook = std::move(hook); }

void ResetBatchGlobals() {
    gBatchItems.clear();
    gBatchWindow = 0;
    gBatchAddFolder.clear();
    gBatchOutputFolder.clear();
    gBatchCancel = 0;
    for (int* gadget : {&gBatchAddFilesButton, &gBatchAddFolderButton, &gBatchAddGroButton, &gBatchAddAllGroButton,
                        &gBatchList, &gBatchRemoveButton, &gBatchRemoveAllButton, &gBatchCountText,
                        &gBatchPreviewGadget, &gBatchInfoText, &gBatchSourceCombo, &gBatchTargetCombo,
                        &gBatchUseSourceCheck, &gBatchFolderButton, &gBatchFolderText, &gBatchForceCheck,
                        &gBatchFit1024Check, &gBatchConvertSelectedButton, &gBatchConvertAllButton,
                        &gBatchCloseButton, &gBatchProgressBar, &gBatchStatusText})
        *gadget = 0;
}

std::string GetBatchSourceExtension() { return ExtensionAt(gBatchSourceCombo, FormatList::BatchSource); }
std::string GetBatchTargetExtension() { return ExtensionAt(gBatchTargetCombo, FormatList::BatchTarget); }

std::string GetListDisplayName(const std::string& path) { return GetDisplayName(path); }

bool IsAcceptedBatchSource(const std::string& path) {
    const std::string name = IsArchivePath(path) ? GetEntryPartOfPath(path) : path;
    // ".tiff" and ".jpeg" files count as the format's own extension.
    const FormatInfo* format = FindFormat(GetLowerExtension(GetTextAfterLastSeparator(name)));
    return format && format->extension == GetBatchSourceExtension();
}

int64_t AddBatchFile(const std::string& path) {
    if (!IsAcceptedBatchSource(path)) return 0;
    const std::string lower = ToLowerAscii(path);
    for (const BatchItem& item : gBatchItems)
        if (ToLowerAscii(item.path) == lower) return 0;
    gBatchItems.push_back(BatchItem{path});
    UiAddItem(gBatchList, GetListDisplayName(path) + "\n" + DescribeFileLocation(path));
    return 1;
}

int64_t AddBatchFolder(const std::string& folder) {
    std::set<std::string> visited;
    return AddFolderTree(folder, visited);
}

void RemoveSelectedBatchEntries() {
    for (size_t i = gBatchItems.size(); i-- > 0;)
        if (UiIsItemSelected(gBatchList, int(i))) RemoveItemAt(i);
}

void DropNonMatchingBatchItems() {
    int64_t refused = 0;
    for (const BatchItem& item : gBatchItems)
        if (!IsAcceptedBatchSource(item.path)) ++refused;
    if (refused == 0) return;
    UiMessageBox("Batch conversion",
                 std::to_string(refused) + " file(s) in the list do not match the new source format and were removed.",
                 UiButtons::Ok, UiIcon::Information, gBatchWindow);
    for (size_t i = gBatchItems.size(); i-- > 0;)
        if (!IsAcceptedBatchSource(gBatchItems[i].path)) RemoveItemAt(i);
}

void UpdateBatchControls() {
    const bool tex = IsSelected(gBatchSourceCombo, FormatList::BatchSource, ImageFormat::Tex);
    UiEnableGadget(gBatchAddGroButton, tex);
    UiEnableGadget(gBatchAddAllGroButton, tex);
    const bool any = !gBatchItems.empty();
    for (int g : {gBatchRemoveButton, gBatchRemoveAllButton, gBatchConvertSelectedButton, gBatchConvertAllButton})
        UiEnableGadget(g, any);
    const bool archived = std::any_of(gBatchItems.begin(), gBatchItems.end(),
                                      [](const BatchItem& item) { return IsArchivePath(item.path); });
    if (archived && UiGetGadgetState(gBatchUseSourceCheck) != 0) UiSetGadgetState(gBatchUseSourceCheck, 0);
    UiEnableGadget(gBatchUseSourceCheck, !archived);
    const bool useSource = UiGetGadgetState(gBatchUseSourceCheck) != 0;
    UiEnableGadget(gBatchFolderButton, !useSource);
    if (useSource)
        UiSetGadgetText(gBatchFolderText, "(next to each source file)");
    else
        UiSetGadgetText(gBatchFolderText, gBatchOutputFolder.empty() ? "(no folder chosen)" : gBatchOutputFolder);
    UiEnableGadget(gBatchFit1024Check, IsSelected(gBatchTargetCombo, FormatList::BatchTarget, ImageFormat::Tex));
    UpdateBatchCountText();
}

void UpdateBatchCountText() {
    UiSetGadgetText(gBatchCountText, std::to_string(gBatchItems.size()) + " files, " +
                                         std::to_string(CountSelectedRows()) + " selected");
}

void ShowBatchEntryInfo() {
    Image* canvas = UiCanvasImage(gBatchPreviewGadget);
    if (canvas) FillRect(*canvas, 0, 0, canvas->width, canvas->height, MakeColour(60, 60, 60));
    const int row = FirstSelectedRow();
    if (row < 0 || size_t(row) >= gBatchItems.size()) {
        UiSetGadgetText(gBatchInfoText, "");
        UiShowCanvas(gBatchPreviewGadget);
        return;
    }
    const std::string& path = gBatchItems[size_t(row)].path;
    TexInfo info;
    ImagePtr image = LoadImageAnySource(path, info, CurrentHdrDisplaySettings());
    if (!image) {
        UiSetGadgetText(gBatchInfoText, GetListDisplayName(path) + ": " + info.errorText);
        FreeTexHdrData(info);
        UiShowCanvas(gBatchPreviewGadget);
        return;
    }
    if (canvas && image->width > 0 && image->height > 0) {
        const int cw = canvas->width, ch = canvas->height;
        double scale = double(cw) / image->width;
        if (ch < image->height * scale) scale = double(ch) / image->height;
        scale = std::min(scale, 1.0);
        const int w = std::max(1, int(std::lround(image->width * scale)));
        const int h = std::max(1, int(std::lround(image->height * scale)));
        // A picture that finds no room for its small copy is not shown (its
        // corner at full size would pass for the whole); the text still is.
        if (w != image->width) image = ResizeImage(*image, w, h, ResizeMode::Smooth);
        const int left = (cw - w) / 2, top = (ch - h) / 2;
        for (int y = 0; image && y < h; y += 8)
            for (int x = 0; x < w; x += 8)
                FillRect(*canvas, left + x, top + y, 8, 8,
                         (x / 8 + y / 8) % 2 == 0 ? MakeColour(255, 255, 255) : MakeColour(204, 204, 204));
        if (image) DrawImage(*canvas, *image, left, top, DrawMode::AlphaBlend);
    }
    std::string text = GetListDisplayName(path) + "   " + std::to_string(info.width) + " x " +
                       std::to_string(info.height);
    switch (info.kind) {
        case 1: text += "   DK1 version " + std::to_string(info.texVersion); break;
        case 2: text += "   DK2, " + info.formatText; break;
        case 3: text += "   DK3, " + info.formatText; break;
        default: text += "   " + info.formatText; break;
    }
    if (info.hasAlpha != 0) text += ", with transparency";
    if (info.isHdr != 0) text += ", HDR";
    UiSetGadgetText(gBatchInfoText, text);
    FreeTexHdrData(info);
    UiShowCanvas(gBatchPreviewGadget);
}

namespace {

// One gadget event of the open window; rememberedRow is the first selected
// row whose entry the preview shows.
void HandleWindowGadget(const UiEvent& event, int& rememberedRow) {
    const int g = event.gadget;
    if (g == gBatchList) {
        if (event.type == UiEventType::FilesDropped) {
            HandleDrop();
        } else {
            const int first = FirstSelectedRow();
            if (first != rememberedRow) {
                rememberedRow = first;
                ShowBatchEntryInfo();
            }
        }
        UpdateBatchCountText();
    } else if (g == gBatchAddFilesButton) {
        HandleAddFiles();
    } else if (g == gBatchAddFolderButton) {
        HandleAddFolder();
    } else if (g == gBatchAddGroButton || g == gBatchAddAllGroButton) {
        HandleAddFromGro(g == gBatchAddAllGroButton);
    } else if (g == gBatchRemoveButton) {
        RemoveSelectedBatchEntries();
        UpdateBatchControls();
        ShowBatchEntryInfo();
    } else if (g == gBatchRemoveAllButton) {
        gBatchItems.clear();
        UiClearItems(gBatchList);
        UpdateBatchControls();
        ShowBatchEntryInfo();
    } else if (g == gBatchSourceCombo) {
        if (event.type != UiEventType::Change) return;
        DropNonMatchingBatchItems();
        UpdateBatchControls();
        ShowBatchEntryInfo();
    } else if (g == gBatchTargetCombo || g == gBatchUseSourceCheck) {
        UpdateBatchControls();
    } else if (g == gBatchFolderButton) {
        const std::string folder = UiFolderRequester("Choose the output folder", gBatchOutputFolder, gBatchWindow);
        if (!folder.empty()) {
            gBatchOutputFolder = folder;
            UpdateBatchControls();
        }
    } else if (g == gBatchConvertSelectedButton) {
        RunBatchConversion(true);
    } else if (g == gBatchConvertAllButton) {
        RunBatchConversion(false);
    }
}

}  // namespace

void ShowBatchWindow(int parentWindow, const std::string& startFolder) {
    gBatchAddFolder = startFolder;
    BuildWindow(parentWindow);
    if (gBatchWindow == 0) return;
    ApplyPreferences();
    gBatchItems.clear();
    UpdateBatchControls();
    ShowBatchEntryInfo();
    // Close, the close box and nothing else end the window.
    int rememberedRow = -2;
    UiDialogLoop loop;
    loop.cancel = gBatchCloseButton;
    loop.beforeWait = [](int handled) {
        if (gWindowHook) gWindowHook(handled);
    };
    loop.onEvent = [&](const UiEvent& event) {
        if (event.kind == UiEventKind::Gadget) HandleWindowGadget(event, rememberedRow);
        return UiDialogStep::Stay;
    };
    loop.onEnd = [](bool) { SaveBatchPreferences(); };
    UiRunModalDialog(gBatchWindow, parentWindow, loop);
    gBatchWindow = 0;
    UiActivateWindow(parentWindow);
}
