#include "app/Codifica.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include <sys/resource.h>
#include <unistd.h>

namespace velmar {

namespace {

// How much nicer than the window an encoding worker is.
constexpr int PassiCortesia = 5;

// The calling worker yields to the window's thread: with every processor
// encoding, the window still gets one as soon as it has an event to
// handle. It lowers the priority of this thread only (Linux threads have
// their own), once per worker; the encoder's thread that the worker starts
// for each file inherits it.
void Cedi()
{
    thread_local bool fatto = false;
    if (fatto)
        return;
    fatto = true;
    const auto tid = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        setpriority(PRIO_PROCESS, tid, std::min(nice + PassiCortesia, 19));
}

} // namespace

TCodifica::TCodifica(const TEncodeSettings& Settings, unsigned Jobs, TEventi Eventi, QObject* AParent)
    : QObject(AParent), FEventi(std::move(Eventi))
{
    // On a worker: only a post; the rest happens in this object's thread.
    TVelmarBatch::TEvents e;
    e.OnStart = [this](size_t i) {
        const auto t = std::chrono::steady_clock::now();
        Cedi();
        QMetaObject::invokeMethod(
            this,
            [this, i, t] {
                FVoci[i].Iniziata = true;
                FVoci[i].Inizio = t;
                if (!FLasciata && FEventi.Iniziata)
                    FEventi.Iniziata(i);
            },
            Qt::QueuedConnection);
    };
    e.OnProgress = [this](size_t i, int Percent) {
        QMetaObject::invokeMethod(
            this,
            [this, i, Percent] {
                FVoci[i].Percento = Percent;
                if (!FLasciata && FEventi.Progresso)
                    FEventi.Progresso(i);
            },
            Qt::QueuedConnection);
    };
    e.OnEnd = [this](size_t i, TEncodeResult& Result) {
        QMetaObject::invokeMethod(
            this,
            [this, i, r = std::move(Result)] {
                TVoce& v = FVoci[i];
                v.Esito = r;
                v.Finita = true;
                ++FFinite;
                if (v.Richiesta == TStopMode::Discard)
                    DiscardPart(v.Esito);
                if (!FLasciata) {
                    if (FEventi.Finita)
                        FEventi.Finita(i);
                    return;
                }
                Sistema(v);
                Concludi();
            },
            Qt::QueuedConnection);
    };
    FBatch = std::make_unique<TVelmarBatch>(Settings, Jobs, true, std::move(e));
}

TCodifica::~TCodifica()
{
    FLasciata = true;
    FDistrutta = true;
    FBatch->StopAll(TStopMode::Discard);
    FBatch.reset();
    // The ends the workers posted while they were joined.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    for (TVoce& v : FVoci)
        Sistema(v);
}

size_t TCodifica::Aggiungi(const std::string& Input, const std::string& Folder)
{
    if (FLasciata)
        throw std::logic_error("A run let go takes no more files");
    FVoci.emplace_back().Input = Input;
    const size_t i = FBatch->Add(Input, Folder);
    FVoci[i].Output = FBatch->Output(i);
    return i;
}

void TCodifica::Ferma(size_t Index, TStopMode Mode)
{
    TVoce& v = FVoci.at(Index);
    if (v.Richiesta == TStopMode::None)
        v.Richiesta = Mode;
    FBatch->Stop(Index, Mode);
    if (v.Finita && v.Richiesta == TStopMode::Discard)
        DiscardPart(v.Esito);
}

void TCodifica::FermaTutto(TStopMode Mode)
{
    for (TVoce& v : FVoci)
        if (v.Richiesta == TStopMode::None && !v.Finita)
            v.Richiesta = Mode;
    FBatch->StopAll(Mode);
}

void TCodifica::Lascia()
{
    if (FLasciata)
        return;
    FLasciata = true;
    FBatch->Close();
    for (TVoce& v : FVoci)
        if (v.Finita)
            Sistema(v);
    Concludi();
}

// A part nobody will collect: it takes its name only when the owner asked to keep it.
void TCodifica::Sistema(TVoce& Voce)
{
    if (Voce.Richiesta == TStopMode::KeepTagged || Voce.Richiesta == TStopMode::KeepUntagged)
        CommitPart(Voce.Esito);
    else
        DiscardPart(Voce.Esito);
}

void TCodifica::Concludi()
{
    if (FFinite == FVoci.size() && !FDistrutta)
        deleteLater();
}

} // namespace velmar
