// The work of a batch conversion, free of any window: one planned output
// path per source, then every source loaded, fitted when a first-generation
// texture asks for it, and written in list order, with one summary text at
// the end. The batch window drives it through the callbacks below, and the
// benchmark driver runs the very same steps.
//
// Items overlap: while one item is encoded the next is already loading, and
// a written item waits for the disk (the flush of its temporary) in the
// background while later items are converted. Every decision is still made
// in list order on the calling thread, against the files as a one-by-one
// run would find them: an item whose output or source may be a file an
// unfinished earlier item still reads or writes waits for that item first.
// An output is renamed into place only once every earlier item has
// finished, so a Stop can still drop the items started ahead without a
// trace. Results, log lines and counts come out exactly as in a run that
// finished each item before starting the next.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "formats/hdr.h"

// What to do with items whose outputs would share one path (compared
// lower-cased): the numbers are the run's collision modes.
enum class BatchSameNames : int {
    None = 0,       // no two outputs share a path
    Number = 1,     // the second gets "_2", the third "_3", ...
    FirstOnly = 2,  // later ones are skipped
};

struct BatchSettings {
    std::string extension;         // target: "tga", "png", "pcx", "bmp", "tif", "jpg", "dds", "tex" or "hdr"
    bool useSourceFolder = true;   // each output beside its source
    std::string outputFolder;      // otherwise this folder, ending in a separator
    bool force = false;            // existing outputs are replaced
    bool fit1024 = true;           // ".tex" output above 1024 pixels is shrunk instead of failing
    BatchSameNames sameNames = BatchSameNames::None;
    HdrDisplaySettings display;    // how HDR sources are shown when loaded
};

// Called on the thread that runs the batch, never from the background. Any
// of them may be empty.
//
// The item in hand is the earliest item not finished yet; items started
// ahead of it convert in the background. A Stop (stopRequested answering
// true, asked right after each itemInHand and each waiting call, the
// caller's moments to take the user's input) ends the run as a one-by-one
// run that polls once per item would end it: taken as item k becomes the
// item in hand, item k is the last one converted; taken while item k is in
// hand, item k + 1 is. Items after the last one are not started, and those
// already started ahead are dropped: no output, not counted, not logged.
struct BatchCallbacks {
    std::function<bool()> stopRequested;
    // Item `item` of `count` (from 1), shown under `name`, is now the item
    // in hand: once for every item the run reaches, in list order.
    std::function<void(int64_t item, int64_t count, const std::string& name)> itemInHand;
    // Called every few hundredths of a second while the run waits for work in
    // the background, so the caller can keep its window alive.
    std::function<void()> waiting;
};

struct BatchOutcome {
    int64_t converted = 0, skipped = 0, failed = 0, resized = 0, lostAlpha = 0;
    bool stopped = false;  // stopRequested() answered true during the run
    std::string log;       // one line per skipped or failed item, in item order
};

// The output path of every source: its folder (or the output folder) + its
// shown name without extension + "." + the extension. `collisions` is set
// when two of them compare equal lower-cased.
std::vector<std::string> PlanBatchOutputs(const std::vector<std::string>& sources, const BatchSettings& settings,
                                          bool& collisions);

// Converts every source to its planned output (the same order and count).
// An output that is its source's file (through a link or a hard link too) is
// never written, and without settings.force no file is replaced, not even
// one that appears while the run works.
BatchOutcome ConvertBatchItems(const std::vector<std::string>& sources, const std::vector<std::string>& outputs,
                               const BatchSettings& settings, const BatchCallbacks& callbacks);

// The run's closing message: the stop note, the counts, the log and the
// notes on resized and flattened files, cut after 3000 characters.
std::string ComposeBatchSummary(const BatchOutcome& outcome, const std::string& extension);

// Testing switch: false converts each item completely before the next starts
// (the reference the overlapped run must match); true restores the overlap.
void SetBatchOverlapForTesting(bool overlap);

// Testing hook: runs on the thread that converts item `item` (from 1) as it
// starts to load its picture (again, when it goes again alone), once the
// picture is loaded and as its output is written to its temporary, so a test
// can hold an item at that point. Set it only while no run works.
enum class BatchItemStep { Loading, Loaded, Written };
void SetBatchItemStepHookForTesting(std::function<void(int64_t item, BatchItemStep step)> hook);
