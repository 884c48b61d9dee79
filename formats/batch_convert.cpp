// The batch conversion's steps and the overlap of its items. Each started
// item runs on a thread of its own with copies of everything it needs; the
// calling thread keeps the list order, the counters, the item in hand and
// every decision, and lets each output into place in list order.
#include "formats/batch_convert.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <utility>

#include "formats/dispatch.h"
#include "formats/formats.h"
#include "formats/sizing.h"
#include "toolkit/files.h"
#include "toolkit/memory.h"
#include "toolkit/thread.h"

namespace {

constexpr size_t kSummaryLimit = 3000;
// Items loading or encoding at once. Loading is one core's work (a PNG's
// inflate, a JPEG's decode), so several items keep the cores busy; each
// holds its picture, so they are few, and fewer still when the pictures
// are large (see WaitForRoom).
constexpr size_t kItemsConverting = 3;
// The pictures of the converting items stay within this share of the memory
// the process can count on.
constexpr uint64_t kPictureMemoryShare = 4;
// Written items waiting for the disk besides those: a temporary file and two
// descriptors each, no picture.
constexpr size_t kItemsFlushing = 8;
// Flushed items waiting for their turn to be put in place behind a slow
// earlier item: a temporary file and two descriptors each. Without room for
// many, one large picture would hold up the whole run.
constexpr size_t kItemsAwaitingTurn = 64;
constexpr auto kWaitSlice = std::chrono::milliseconds(40);

std::atomic<bool> gOverlap{true};

// The name part without its extension ("a.b.tga" gives "a.b").
std::string WithoutExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// Abandoned: started ahead of the last item of a stopped run, and dropped.
enum class ItemKind { Converted, Skipped, Failed, Abandoned };

struct ItemResult {
    ItemKind kind = ItemKind::Failed;
    std::string line;  // the log line; empty for a converted item
    bool resized = false;
    bool lostAlpha = false;
};

ItemResult Skipped(std::string line) {
    ItemResult result;
    result.kind = ItemKind::Skipped;
    result.line = std::move(line);
    return result;
}

ItemResult OverwritesSource(const std::string& name) {
    return Skipped(name + ": skipped (output would overwrite the source file)\n");
}

ItemResult AlreadyExists(const std::string& output) {
    return Skipped(GetFilePart(output) + ": skipped (already exists)\n");
}

ItemResult Abandoned() {
    ItemResult result;
    result.kind = ItemKind::Abandoned;
    return result;
}

// Everything the conversion of one item reads, copied, so that a background
// thread shares nothing with the rest of the program.
struct ItemWork {
    size_t index = 0;  // in the list, from 0
    std::string source, output, name, extension;
    bool toTexture = false;
    bool fit1024 = false;
    bool dropsAlpha = false;
    bool replace = false;  // the output may replace a file of its name
    HdrDisplaySettings display;
};

// Set only while no run works, so the items' threads read it unguarded.
std::function<void(int64_t, BatchItemStep)> gStepHook;

void ReachStep(const ItemWork& work, BatchItemStep step) {
    if (gStepHook) gStepHook(int64_t(work.index + 1), step);
}

// Loads, fits and writes one item; the picture is gone when it returns.
// `loaded` learns the picture's size in bytes as soon as it is known;
// `abandoned` is asked before each long step that follows the load.
template <typename Loaded, typename Abandon>
ItemResult ConvertItem(const ItemWork& work, Loaded&& loaded, Abandon&& abandoned) {
    ItemResult result;
    TexInfo info;
    ReachStep(work, BatchItemStep::Loading);
    ImagePtr image = LoadImageAnySource(work.source, info, work.display);
    if (!image) {
        result.line = work.name + ": " + info.errorText + "\n";
        FreeTexHdrData(info);
        return result;
    }
    loaded(uint64_t(image->height) * uint64_t(image->pitch));
    ReachStep(work, BatchItemStep::Loaded);
    if (abandoned()) return Abandoned();
    if (work.toTexture && (info.width > 1024 || info.height > 1024)) {
        const std::string tooLarge = work.name + ": larger than 1024 pixels (not allowed for Dravik 1)\n";
        if (!work.fit1024) {
            result.line = tooLarge;
            FreeTexHdrData(info);
            return result;
        }
        int w = 0, h = 0;
        FitSizePowerOfTwo(info.width, info.height, 1024, w, h);
        // Without the smaller copy the texture would be written too large
        // for the engine and counted as converted.
        ImagePtr small = ShrinkImageByHalving(*image, w, h);
        if (!small) {
            result.line = tooLarge;
            FreeTexHdrData(info);
            return result;
        }
        result.resized = true;
        image = std::move(small);
        if (abandoned()) return Abandoned();
    }
    result.lostAlpha = info.hasAlpha != 0 && work.dropsAlpha;
    const std::string written = SaveImageForBatch(*image, info, work.output, work.extension);
    image.reset();
    FreeTexHdrData(info);
    ReachStep(work, BatchItemStep::Written);
    if (written.empty()) {
        result.kind = ItemKind::Converted;
    } else if (written == "not an HDR texture") {
        result = Skipped(work.name + ": skipped (not an HDR texture, cannot be saved as .hdr)\n");
    } else {
        result.line = work.name + ": " + written + "\n";
    }
    return result;
}

// Puts a converted item's output in place; when that fails, so does the item.
// The item started long before: a link to its source may have taken the
// output's name since, and without overwriting, any file of that name (a
// second run's) must stay. Such an item is skipped and its output dropped.
ItemResult PutInPlace(ItemResult result, DeferredCommits& commits, const ItemWork& work) {
    if (result.kind != ItemKind::Converted) return result;
    if (IsSameFile(GetFileIdentity(work.output), GetFileIdentity(work.source))) return OverwritesSource(work.name);
    const CommitResult put = commits.Finish(work.replace ? ExistingFile::Replace : ExistingFile::Keep);
    if (put == CommitResult::AlreadyThere) return AlreadyExists(work.output);
    if (put == CommitResult::Failed) {
        result.kind = ItemKind::Failed;
        result.line = work.name + ": could not write the file\n";
    }
    return result;
}

// ConvertItem with its output flushed to disk once the picture is freed
// (`pictureFreed` runs in between); `settle` gets the result and the held
// output, to put in place or drop from any thread.
template <typename Loaded, typename Freed, typename Abandon, typename Settle>
void ConvertItemThenSettle(const ItemWork& work, Loaded&& loaded, Freed&& pictureFreed, Abandon&& abandoned,
                           Settle&& settle) {
    auto commits = std::make_unique<DeferredCommits>();
    ItemResult result = ConvertItem(work, loaded, abandoned);
    pictureFreed();
    if (result.kind == ItemKind::Converted) commits->Flush();
    commits->Detach();
    settle(std::move(result), std::move(commits));
}

// ConvertItemThenSettle, where memory running out on the way (a
// std::bad_alloc) fails the item as a refusal, settled with no output.
template <typename Loaded, typename Freed, typename Abandon, typename Settle>
void ConvertItemOrFail(const ItemWork& work, Loaded&& loaded, Freed&& pictureFreed, Abandon&& abandoned,
                       Settle&& settle) {
    try {
        ConvertItemThenSettle(work, loaded, pictureFreed, abandoned, settle);
        return;
    } catch (const std::bad_alloc&) {
        NoteMemoryRefusal();
    }
    ItemResult failed;
    failed.line = work.name + ": Not enough memory for the image.\n";
    settle(std::move(failed), nullptr);
}

// The items started and not yet finished, the item in hand, the Stop and the
// results of all items. Only the calling thread waits, reaps, decides and
// calls back. An item's thread converts and flushes, hands its result and
// its held output over under the mutex, and ends; the calling thread takes
// them when the item comes in hand and renames the output into place
// itself, so outputs appear in list order and only after the Stop that
// could drop them has been asked for.
class ItemPipeline {
public:
    ItemPipeline(const std::vector<std::string>& sources, size_t count, const BatchCallbacks& callbacks)
        : sources_(sources), results_(count), callbacks_(callbacks) {}
    // Unwinding from a failure drops every started item, quietly.
    ~ItemPipeline() {
        quiet_ = true;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            dropAll_ = true;
            Changed();
        }
        WaitForAll();
    }
    ItemPipeline(const ItemPipeline&) = delete;
    ItemPipeline& operator=(const ItemPipeline&) = delete;

    void Record(size_t index, ItemResult result) { results_[index] = std::move(result); }

    // Until another item may start without passing the bounds. A picture
    // not loaded yet is counted as large as the largest one so far, and so
    // is the next: a run of huge pictures converts them one at a time. Until
    // the first picture is loaded nothing is known of their sizes, so the
    // first item converts alone that long: items started blindly beside it
    // would be refused memory in a small group, and opened twice.
    void WaitForRoom() {
        static const uint64_t budget = [] {
            const uint64_t usable = GetUsableMemoryBytes();
            return usable > 0 ? usable / kPictureMemoryShare : UINT64_MAX;
        }();
        WaitUntil([this] {
            size_t converting = 0, working = 0;
            uint64_t pictures = largestPicture_;
            for (const Flight& f : flights_) {
                working += !f.handedOver;
                if (!f.converting) continue;
                ++converting;
                pictures += f.pictureBytes != 0 ? f.pictureBytes : largestPicture_;
            }
            if (working >= kItemsConverting + kItemsFlushing ||
                flights_.size() >= kItemsConverting + kItemsFlushing + kItemsAwaitingTurn)
                return false;
            // An item refused memory goes again alone, and nothing starts
            // beside it until it is through.
            if (std::any_of(flights_.begin(), flights_.end(),
                            [](const Flight& f) { return f.awaitingRetry || f.alone; }))
                return false;
            return converting == 0 || (largestPicture_ != 0 && converting < kItemsConverting && pictures <= budget);
        });
    }

    // Until no unfinished item may read or write a file this one reads or
    // writes, so what this item finds on disk is what a one-by-one run finds.
    void WaitForConflicts(const FileIdentity& source, const FileIdentity& output, const std::string& lowerOutput) {
        WaitUntil([&] {
            for (const Flight& f : flights_)
                if (f.lowerOutput == lowerOutput || MayBeSameFile(f.output, output) ||
                    MayBeSameFile(f.source, output) || MayBeSameFile(f.output, source))
                    return false;
            return true;
        });
    }

    void WaitForAll() {
        WaitUntil([this] { return flights_.empty(); });
    }

    // True once a Stop has made an earlier item the last one.
    bool StopsBefore(size_t index) const { return index > last_; }
    bool Stopped() const { return last_ != kNoStop; }

    // True when a finished item of this run wrote that output: a numbered
    // name can meet a source that carries that name itself, and the second
    // write must not replace the first even when overwriting is allowed.
    bool Wrote(const std::string& lowerOutput) const { return written_.count(lowerOutput) != 0; }

    // Converts item `index`: on a thread of its own when overlapping, else
    // here and now.
    void Start(size_t index, ItemWork work, FileIdentity source, FileIdentity output, std::string lowerOutput) {
        if (gOverlap.load(std::memory_order_relaxed)) {
            std::unique_lock<std::mutex> lock(mutex_);
            flights_.push_back({.index = index,
                                .source = std::move(source),
                                .output = std::move(output),
                                .lowerOutput = lowerOutput,
                                .work = work});
            Flight* flight = &flights_.back();
            lock.unlock();
            if (Launch(*flight, work)) return;
            lock.lock();
            // An item waiting to go again alone may have seen this one
            // converting, and must look again.
            flights_.pop_back();
            Changed();
        }
        // Also when the system refuses a thread: the item is converted all
        // the same, once it is in hand, only without overlap.
        WaitForAll();
        if (StopsBefore(index)) return;
        ConvertItemOrFail(
            work, [](uint64_t) {}, [] {}, [] { return false; },
            [&](ItemResult result, std::unique_ptr<DeferredCommits> commits) {
                if (commits) result = PutInPlace(std::move(result), *commits, work);
                NoteWritten(lowerOutput, result);
                Record(index, std::move(result));
            });
    }

    // The results in item order; items never reached, or dropped by a Stop,
    // have none.
    const std::vector<std::optional<ItemResult>>& Results() const { return results_; }

private:
    static constexpr size_t kNoStop = SIZE_MAX;

    struct Flight {
        size_t index;
        FileIdentity source, output;
        std::string lowerOutput;
        ItemWork work;              // the calling thread's copy
        bool converting = true;     // still holds its picture
        bool awaitingRetry = false;  // refused memory beside other items, waits to go again alone
        bool alone = false;          // goes again alone
        uint64_t pictureBytes = 0;  // 0 until loaded
        bool handedOver = false;    // result and output ready for the calling thread
        ItemResult result{};
        std::unique_ptr<DeferredCommits> commits{};  // the held output
        bool taken = false;                          // by the calling thread
        bool done = false;
        Thread thread{};
    };

    // False when the thread cannot be had: none started, or no memory to
    // hand it its work.
    bool Launch(Flight& flight, const ItemWork& work) {
        const AllSignalsBlocked blocked;
        try {
            flight.thread = Thread([this, &flight, work] { Run(flight, work); });
        } catch (const std::exception&) {
            return false;
        }
        return true;
    }

    // On the item's thread.
    void Run(Flight& flight, const ItemWork& work) noexcept {
        ItemResult result;
        std::unique_ptr<DeferredCommits> commits;
        // Several items at once are only a speed-up, which must never change
        // which items are converted: an item whose own work was refused
        // memory and failed goes again once the others are through, alone,
        // and fails only if it does not fit even so. A failure of its own
        // (a damaged file) is final at once, whatever the others meet.
        for (bool alone = false;; alone = true) {
            const MemoryRefusalWatch refusals;
            ConvertItemOrFail(
                work,
                [&](uint64_t bytes) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    flight.pictureBytes = bytes;
                    largestPicture_ = std::max(largestPicture_, bytes);
                    Changed();
                },
                [&] {
                    std::lock_guard<std::mutex> lock(mutex_);
                    flight.converting = false;
                    Changed();
                },
                [&] {
                    std::lock_guard<std::mutex> lock(mutex_);
                    return Dropped(flight.index);
                },
                [&](ItemResult settled, std::unique_ptr<DeferredCommits> held) {
                    result = std::move(settled);
                    commits = std::move(held);
                });
            if (alone || result.kind != ItemKind::Failed || !refusals.Refused() || !AwaitTurnAlone(flight)) break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        HandOver(flight, std::move(result), std::move(commits));
        flight.done = true;
        Changed();
    }

    // Until no other item converts and no earlier item waits to go again;
    // then the item converts alone. False when it has been dropped meanwhile.
    bool AwaitTurnAlone(Flight& flight) {
        std::unique_lock<std::mutex> lock(mutex_);
        flight.converting = false;
        flight.awaitingRetry = true;
        Changed();
        auto myTurn = [&] {
            return std::none_of(flights_.begin(), flights_.end(), [&](const Flight& f) {
                return &f != &flight && (f.converting || (f.awaitingRetry && f.index < flight.index));
            });
        };
        turn_.wait(lock, [&] { return Dropped(flight.index) || myTurn(); });
        flight.awaitingRetry = false;
        const bool go = !Dropped(flight.index);
        flight.converting = flight.alone = go;
        Changed();
        return go;
    }

    // Under the mutex.
    void Changed() {
        ++generation_;
        changed_.notify_all();
        turn_.notify_all();
    }
    void HandOver(Flight& flight, ItemResult result, std::unique_ptr<DeferredCommits> commits) {
        flight.result = std::move(result);
        flight.commits = std::move(commits);
        flight.converting = flight.alone = false;
        flight.handedOver = true;
        Changed();
    }
    bool Dropped(size_t index) const { return dropAll_ || StopsBefore(index); }

    void NoteWritten(const std::string& lowerOutput, const ItemResult& result) {
        if (result.kind == ItemKind::Converted) written_.insert(lowerOutput);
    }

    // Takes in the result of item `index` and puts its output in place, when
    // its thread has handed them over.
    bool Take(size_t index) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto it = std::find_if(flights_.begin(), flights_.end(), [&](const Flight& f) { return f.index == index; });
        if (it == flights_.end() || !it->handedOver) return false;
        ItemResult result = std::move(it->result);
        const std::unique_ptr<DeferredCommits> commits = std::move(it->commits);
        it->taken = true;
        lock.unlock();
        if (commits) result = PutInPlace(std::move(result), *commits, it->work);
        NoteWritten(it->lowerOutput, result);
        results_[index] = std::move(result);
        return true;
    }

    // Joins the threads of items that are over; a dropped item's output
    // goes with it.
    void Reap() {
        for (auto it = flights_.begin(); it != flights_.end();) {
            if (!it->done || !(it->taken || Dropped(it->index))) {
                ++it;
                continue;
            }
            it->thread.join();  // the thread has nothing left to do but end
            it = flights_.erase(it);
        }
    }

    // Moves the item in hand past every finished item, telling the caller of
    // each new one and asking for a Stop before its output is put in place.
    void Advance() {
        if (quiet_) return;
        while (inHand_ < results_.size() && !StopsBefore(inHand_)) {
            if (!announced_) {
                announced_ = true;
                if (callbacks_.itemInHand)
                    callbacks_.itemInHand(int64_t(inHand_ + 1), int64_t(results_.size()),
                                          GetDisplayName(sources_[inHand_]));
                AskForStop(inHand_);
            }
            if (!results_[inHand_] && !Take(inHand_)) return;
            ++inHand_;
            announced_ = false;
        }
    }

    // A Stop makes `last` the last item: what comes after it is dropped,
    // also an item waiting to go again alone.
    void AskForStop(size_t last) {
        if (Stopped() || !callbacks_.stopRequested || !callbacks_.stopRequested()) return;
        for (size_t i = last + 1; i < results_.size(); ++i) results_[i].reset();
        std::lock_guard<std::mutex> lock(mutex_);
        last_ = last;
        Changed();
    }

    // Waits until `ready` holds, reaping finished items and moving the item
    // in hand on; the caller's `waiting` runs after every slice of the wait.
    template <typename Ready>
    void WaitUntil(Ready ready) {
        using Clock = std::chrono::steady_clock;
        std::unique_lock<std::mutex> lock(mutex_);
        Clock::time_point slice = Clock::now() + kWaitSlice;
        for (;;) {
            const uint64_t seen = generation_;
            lock.unlock();
            Advance();
            lock.lock();
            Reap();
            if (ready()) return;
            changed_.wait_until(lock, slice, [&] { return generation_ != seen; });
            if (Clock::now() < slice) continue;
            if (!quiet_) {
                lock.unlock();
                if (callbacks_.waiting) callbacks_.waiting();
                AskForStop(inHand_ + 1);
                lock.lock();
            }
            slice = Clock::now() + kWaitSlice;
        }
    }

    const std::vector<std::string>& sources_;
    std::vector<std::optional<ItemResult>> results_;  // the calling thread's alone
    const BatchCallbacks& callbacks_;
    bool quiet_ = false;             // unwinding: no more calls back
    size_t inHand_ = 0;              // the earliest item not finished
    bool announced_ = false;         // the caller has been told of it
    std::set<std::string> written_;  // lower-cased outputs this run wrote
    std::list<Flight> flights_;      // stable addresses for the threads
    // Written by the calling thread under the mutex, read by the items'.
    size_t last_ = kNoStop;  // the last item a Stop lets convert
    bool dropAll_ = false;   // unwinding
    std::mutex mutex_;
    std::condition_variable changed_;  // for the calling thread
    std::condition_variable turn_;     // for items waiting to go again alone
    uint64_t generation_ = 0;
    uint64_t largestPicture_ = 0;  // bytes of the largest picture loaded in this run
};

}  // namespace

std::vector<std::string> PlanBatchOutputs(const std::vector<std::string>& sources, const BatchSettings& settings,
                                          bool& collisions) {
    std::vector<std::string> outputs;
    std::set<std::string> seen;
    collisions = false;
    for (const std::string& path : sources) {
        const std::string folder = settings.useSourceFolder
                                       ? GetFolderPart(IsArchivePath(path) ? GetArchivePartOfPath(path) : path)
                                       : settings.outputFolder;
        outputs.push_back(folder + WithoutExtension(GetDisplayName(path)) + "." + settings.extension);
        if (!seen.insert(ToLowerAscii(outputs.back())).second) collisions = true;
    }
    return outputs;
}

BatchOutcome ConvertBatchItems(const std::vector<std::string>& sources, const std::vector<std::string>& outputs,
                               const BatchSettings& settings, const BatchCallbacks& callbacks) {
    const FormatInfo* target = FindFormatByCanonicalExtension(settings.extension);
    const size_t n = std::min(sources.size(), outputs.size());
    ItemPipeline pipeline(sources, n, callbacks);
    std::map<std::string, int64_t> counts;
    for (size_t i = 0; i < n; ++i) {
        pipeline.WaitForRoom();
        if (pipeline.StopsBefore(i)) break;
        const std::string& path = sources[i];
        std::string output = outputs[i];
        const std::string name = GetDisplayName(path);

        const int64_t occurrence = ++counts[ToLowerAscii(output)];
        if (occurrence >= 2) {
            if (settings.sameNames == BatchSameNames::FirstOnly) {
                pipeline.Record(i, Skipped(name + ": skipped (same name as an earlier file)\n"));
                continue;
            }
            output = GetFolderPart(output) + WithoutExtension(GetFilePart(output)) + "_" + std::to_string(occurrence) +
                     "." + settings.extension;
        }
        const std::string lowerOutput = ToLowerAscii(output);
        FileIdentity sourceId = GetFileIdentity(path), outputId = GetFileIdentity(output);
        // A link or a second hard link to the source would be written through.
        if (lowerOutput == ToLowerAscii(path) || IsSameFile(outputId, sourceId)) {
            pipeline.Record(i, OverwritesSource(name));
            continue;
        }
        pipeline.WaitForConflicts(sourceId, outputId, lowerOutput);
        if (pipeline.StopsBefore(i)) break;
        if (GetFileKind(output) == FileKind::File && (!settings.force || pipeline.Wrote(lowerOutput))) {
            pipeline.Record(i, AlreadyExists(output));
            continue;
        }
        ItemWork work;
        work.index = i;
        work.source = path;
        work.output = output;
        work.name = name;
        work.extension = settings.extension;
        work.toTexture = target && target->format == ImageFormat::Tex;
        work.fit1024 = settings.fit1024;
        work.dropsAlpha = target && target->dropsAlpha;
        work.replace = settings.force;
        work.display = settings.display;
        pipeline.Start(i, std::move(work), std::move(sourceId), std::move(outputId), lowerOutput);
    }
    pipeline.WaitForAll();

    BatchOutcome outcome;
    for (const std::optional<ItemResult>& result : pipeline.Results()) {
        if (!result) continue;
        outcome.converted += result->kind == ItemKind::Converted;
        outcome.skipped += result->kind == ItemKind::Skipped;
        outcome.failed += result->kind == ItemKind::Failed;
        outcome.resized += result->resized;
        outcome.lostAlpha += result->lostAlpha;
        outcome.log += result->line;
    }
    outcome.stopped = pipeline.Stopped() || (callbacks.stopRequested && callbacks.stopRequested());
    return outcome;
}

std::string ComposeBatchSummary(const BatchOutcome& outcome, const std::string& extension) {
    std::string summary;
    if (outcome.stopped) summary += "Stopped by the user.\n";
    summary += "Converted: " + std::to_string(outcome.converted) + "   Skipped: " + std::to_string(outcome.skipped) +
               "   Failed: " + std::to_string(outcome.failed) + "\n\n";
    summary += outcome.log;
    if (outcome.resized > 0)
        summary += std::to_string(outcome.resized) + " file(s) were resized to fit 1024 pixels for Dravik 1.\n";
    if (outcome.lostAlpha > 0)
        summary += std::to_string(outcome.lostAlpha) + " file(s) lost their transparency (" + ToUpperAscii(extension) +
                   ").\n";
    if (summary.size() > kSummaryLimit) {
        // File names may hold UTF-8; a cut inside a character would make the
        // whole text unshowable.
        size_t cut = kSummaryLimit;
        while (cut > 0 && (static_cast<unsigned char>(summary[cut]) & 0xC0) == 0x80) --cut;
        summary = summary.substr(0, cut) + "\n...";
    }
    return summary;
}

void SetBatchOverlapForTesting(bool overlap) { gOverlap.store(overlap, std::memory_order_relaxed); }

void SetBatchItemStepHookForTesting(std::function<void(int64_t item, BatchItemStep step)> hook) {
    gStepHook = std::move(hook);
}
