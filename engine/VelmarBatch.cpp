#include "engine/VelmarBatch.h"

#include "platform/Motivi.h"

#include <algorithm>
#include <stdexcept>

namespace velmar {

TVelmarBatch::TVelmarBatch(const TEncodeSettings& Settings, unsigned Jobs, bool Hold, TEvents Events)
    : FSettings(Settings), FHold(Hold), FEvents(std::move(Events))
{
    for (unsigned j = 0; j < std::max(1u, Jobs); ++j)
        FWorkers.emplace_back([this] { Work(); });
}

TVelmarBatch::~TVelmarBatch()
{
    StopAll(TStopMode::Discard);
    Close();
    for (std::thread& t : FWorkers)
        t.join();
}

size_t TVelmarBatch::Add(const std::string& Input, const std::string& Folder, const std::string& Name,
                         const TStringList& Tags)
{
    std::string renamed;
    const std::string output = FNames.Claim(Input, Folder, &renamed, Name);
    std::lock_guard<std::mutex> lock(FLock);
    if (FClosed)
        throw std::logic_error("A closed batch takes no more files");
    TItem& item = FItems.emplace_back();
    item.Input = Input;
    item.Output = output;
    item.Renamed = renamed;
    item.Tags = Tags;
    if (FStopAll != TStopMode::None)
        item.Control.Stop(FStopAll);
    FWake.notify_all();
    return FItems.size() - 1;
}

std::string TVelmarBatch::Output(size_t Index) const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FItems.at(Index).Output;
}

void TVelmarBatch::Stop(size_t Index, TStopMode Mode)
{
    std::lock_guard<std::mutex> lock(FLock);
    FItems.at(Index).Control.Stop(Mode);
}

void TVelmarBatch::StopAll(TStopMode Mode)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (FStopAll == TStopMode::None)
        FStopAll = Mode;
    for (TItem& item : FItems)
        item.Control.Stop(Mode);
}

void TVelmarBatch::Close()
{
    std::lock_guard<std::mutex> lock(FLock);
    FClosed = true;
    FWake.notify_all();
}

void TVelmarBatch::Wait()
{
    std::unique_lock<std::mutex> lock(FLock);
    FWake.wait(lock, [this] { return FClosed && FEnded == FItems.size(); });
}

void TVelmarBatch::Work()
{
    for (;;) {
        size_t index;
        TItem* item;
        {
            std::unique_lock<std::mutex> lock(FLock);
            FWake.wait(lock, [this] { return FNext < FItems.size() || FClosed; });
            if (FNext == FItems.size())
                return;
            index = FNext++;
            item = &FItems[index];
        }
        if (FEvents.OnStart)
            FEvents.OnStart(index);
        TEncodeSettings settings = FSettings;
        if (settings.Serial >= 0)
            settings.Serial = (FSettings.Serial + int64_t(index)) & 0xFFFFFFFF;
        settings.Tags.insert(settings.Tags.end(), item->Tags.begin(), item->Tags.end());
        TEncodeResult r = EncodeToPart(item->Input, item->Output, settings, &item->Control, [&](int Percent) {
            if (FEvents.OnProgress)
                FEvents.OnProgress(index, Percent);
        });
        if (!FHold)
            CommitPart(r);
        if (!item->Renamed.empty() && (r.Outcome == TEncodeOutcome::Done || r.Outcome == TEncodeOutcome::Stopped))
            r.Warnings.insert(r.Warnings.begin(),
                              TestoMotivo(TMotivo::UscitaDoppia, "\"" + r.Output.substr(r.Output.rfind('/') + 1) + "\""));
        if (FEvents.OnEnd)
            FEvents.OnEnd(index, r);
        std::lock_guard<std::mutex> lock(FLock);
        ++FEnded;
        FWake.notify_all();
    }
}

} // namespace velmar
