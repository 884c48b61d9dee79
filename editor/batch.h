// The batch window: a list of source files (single files, folder trees,
// archive entries, drops) of one source format, converted in one run to one
// target format, either next to each source or into one output folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "formats/texinfo.h"
#include "toolkit/image.h"

struct BatchItem {
    std::string path;  // a file path, or "archive.gro::entry/name.tex"
};

// Row i of gBatchList shows gBatchItems[i]; both change together.
extern std::vector<BatchItem> gBatchItems;
extern int gBatchWindow;  // 0 while the window is closed
extern std::string gBatchAddFolder;
extern std::string gBatchOutputFolder;  // ends in a folder separator when set
extern int64_t gBatchCancel;

extern int gBatchAddFilesButton, gBatchAddFolderButton, gBatchAddGroButton, gBatchAddAllGroButton;
extern int gBatchList, gBatchRemoveButton, gBatchRemoveAllButton, gBatchCountText;
extern int gBatchPreviewGadget, gBatchInfoText, gBatchSourceCombo, gBatchTargetCombo;
extern int gBatchUseSourceCheck, gBatchFolderButton, gBatchFolderText, gBatchForceCheck;
extern int gBatchFit1024Check, gBatchConvertSelectedButton, gBatchConvertAllButton;
extern int gBatchCloseButton, gBatchProgressBar, gBatchStatusText;

void ShowBatchWindow(int parentWindow, const std::string& startFolder);
int64_t AddBatchFile(const std::string& path);
int64_t AddBatchFolder(const std::string& folder);
void RemoveSelectedBatchEntries();
void DropNonMatchingBatchItems();
void UpdateBatchControls();
void UpdateBatchCountText();
void ShowBatchEntryInfo();
std::string GetListDisplayName(const std::string& path);
bool IsAcceptedBatchSource(const std::string& path);
std::string GetBatchSourceExtension();
std::string GetBatchTargetExtension();

// The run over the selected rows or over every item.
void RunBatchConversion(bool selectedOnly);
// Takes every pending event; a click on Close/Stop sets gBatchCancel.
void PollBatchCancel();

// Clears the batch state (start-up and between tests).
void ResetBatchGlobals();

// Test hook: runs before each wait of the window's loop, with the number of
// events handled so far.
void SetBatchWindowHookForTesting(std::function<void(int handled)> hook);
// Test hook: runs as each item of a run becomes the item in hand, once the
// window shows it (item counts from 1).
void SetBatchItemHookForTesting(std::function<void(int64_t item)> hook);
// Test hook: runs at each poll the run makes while it waits for items
// converting in the background, before the poll takes the pending events.
void SetBatchWaitHookForTesting(std::function<void()> hook);
