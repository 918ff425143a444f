#include "app/Esecuzione.h"

#include "app/Codifica.h"
#include "app/ListaFile.h"
#include "app/MessageDialog.h"
#include "app/Pagine.h"
#include "app/Primax.h"
#include "sources/VelmarConverters.h"
#include "sources/VelmarWave.h"
#include "support/VelmarEstimatedTimer.h"
#include "support/VelmarFolder.h"
#include "support/VelmarNotifica.h"
#include "support/VelmarPathLabel.h"
#include "vorbis/VelmarVorbis.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace velmar {

QString FormatoOre(double TheTime)
{
    // To the nearest second: the timer may tick a little early.
    const long long secondi = std::max(0LL, std::llround(TheTime * 86400.0));
    return QStringLiteral("%1:%2:%3")
        .arg(secondi / 3600, 2, 10, QLatin1Char('0'))
        .arg(secondi / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(secondi % 60, 2, 10, QLatin1Char('0'));
}

// The run's events reach the shown file's handlers; those of the files
// behind it are only recorded (TCodifica) until they are shown.
void TPrima::CollegaEncoder(const TEncodeSettings& Settings)
{
    TCodifica::TEventi e;
    e.Iniziata = [this](size_t Index) {
        if (static_cast<long long>(Index) == Mostrata())
            AvviaStima();
    };
    e.Progresso = [this](size_t Index) {
        if (static_cast<long long>(Index) == Mostrata())
            VorbisProgress(FCodifica->Voce(Index).Percento);
    };
    e.Finita = [this](size_t Index) {
        if (static_cast<long long>(Index) == Mostrata())
            VorbisDone();
    };
    const unsigned processi = Processi ? Processi : std::max(1u, std::thread::hardware_concurrency());
    FCodifica = new TCodifica(Settings, processi, std::move(e), this);
}

std::string TPrima::NomeUscita(const std::string& Input) const
{
    return OutputNameFor(Input, CartellaMusica);
}

// "Fine": the settings as they stand now hold for the whole run.
void TPrima::Go()
{
    Indietro->setEnabled(false);
    Avanti->setEnabled(false);
    MostraPagina(3);
    FAvvisi.clear();
    TEncodeSettings settings;
    settings.Compression = Vorbis->Compression();
    settings.OutSampleRate = Rate->OutSampleRate();
    settings.HighQualityResampling = Rate->AltaQualita();
    CollegaEncoder(settings);
    for (int row = 0; row < Lista->count(); ++row)
        Accoda(row);
    ProssimaVoce();
}

// Entry Row joins the run, when its file is there.
void TPrima::Accoda(int Row)
{
    const std::string input = Voce(Row);
    if (FCodifica && EsisteFile(input))
        Lista->item(Row)->setData(RuoloIndice, qulonglong(FCodifica->Aggiungi(input, CartellaMusica)));
}

// The batch index of the shown file (entry 0), or -1.
long long TPrima::Mostrata() const
{
    const QListWidgetItem* item = Lista->item(0);
    const QVariant index = item ? item->data(RuoloIndice) : QVariant();
    return FCodifica && index.isValid() ? static_cast<long long>(index.toULongLong()) : -1;
}

void TPrima::Altrifile()
{
    if (ChiudiVoce())
        ProssimaVoce();
    else
        AzzeroTutto();
}

// Shows entry 0, and goes on down the list while there is nothing to wait
// for: a missing file goes without a word, a file that has already ended
// in the background is dealt with at once.
void TPrima::ProssimaVoce()
{
    while (FCodifica) {
        if (Lista->count() == 0) {
            AzzeroTutto();
            return;
        }
        Lista->setCurrentRow(0);
        if (!MostraVoce()) {
            delete Lista->takeItem(0);
            continue;
        }
        if (!FCodifica->Voce(Mostrata()).Finita)
            return;
        if (!ChiudiVoce()) {
            AzzeroTutto();
            return;
        }
    }
}

// Entry 0 becomes the shown file; false when its file is missing.
bool TPrima::MostraVoce()
{
    const std::string input = Voce(0);
    if (!EsisteFile(input)) {
        if (Mostrata() >= 0)
            FCodifica->Ferma(Mostrata(), TStopMode::Discard);
        return false;
    }
    if (Mostrata() < 0)
        Accoda(0); // appeared since the run started
    const TCodifica::TVoce& v = FCodifica->Voce(Mostrata());
    Wave->SetFileName(input);
    Vorbis->SetFileName(v.Output);
    Porco->SetCaption(v.Output);
    Quantifile();
    Barra->setValue(std::min(v.Percento, 100));
    AzzeroTempi();
    AvviaStima();
    return true;
}

// The times of the shown file, counted from when its encoding started
// (before it was shown, when it encoded in the background).
void TPrima::AvviaStima()
{
    const TCodifica::TVoce& v = FCodifica->Voce(Mostrata());
    const auto elapsed = v.Iniziata ? std::chrono::steady_clock::now() - v.Inizio : std::chrono::steady_clock::duration{};
    Stima->Resume(std::chrono::duration<double>(elapsed).count() / 86400.0);
    // A file not yet under way has no times to show: the captions stay alone.
    if (v.Iniziata && v.Percento > 0)
        Stima->Tick();
}

// The shown file has ended: its part takes its name, or its failure is
// reported; its entry goes. False when the run ends here (cancelled).
bool TPrima::ChiudiVoce()
{
    Stima->SetEnabled(false);
    const TEncodeResult& r = FCodifica->Esito(Mostrata());
    Taggo();
    if (r.Outcome == TEncodeOutcome::Done)
        ++FCompletati;
    if (r.Outcome == TEncodeOutcome::Failed)
        VorbisThreadException(QString::fromStdString(r.Reason));
    if (!FCodifica)
        return false;
    delete Lista->takeItem(0);
    return !Annullato;
}

void TPrima::AzzeroTutto()
{
    const bool annullata = std::exchange(Annullato, false);
    Stima->SetEnabled(false);
    if (FCodifica) {
        // Files not shown yet leave nothing behind.
        FCodifica->FermaTutto(TStopMode::Discard);
        FCodifica->Lascia();
        FCodifica = nullptr;
    }
    MostraPagina(0);
    Passo = 0;
    Lista->clear();
    Verifico();
    Avanti->setFocus();
    Pagina->update();
    Contatore();
    AvvisoFineCodifica(FCompletati, annullata);
    FCompletati = 0;
    MostraAvvisi();
    // The window is left on its welcome page for a moment before it goes.
    if (ChiudiAllaFine)
        QTimer::singleShot(100, this, [this] { close(); });
}

// One box for everything the run has to say about the files it wrote.
void TPrima::MostraAvvisi()
{
    const qsizetype MassimoRighe = 20; // the box stays within the screen
    const QStringList avvisi = std::exchange(FAvvisi, {});
    if (avvisi.isEmpty() || FChiusa)
        return;
    QString text = QStringLiteral("Codifica terminata, con questi avvisi:\r");
    for (const QString& riga : avvisi.mid(0, MassimoRighe))
        text += QLatin1Char('\r') + riga;
    if (avvisi.size() > MassimoRighe)
        text += QStringLiteral("\r... e altri %1.").arg(avvisi.size() - MassimoRighe);
    Avviso(QStringLiteral("Attenzione - Velmar Fennick"), suiWarning, text);
}

// The shown file takes its name: its part (encoded and tagged by the
// engine, off this thread) is renamed over the output, a rename only.
void TPrima::Taggo()
{
    const long long shown = Mostrata();
    if (shown < 0)
        return;
    TEncodeResult& r = FCodifica->Esito(shown);
    if (r.Part.empty())
        return;
    CommitPart(r);
    if (r.Outcome == TEncodeOutcome::Failed)
        return;
    const QString name = QLatin1Char('"') + Testo(Voce(0)) + QStringLiteral("\" ");
    for (const std::string& w : r.Warnings)
        FAvvisi.append(name + QString::fromStdString(w));
}

void TPrima::Quantifile()
{
    Salta->setEnabled(Lista->count() >= 2);
}

void TPrima::VorbisProgress(int Percent)
{
    if (Percent < 0)
        return;
    Barra->setValue(std::min(Percent, 100));
}

// The shown file's encoding has ended (done, stopped or failed).
void TPrima::VorbisDone()
{
    Altrifile();
}

// A failed file, reported when it is the shown one; nothing of it was
// written, and the run goes on.
void TPrima::VorbisThreadException(const QString& Reason)
{
    if (FChiusa)
        return;
    Avviso(CaptionErrore, suiStop,
           QStringLiteral("Impossibile codificare il file\r") + Testo(Voce(0)) + QStringLiteral("\r\rMotivo: ") +
               Reason);
}

// "Annulla operazione": the shown file stays as far as it got, without the
// comment; the files behind it leave nothing.
void TPrima::FermaClick()
{
    if (!FCodifica)
        return;
    Annullato = true;
    if (Mostrata() >= 0)
        FCodifica->Ferma(Mostrata(), TStopMode::KeepUntagged);
    FCodifica->FermaTutto(TStopMode::Discard);
}

// "Salta questo file": the shown file stays as far as it got, tagged.
void TPrima::SaltaClick()
{
    if (Mostrata() >= 0)
        FCodifica->Ferma(Mostrata(), TStopMode::KeepTagged);
}

void TPrima::StimaGetCurrentCount(int& Count)
{
    Count = Barra->value();
}

void TPrima::StimaGetTotalCount(int& Count)
{
    Count = Barra->maximum();
}

void TPrima::StimaDisplayElapsedTime(double TheTime)
{
    TraLab->setText(QStringLiteral("Tempo trascorso: ") + FormatoOre(TheTime));
}

void TPrima::StimaDisplayEstTime(double TheTime)
{
    TotLab->setText(QStringLiteral("Tempo stimato: ") + FormatoOre(TheTime));
}

// A new file's times are not yet known: the previous file's must not show.
void TPrima::AzzeroTempi()
{
    TraLab->setText(QStringLiteral("Tempo trascorso:"));
    TotLab->setText(QStringLiteral("Tempo stimato:"));
}

void TPrima::AvvisoFineCodifica(int NumeroFile, bool Annullata)
{
    if (NumeroFile > 0)
        Notifica->Mostra(TestoFineCodifica(NumeroFile, PercorsoBreve(CartellaMusica), Annullata),
                         Testo(CartellaMusica));
}

} // namespace velmar
