// The wizard's run as the window sees it: the engine's batch, its events
// brought to the window's thread, and how far each file has got.
#pragma once

#include "engine/VelmarBatch.h"

#include <QObject>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace velmar {

// TCodifica runs a TVelmarBatch with Hold: each finished part waits here,
// in Voce(Index).Esito, until the owner makes it the output (CommitPart)
// or lets it go.
//
// Events: the workers only post; each event is applied to Voce(Index) in
// this object's thread, in the order the workers raised it (for one file:
// Iniziata, Progresso..., Finita), and then handed to the owner's handler.
// A handler may run a modal box: events arriving meanwhile are applied and
// handed on from the nested loop.
//
// Lifecycle: Lascia ends the owner's part: no event reaches it any more,
// no file is added; every held part, and every part that arrives later,
// is removed, but for a file the owner stopped with a Keep mode, whose part
// takes its name. The object then deletes itself once every file has
// ended, without anyone waiting for it. Destroying it (with its Qt parent,
// say) discards what still runs (a Keep request made before wins), joins
// the workers and deals with the parts as Lascia does: a short wait, since
// everything has been told to stop.
// Thread: the thread it was made in (the GUI thread).
class TCodifica : public QObject {
    Q_OBJECT
public:
    struct TVoce {
        std::string Input;
        std::string Output;
        bool Iniziata = false;
        bool Finita = false;
        TStopMode Richiesta = TStopMode::None; // the owner's first stop request
        int Percento = 0;
        std::chrono::steady_clock::time_point Inizio; // when a worker took it
        TEncodeResult Esito; // once Finita
    };
    struct TEventi {
        std::function<void(size_t Index)> Iniziata;
        std::function<void(size_t Index)> Progresso;
        std::function<void(size_t Index)> Finita;
    };

    TCodifica(const TEncodeSettings& Settings, unsigned Jobs, TEventi Eventi, QObject* AParent);
    ~TCodifica() override;

    // Queues Input; its output goes into Folder. Returns its index (0, 1, ...).
    size_t Aggiungi(const std::string& Input, const std::string& Folder);
    const TVoce& Voce(size_t Index) const { return FVoci.at(Index); }
    TEncodeResult& Esito(size_t Index) { return FVoci.at(Index).Esito; }
    // TVelmarBatch::Stop; a file already ended and stopped with Discard
    // loses its held part at once.
    void Ferma(size_t Index, TStopMode Mode);
    void FermaTutto(TStopMode Mode);
    void Lascia();

private:
    void Sistema(TVoce& Voce);
    void Concludi();

    const TEventi FEventi;
    std::deque<TVoce> FVoci; // a deque: handlers keep references
    size_t FFinite = 0;
    bool FLasciata = false;
    bool FDistrutta = false;
    std::unique_ptr<TVelmarBatch> FBatch; // last: its workers post to everything above
};

} // namespace velmar
