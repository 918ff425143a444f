// A batch of WAVE files encoded several at a time, for both front ends.
#pragma once

#include "engine/EncodeFile.h"
#include "engine/OutputNames.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmar {

// Items are encoded by up to Jobs workers and started in the order they
// were added; items may be added while the batch runs. Each item runs
// EncodeToPart; with Hold its finished part waits for the caller, who
// makes it the output (CommitPart) or drops it (DiscardPart) in its own
// order; without Hold it takes its name at once (CommitPart).
//
// Output names follow one rule for the whole batch (TOutputNames): an
// input whose output name another item already has is written under
// "Name (2).ogg", and its result carries a warning that says so.
//
// Events: OnStart, OnProgress and OnEnd are called on a worker thread,
// in that order for one item, never at the same time for one item; items
// run side by side, so events of different items interleave. Handlers
// must not destroy the batch.
// Idle workers block; a batch with nothing to do uses no processor.
// Lifecycle: workers start with the batch. Close() says no more items
// will come: the workers leave once the last one has ended (Wait).
// Destroying the batch discards what still runs or waits, and joins.
// Thread: any thread, handlers included, but Wait, which must not be
// called from a handler.
class TVelmarBatch {
public:
    struct TEvents {
        std::function<void(size_t Index)> OnStart;
        std::function<void(size_t Index, int Percent)> OnProgress;
        std::function<void(size_t Index, TEncodeResult& Result)> OnEnd;
    };

    TVelmarBatch(const TEncodeSettings& Settings, unsigned Jobs, bool Hold, TEvents Events);
    ~TVelmarBatch();
    TVelmarBatch(const TVelmarBatch&) = delete;
    TVelmarBatch& operator=(const TVelmarBatch&) = delete;

    // Queues Input for Folder; returns its index (0, 1, ... in the order of
    // the calls). Name: the output's path under Folder (from a naming
    // pattern); empty: Input's name with ".ogg". Refused (std::logic_error)
    // after Close. With Settings.Serial N, item I's stream gets N + I.
    // Tags: this item's own, after the settings' (an album's gains).
    size_t Add(const std::string& Input, const std::string& Folder, const std::string& Name = {},
               const TStringList& Tags = {});
    // The output an item will be written to.
    std::string Output(size_t Index) const;
    // Ends one item: a running one as Mode says, a waiting one before it
    // starts (its OnStart and OnEnd still come). The first request wins.
    void Stop(size_t Index, TStopMode Mode);
    // Stop for every item that has not ended, and for those added later.
    void StopAll(TStopMode Mode);
    void Close();
    // Blocks until Close was called and every item has ended.
    void Wait();

private:
    struct TItem {
        std::string Input, Output, Renamed;
        TStringList Tags;
        TEncodeControl Control;
    };
    void Work();

    const TEncodeSettings FSettings;
    const bool FHold;
    const TEvents FEvents;
    TOutputNames FNames;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::deque<TItem> FItems; // a deque: controls keep their address
    size_t FNext = 0;         // the first item not yet taken
    size_t FEnded = 0;
    bool FClosed = false;
    TStopMode FStopAll = TStopMode::None;
    std::vector<std::thread> FWorkers; // last: started once everything above exists
};

} // namespace velmar
