// The batch conversion's steps and the overlap of its items. Each started
// item runs on a thread of its own with copies of everything it needs; the
// calling thread keeps the list order, the counters and every decision.
#include "formats/batch_convert.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "formats/dispatch.h"
#include "formats/formats.h"
#include "formats/sizing.h"
#include "toolkit/files.h"
#include "toolkit/memory.h"

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
constexpr auto kWaitSlice = std::chrono::milliseconds(40);

std::atomic<bool> gOverlap{true};

// The name part without its extension ("a.b.tga" gives "a.b").
std::string WithoutExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

enum class ItemKind { Converted, Skipped, Failed };

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

// Everything the conversion of one item reads, copied, so that a background
// thread shares nothing with the rest of the program.
struct ItemWork {
    std::string source, output, name, extension;
    bool toTexture = false;
    bool fit1024 = false;
    bool dropsAlpha = false;
    HdrDisplaySettings display;
};

// Loads, fits and writes one item; the picture is gone when it returns.
// `loaded` learns the picture's size in bytes as soon as it is known.
template <typename Loaded>
ItemResult ConvertItem(const ItemWork& work, Loaded&& loaded) {
    ItemResult result;
    TexInfo info;
    ImagePtr image = LoadImageAnySource(work.source, info, work.display);
    if (!image) {
        result.line = work.name + ": " + info.errorText + "\n";
        FreeTexHdrData(info);
        return result;
    }
    loaded(uint64_t(image->height) * uint64_t(image->pitch));
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
    }
    result.lostAlpha = info.hasAlpha != 0 && work.dropsAlpha;
    const std::string written = SaveImageForBatch(*image, info, work.output, work.extension);
    image.reset();
    FreeTexHdrData(info);
    if (written.empty()) {
        result.kind = ItemKind::Converted;
    } else if (written == "not an HDR texture") {
        result = Skipped(work.name + ": skipped (not an HDR texture, cannot be saved as .hdr)\n");
    } else {
        result.line = work.name + ": " + written + "\n";
    }
    return result;
}

// ConvertItem with the flush and rename of its output held back until the
// picture is freed; `pictureFreed` runs in between.
template <typename Loaded, typename Freed>
ItemResult ConvertItemThenFlush(const ItemWork& work, Loaded&& loaded, Freed&& pictureFreed) {
    DeferredCommits commits;
    ItemResult result = ConvertItem(work, loaded);
    pictureFreed();
    if (result.kind == ItemKind::Converted && !commits.Finish()) {
        result.kind = ItemKind::Failed;
        result.line = work.name + ": could not write the file\n";
    }
    return result;
}

// The items started and not yet finished, and the results of all items.
// Only the calling thread waits, reaps and reads; an item's thread sets its
// own flags and result under the mutex.
class ItemPipeline {
public:
    ItemPipeline(size_t count, std::function<void()> waiting)
        : results_(count), waiting_(std::move(waiting)) {}
    // Unwinding from a failure still lets every started item end, quietly.
    ~ItemPipeline() {
        waiting_ = nullptr;
        WaitForAll();
    }
    ItemPipeline(const ItemPipeline&) = delete;
    ItemPipeline& operator=(const ItemPipeline&) = delete;

    void Record(size_t index, ItemResult result) { results_[index] = std::move(result); }

    // Until another item may start without passing the bounds. A picture
    // not loaded yet is counted as large as the largest one so far, and so
    // is the next: a run of huge pictures converts them one at a time.
    void WaitForRoom() {
        static const uint64_t budget = [] {
            const uint64_t usable = GetUsableMemoryBytes();
            return usable > 0 ? usable / kPictureMemoryShare : UINT64_MAX;
        }();
        WaitUntil([this] {
            size_t converting = 0;
            uint64_t pictures = largestPicture_;
            for (const Flight& f : flights_) {
                if (!f.converting) continue;
                ++converting;
                pictures += f.pictureBytes != 0 ? f.pictureBytes : largestPicture_;
            }
            if (converting == 0) return flights_.size() < kItemsConverting + kItemsFlushing;
            return converting < kItemsConverting && pictures <= budget &&
                   flights_.size() < kItemsConverting + kItemsFlushing;
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

    // True when a finished item of this run wrote that output: a numbered
    // name can meet a source that carries that name itself, and the second
    // write must not replace the first even when overwriting is allowed.
    bool Wrote(const std::string& lowerOutput) const { return written_.count(lowerOutput) != 0; }

    // Converts item `index`: on a thread of its own when overlapping, else
    // here and now.
    void Start(size_t index, ItemWork work, FileIdentity source, FileIdentity output, std::string lowerOutput) {
        if (gOverlap.load(std::memory_order_relaxed)) {
            std::unique_lock<std::mutex> lock(mutex_);
            flights_.push_back({index, std::move(source), std::move(output), lowerOutput, true, 0, false, {}});
            Flight* flight = &flights_.back();
            lock.unlock();
            if (Launch(*flight, work)) return;
            lock.lock();
            flights_.pop_back();
        }
        // Also when the system refuses a thread: the item is converted all
        // the same, only without overlap.
        results_[index] = ConvertItemThenFlush(work, [](uint64_t) {}, [] {});
        NoteWritten(lowerOutput, *results_[index]);
    }

    // The results in item order; items never reached have none.
    const std::vector<std::optional<ItemResult>>& Results() const { return results_; }

private:
    struct Flight {
        size_t index;
        FileIdentity source, output;
        std::string lowerOutput;
        bool converting = true;     // still holds its picture
        uint64_t pictureBytes = 0;  // 0 until loaded
        bool done = false;
        std::thread thread;
    };

    bool Launch(Flight& flight, const ItemWork& work) {
        // The item's thread blocks every signal, so handlers keep running on
        // the main thread as they always have.
        sigset_t all, previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        bool launched = true;
        try {
            flight.thread = std::thread([this, &flight, work] { Run(flight, work); });
        } catch (const std::system_error&) {
            launched = false;
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return launched;
    }

    // On the item's thread.
    void Run(Flight& flight, const ItemWork& work) noexcept {
        ItemResult result;
        try {
            result = ConvertItemThenFlush(
                work,
                [&](uint64_t bytes) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    flight.pictureBytes = bytes;
                    largestPicture_ = std::max(largestPicture_, bytes);
                },
                [&] {
                    std::lock_guard<std::mutex> lock(mutex_);
                    flight.converting = false;
                    ++generation_;
                    changed_.notify_all();
                });
        } catch (const std::bad_alloc&) {
            result = ItemResult();
            result.line = work.name + ": Not enough memory for the image.\n";
        }
        std::lock_guard<std::mutex> lock(mutex_);
        results_[flight.index] = std::move(result);
        flight.converting = false;
        flight.done = true;
        ++generation_;
        changed_.notify_all();
    }

    void NoteWritten(const std::string& lowerOutput, const ItemResult& result) {
        if (result.kind == ItemKind::Converted) written_.insert(lowerOutput);
    }

    // Joins the threads of finished items and takes in their results.
    void Reap() {
        for (auto it = flights_.begin(); it != flights_.end();) {
            if (!it->done) {
                ++it;
                continue;
            }
            it->thread.join();  // the thread has nothing left to do but end
            NoteWritten(it->lowerOutput, *results_[it->index]);
            it = flights_.erase(it);
        }
    }

    // Waits until `ready` holds, reaping finished items; the caller's
    // `waiting` runs after every slice of the wait.
    template <typename Ready>
    void WaitUntil(Ready ready) {
        using Clock = std::chrono::steady_clock;
        std::unique_lock<std::mutex> lock(mutex_);
        Clock::time_point slice = Clock::now() + kWaitSlice;
        for (;;) {
            Reap();
            if (ready()) return;
            const uint64_t seen = generation_;
            changed_.wait_until(lock, slice, [&] { return generation_ != seen; });
            if (Clock::now() < slice) continue;
            if (waiting_) {
                lock.unlock();
                waiting_();
                lock.lock();
            }
            slice = Clock::now() + kWaitSlice;
        }
    }

    std::vector<std::optional<ItemResult>> results_;
    std::function<void()> waiting_;
    std::set<std::string> written_;  // lower-cased outputs this run wrote
    std::list<Flight> flights_;      // stable addresses for the threads
    std::mutex mutex_;
    std::condition_variable changed_;
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
    ItemPipeline pipeline(n, callbacks.waiting);
    std::map<std::string, int64_t> counts;
    for (size_t i = 0; i < n; ++i) {
        pipeline.WaitForRoom();
        if (callbacks.stopRequested && callbacks.stopRequested()) break;
        const std::string& path = sources[i];
        std::string output = outputs[i];
        const std::string name = GetDisplayName(path);
        if (callbacks.itemStarts) callbacks.itemStarts(int64_t(i + 1), int64_t(n), name);

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
        if (lowerOutput == ToLowerAscii(path)) {
            pipeline.Record(i, Skipped(name + ": skipped (output would overwrite the source file)\n"));
            continue;
        }
        FileIdentity sourceId = GetFileIdentity(path), outputId = GetFileIdentity(output);
        pipeline.WaitForConflicts(sourceId, outputId, lowerOutput);
        if (GetFileKind(output) == FileKind::File && (!settings.force || pipeline.Wrote(lowerOutput))) {
            pipeline.Record(i, Skipped(GetFilePart(output) + ": skipped (already exists)\n"));
            continue;
        }
        ItemWork work;
        work.source = path;
        work.output = output;
        work.name = name;
        work.extension = settings.extension;
        work.toTexture = target && target->format == ImageFormat::Tex;
        work.fit1024 = settings.fit1024;
        work.dropsAlpha = target && target->dropsAlpha;
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
    outcome.stopped = callbacks.stopRequested && callbacks.stopRequested();
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
