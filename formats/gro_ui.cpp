// The ".gro" chooser window and the two helpers that fill and read its list.
#include "formats/gro_ui.h"

#include <algorithm>
#include <utility>

#include "formats/gro.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

GroChooserHook gChooserHook;

std::string TrimSpaces(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Whole kilobytes rounded up, without the overflow of (size + 1023) near the
// top of the 64-bit range.
int64_t KilobytesRoundedUp(int64_t size) { return size / 1024 + (size % 1024 != 0 ? 1 : 0); }

// The list takes the window's room; the buttons stay at the bottom right.
void LayOutChooser(int window, int list, int open, int cancel) {
    const int w = UiGetWindowInnerWidth(window);
    const int h = UiGetWindowInnerHeight(window);
    // -1 would mean "keep" to the layer, so a tiny window clamps at 0.
    UiResizeGadget(list, 8, 40, std::max(0, w - 16), std::max(0, h - 84));
    UiResizeGadget(open, std::max(0, w - 200), std::max(0, h - 36), 92, 28);
    UiResizeGadget(cancel, std::max(0, w - 100), std::max(0, h - 36), 92, 28);
}

}  // namespace

void SetGroChooserHookForTesting(GroChooserHook hook) { gChooserHook = std::move(hook); }

void FillGroEntryList(int listGadget, int countLabel, const std::string& filter) {
    const std::string wanted = ToLowerAscii(TrimSpaces(filter));
    UiHideGadget(listGadget, true);
    UiClearItems(listGadget);
    int rows = 0;
    for (size_t i = 0; i < gGroEntries.size(); ++i) {
        const GroEntry& entry = gGroEntries[i];
        if (!wanted.empty() && ToLowerAscii(entry.name).find(wanted) == std::string::npos) continue;
        const size_t cut = entry.name.find_last_of("/\\");
        const std::string file = cut == std::string::npos ? entry.name : entry.name.substr(cut + 1);
        const std::string folder = cut == std::string::npos ? std::string() : entry.name.substr(0, cut + 1);
        const int row = UiAddItem(listGadget, file + "\n" + std::to_string(KilobytesRoundedUp(entry.size)) +
                                                  " KB\n" + folder);
        UiSetItemData(listGadget, row, int64_t(i));
        ++rows;
    }
    UiHideGadget(listGadget, false);
    UiSetGadgetText(countLabel,
                    std::to_string(rows) + " of " + std::to_string(gGroEntries.size()) + " textures");
}

std::string CollectSelectedGroEntries(int listGadget) {
    gGroSelectedNames.clear();
    std::string first;
    const int rows = UiCountItems(listGadget);
    for (int row = 0; row < rows; ++row) {
        if (!UiIsItemSelected(listGadget, row)) continue;
        const int64_t index = UiGetItemData(listGadget, row);
        // The row data indexes the listing the rows were made from; a stale
        // index names nothing rather than reading past the list.
        if (index < 0 || index >= int64_t(gGroEntries.size())) continue;
        const std::string& name = gGroEntries[size_t(index)].name;
        gGroSelectedNames.push_back(name);
        if (gGroSelectedNames.size() == 1) first = name;
    }
    return first;
}

std::string ShowGroChooser(const std::string& archivePath, int parentWindow, int multiple) {
    gGroSelectedNames.clear();
    if (ListGroTextures(archivePath) < 1) {
        UiMessageBox("Open from .gro", "No .tex files found in\n" + archivePath, UiButtons::Ok, UiIcon::Warning,
                     parentWindow);
        return {};
    }

    const std::string file = GetFilePart(archivePath);
    const std::string title = multiple ? "Choose textures (Ctrl/Shift + click for more) - " + file
                                       : "Choose a texture - " + file;
    const int window =
        UiOpenWindow(0, 0, 760, 520, title, kUiCaption | kUiCloseBox | kUiSizeBorder | kUiCentreParent, parentWindow);
    if (!window) return {};
    UiCreateLabel(window, 8, 12, 40, 20, "Filter:");
    const int filter = UiCreateTextField(window, 52, 8, 300, 24, "");
    const int count = UiCreateLabel(window, 364, 12, 300, 20, "");
    const int list = UiCreateListView(window, 8, 40, 744, 436, kUiFullRowSelect | (multiple ? kUiMultiSelect : 0u));
    UiAddListColumn(list, "Name", 260);
    UiAddListColumn(list, "Size", 70);
    UiAddListColumn(list, "Folder", 400);
    const int open = UiCreateButton(window, 560, 484, 92, 28, "Open", true);
    const int cancel = UiCreateButton(window, 660, 484, 92, 28, "Cancel");

    FillGroEntryList(list, count, "");
    std::string chosen;
    // A row must be selected to choose; Return also takes the first row
    // when none is.
    auto choose = [&] {
        if (UiGetGadgetState(list) < 0) return UiDialogStep::Stay;
        chosen = CollectSelectedGroEntries(list);
        return UiDialogStep::Confirm;
    };
    UiDialogLoop loop;
    loop.ok = open;
    loop.cancel = cancel;
    loop.returnConfirms = loop.escapeCancels = true;
    loop.onStart = [&] {
        // After the window is activated, which would otherwise take the focus.
        UiFocusGadget(filter);
        if (gChooserHook) gChooserHook(window, filter, count, list, open, cancel);
    };
    loop.onConfirm = [&](const UiEvent& event) {
        if (event.kind == UiEventKind::Menu && UiGetGadgetState(list) < 0 && UiCountItems(list) > 0)
            UiSetGadgetState(list, 0);
        return choose();
    };
    loop.onEvent = [&](const UiEvent& event) {
        if (event.kind == UiEventKind::Size) LayOutChooser(window, list, open, cancel);
        if (event.kind != UiEventKind::Gadget) return UiDialogStep::Stay;
        if (event.gadget == filter && event.type == UiEventType::Change)
            FillGroEntryList(list, count, UiGetGadgetText(filter));
        else if (event.gadget == list && event.type == UiEventType::DoubleClick)
            return choose();
        return UiDialogStep::Stay;
    };
    UiRunModalDialog(window, parentWindow, loop);
    // The parent has its focus back; activating it again once the chooser is
    // gone keeps it in front.
    UiActivateWindow(parentWindow);
    return chosen;
}
