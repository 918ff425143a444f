// The encoding run end to end: real WAVE files through the window and the
// engine into Musica, checked with libvorbisfile; the file manager's command.
#include "AppFixture.h"

#include "app/Codifica.h"
#include "app/Esecuzione.h"
#include "app/Segnali.h"
#include "support/BusPrivato.h"
#include "support/VelmarDropFiles.h"
#include "support/VelmarEstimatedTimer.h"
#include "support/VelmarNotifica.h"
#include "support/VelmarPathLabel.h"
#include "support/VelmarStatusBarImage.h"
#include "vorbis/VelmarVorbis.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>

#include <algorithm>
#include <csignal>
#include <unistd.h>
#include <filesystem>
#include <set>

using namespace velmar;
using namespace testing_support;

namespace {

const std::string Comment = "COMMENT=Codificato con Velmar Fennick";

bool HasComment(const DecodedOgg& D)
{
    return std::find(D.comments.begin(), D.comments.end(), Comment) != D.comments.end();
}

class BatchRun : public AppTest {
protected:
    // Puts the files on the list of step 2 and presses "Fine".
    void Start(const std::vector<std::string>& Files)
    {
        TPrima& f = *FForm;
        f.Avanti->click();
        f.Avanti->click();
        for (const std::string& p : Files)
            f.AggiungiVoce(p);
        f.Verifico();
        f.Avanti->click();
    }

    bool WaitForEnd() { return WaitFor([this] { return !FForm->InCorso(); }); }
    // Waits until the current file has made some progress.
    bool WaitForProgress() { return WaitFor([this] { return FForm->Barra->value() >= 2; }); }

    std::string Out(const std::string& Name) const { return Musica() + "/" + Name; }
    static int64_t Frames(double Seconds) { return static_cast<int64_t>(Seconds * 44100); }

    // The run's batch; null when none runs.
    TCodifica* Corsa() const { return FForm->findChild<TCodifica*>(); }
    // Waits until the files of Indexes have ended in the background.
    bool WaitForEnded(const std::vector<size_t>& Indexes)
    {
        return WaitFor([&] {
            const TCodifica* c = Corsa();
            return c && std::all_of(Indexes.begin(), Indexes.end(), [c](size_t i) { return c->Voce(i).Finita; });
        });
    }
    // Waits until no batch is left: a cancelled one goes once its last file has ended.
    bool WaitForNoRun()
    {
        return WaitFor([this] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return FForm->findChildren<TCodifica*>().isEmpty();
        });
    }
    // The names in Musica; a part still waiting for its name (the hidden
    // ".NAME.ogg.XXXXXX" beside its output) as "NAME.ogg.part".
    std::set<std::string> MusicaFiles() const
    {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Musica())) {
            std::string n = e.path().filename().string();
            const size_t dot = n.rfind('.');
            if (n.size() > 8 && n[0] == '.' && dot == n.size() - 7)
                n = n.substr(1, dot - 1) + ".part";
            names.insert(n);
        }
        return names;
    }
};

TEST_F(BatchRun, EncodesEveryFileTagsItAndReturnsToTheWelcomePage)
{
    const std::string a = MakeWave("Uno.wav", 1.0), b = MakeWave("Due.WAV", 0.5), c = MakeWave("Tre.wave", 0.7);
    // Due carries a title and an artist, which its output keeps beside the comment.
    std::vector<uint8_t> wav = ReadBytes(b), info;
    PutTag(info, "INFO");
    PutChunk(info, "INAM", {'D', 'u', 'e', 0});
    PutChunk(info, "IART", {'V', 'o', 'c', 'i', 0});
    PutChunk(wav, "LIST", info);
    for (int i = 0; i < 4; ++i)
        wav[4 + i] = static_cast<uint8_t>((wav.size() - 8) >> (8 * i));
    WriteBytes(b, wav);
    TPrima& f = MakeForm();
    ShowForm();
    f.BarraOgg->setValue(6);
    Start({a, b, c});
    EXPECT_EQ(f.Pagina->currentIndex(), 3);
    EXPECT_TRUE(f.Salta->isEnabled());
    EXPECT_FALSE(f.Avanti->isEnabled());
    EXPECT_FALSE(f.Indietro->isEnabled());
    ASSERT_TRUE(WaitForEnd());

    const std::pair<std::string, double> outputs[] = {{"Uno.ogg", 1.0}, {"Due.ogg", 0.5}, {"Tre.ogg", 0.7}};
    std::set<uint32_t> serials; // one stream of its own each, so they can be chained
    for (const auto& [name, seconds] : outputs) {
        SCOPED_TRACE(name);
        const DecodedOgg d = DecodeOgg(Out(name));
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.channels, 2);
        EXPECT_EQ(d.rate, 44100);
        EXPECT_EQ(d.pcmTotal, Frames(seconds));
        if (name == "Due.ogg") {
            EXPECT_EQ(WithoutReplayGain(d.comments), (std::vector<std::string>{"TITLE=Due", "ARTIST=Voci", Comment}));
        } else {
            EXPECT_EQ(WithoutReplayGain(d.comments), std::vector<std::string>{Comment});
        }
        // The window always writes the gain, in the header's first version.
        ASSERT_EQ(d.comments.size(), WithoutReplayGain(d.comments).size() + 2);
        EXPECT_EQ(d.comments.at(d.comments.size() - 3).rfind("REPLAYGAIN_TRACK_GAIN=", 0), 0u);
        const OggPages pages = ScanOggPages(Out(name));
        EXPECT_TRUE(pages.ok);
        EXPECT_NE(pages.serials.at(0), 0u);
        EXPECT_EQ(std::count(pages.serials.begin(), pages.serials.end(), pages.serials.at(0)), pages.pages);
        serials.insert(pages.serials.at(0));
    }
    EXPECT_EQ(serials.size(), 3u);
    EXPECT_EQ(f.Pagina->currentIndex(), 0);
    EXPECT_EQ(f.Passo, 0);
    EXPECT_EQ(f.Lista->count(), 0);
    EXPECT_EQ(f.Stato->Panels()->Items(0)->Text(), "Nessun brano presente");
    EXPECT_FALSE(f.Indietro->isEnabled());
    EXPECT_EQ(f.Avanti->text(), "&Avanti > ");
    EXPECT_FALSE(f.Stima->Enabled());
    EXPECT_TRUE(Messages.empty());
    EXPECT_TRUE(f.isVisible()); // not started from the file manager
    // The quality chosen on step 1 held for the run.
    EXPECT_FLOAT_EQ(f.Vorbis->Compression(), 0.6f);
}

TEST_F(BatchRun, ALastFileAloneCannotBeSkipped)
{
    const std::string a = MakeWave("Solo.wav", 3.0);
    TPrima& f = MakeForm();
    ShowForm();
    Start({a});
    EXPECT_FALSE(f.Salta->isEnabled());
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(HasComment(DecodeOgg(Out("Solo.ogg"))));
}

TEST_F(BatchRun, SkippingTheFirstOfThreeKeepsItsPartTaggedAndGoesOn)
{
    const std::string a = MakeWave("Lungo.wav", 30), b = MakeWave("B.wav", 0.3), c = MakeWave("C.wav", 0.3);
    TPrima& f = MakeForm();
    ShowForm();
    Start({a, b, c});
    ASSERT_TRUE(WaitForProgress());
    ASSERT_EQ(f.Lista->count(), 3);
    f.Salta->click();
    ASSERT_TRUE(WaitForEnd());

    const DecodedOgg first = DecodeOgg(Out("Lungo.ogg"));
    ASSERT_TRUE(first.ok);
    EXPECT_GT(first.pcmTotal, 0);
    EXPECT_LT(first.pcmTotal, Frames(30));
    EXPECT_TRUE(HasComment(first));
    EXPECT_TRUE(ScanOggPages(Out("Lungo.ogg")).lastIsEos);
    for (const char* name : {"B.ogg", "C.ogg"}) {
        const DecodedOgg d = DecodeOgg(Out(name));
        EXPECT_EQ(d.pcmTotal, Frames(0.3)) << name;
        EXPECT_TRUE(HasComment(d)) << name;
    }
    EXPECT_EQ(f.Lista->count(), 0);
}

TEST_F(BatchRun, CancellingLeavesTheShownFileUntaggedAndNothingOfTheFilesBehindIt)
{
    // Three at once: behind the shown file, B done and waiting, "Altro" and
    // C encoding, D not started; an earlier "Altro.ogg" stays as it was.
    const std::string a = MakeWave("Lungo.wav", 60), altro = MakeWave("Altro.wav", 60);
    const std::string b = MakeWave("B.wav", 0.3), c = MakeWave("C.wav", 60), d = MakeWave("D.wav", 0.3);
    std::filesystem::create_directories(Musica());
    WriteBytes(Out("Altro.ogg"), {'v', 'e', 'c', 'c', 'h', 'i', 'o'});
    TPrima& f = MakeForm();
    f.Processi = 3;
    ShowForm();
    Start({a, altro, b, c, d});
    ASSERT_TRUE(WaitForEnded({2}));
    ASSERT_TRUE(WaitFor([this] { return Corsa()->Voce(3).Iniziata; }));
    ASSERT_EQ(f.Lista->count(), 5);
    for (size_t i : {0, 1, 3})
        ASSERT_FALSE(Corsa()->Voce(i).Finita) << i;
    ASSERT_FALSE(Corsa()->Voce(4).Iniziata);
    f.Ferma->click();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(f.Lista->count(), 0);
    EXPECT_EQ(f.Pagina->currentIndex(), 0);
    EXPECT_FALSE(f.Annullato);
    EXPECT_EQ(f.Stato->Panels()->Items(0)->Text(), "Nessun brano presente");
    ASSERT_TRUE(WaitForNoRun());

    const DecodedOgg first = DecodeOgg(Out("Lungo.ogg"));
    ASSERT_TRUE(first.ok);
    EXPECT_LT(first.pcmTotal, Frames(60));
    EXPECT_FALSE(HasComment(first));
    EXPECT_EQ(MusicaFiles(), (std::set<std::string>{"Lungo.ogg", "Altro.ogg"}));
    EXPECT_EQ(ReadBytes(Out("Altro.ogg")), (std::vector<uint8_t>{'v', 'e', 'c', 'c', 'h', 'i', 'o'}));
    EXPECT_TRUE(Messages.empty());
}

TEST_F(BatchRun, FilesAreShownTaggedAndReportedInListOrderWhileTheNextOnesEncode)
{
    const std::string lento = MakeWave("Lento.wav", 120), a = MakeWave("A.wav", 0.3), b = MakeWave("B.wav", 0.3);
    const std::string rotto = Home() + "/Rotto.wav";
    WriteBytes(rotto, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E', 0, 1, 2});
    TPrima& f = MakeForm();
    f.Processi = 2;
    // What had taken its name, and what was shown, when the error came.
    std::set<std::string> atBox;
    std::string shownAtBox;
    f.Messaggio->SetAnswerHook([&](const TMessageDialog& Box) {
        Messages.push_back({Box.Caption(), Box.Text(), Box.IconType(), {}});
        atBox = MusicaFiles();
        shownAtBox = f.Porco->Caption();
        return 1;
    });
    ShowForm();
    // Via.wav is missing: it is not queued.
    Start({lento, a, rotto, Home() + "/Via.wav", b});
    // The files behind the shown one end in the background and wait.
    ASSERT_TRUE(WaitForEnded({1, 2, 3}));
    ASSERT_TRUE(WaitFor([this] { return MusicaFiles().count("Lento.ogg.part") == 1; })); // past its loudness pass
    ASSERT_EQ(f.Lista->count(), 5);
    EXPECT_EQ(f.Porco->Caption(), Out("Lento.ogg"));
    EXPECT_EQ(MusicaFiles(), (std::set<std::string>{"Lento.ogg.part", "A.ogg.part", "B.ogg.part"}));
    EXPECT_TRUE(Messages.empty());
    ASSERT_TRUE(f.Salta->isEnabled());
    f.Salta->click();
    ASSERT_TRUE(WaitForEnd());

    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_TRUE(Messages[0].Text.startsWith("Impossibile codificare il file\r" + QString::fromStdString(rotto) + "\r"));
    EXPECT_EQ(atBox, (std::set<std::string>{"Lento.ogg", "A.ogg", "B.ogg.part"}));
    EXPECT_EQ(shownAtBox, Out("Rotto.ogg"));
    EXPECT_EQ(MusicaFiles(), (std::set<std::string>{"Lento.ogg", "A.ogg", "B.ogg"}));
    const DecodedOgg skipped = DecodeOgg(Out("Lento.ogg"));
    EXPECT_LT(skipped.pcmTotal, Frames(120));
    EXPECT_TRUE(HasComment(skipped));
    for (const char* name : {"A.ogg", "B.ogg"}) {
        const DecodedOgg d = DecodeOgg(Out(name));
        EXPECT_EQ(d.pcmTotal, Frames(0.3)) << name;
        EXPECT_TRUE(HasComment(d)) << name;
    }
}

TEST_F(BatchRun, MissingAndBrokenFilesAreDroppedAndWarningsListedAtTheEnd)
{
    const QString errore = "Errore - Velmar Fennick", avvisi = "Attenzione - Velmar Fennick";
    struct Case {
        const char* Name;
        // "*" marks a broken file, "?" a missing one.
        std::vector<std::string> List;
        std::vector<std::string> Encoded;
        std::vector<QString> Boxes; // captions, in order
    };
    const Case cases[] = {
        {"missing first", {"?Via.wav", "A.wav"}, {"A.ogg"}, {}},
        {"all missing", {"?Via.wav", "?Persa.wav"}, {}, {}},
        {"broken in the middle", {"A.wav", "*Rotto.wav", "B.wav"}, {"A.ogg", "B.ogg"}, {errore}},
        {"broken first", {"*Rotto.wav", "A.wav"}, {"A.ogg"}, {errore}},
        {"broken last", {"A.wav", "*Rotto.wav"}, {"A.ogg"}, {errore}},
        {"warnings after the error",
         {"A.wav", "*Rotto.wav", "sub/A.wav", "altra/A.wav"},
         {"A.ogg", "A (2).ogg", "A (3).ogg"},
         {errore, avvisi}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(Musica());
        Messages.clear();
        std::vector<std::string> list;
        for (const std::string& e : c.List) {
            const std::string name = e[0] == '*' || e[0] == '?' ? e.substr(1) : e;
            std::filesystem::create_directories(std::filesystem::path(Home() + "/" + name).parent_path());
            if (e[0] == '*')
                WriteBytes(Home() + "/" + name, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E', 0, 1, 2});
            else if (e[0] != '?')
                MakeWave(name, 0.3);
            list.push_back(Home() + "/" + name);
        }
        TPrima& f = MakeForm();
        ShowForm();
        Start(list);
        ASSERT_TRUE(WaitForEnd());
        for (const std::string& name : c.Encoded)
            EXPECT_TRUE(HasComment(DecodeOgg(Out(name)))) << name;
        EXPECT_FALSE(FileExists(Out("Rotto.ogg")));
        EXPECT_FALSE(FileExists(Out("Via.ogg")));
        ASSERT_EQ(Messages.size(), c.Boxes.size());
        for (size_t i = 0; i < Messages.size(); ++i) {
            const ShownMessage& m = Messages[i];
            EXPECT_EQ(m.Caption, c.Boxes[i]);
            EXPECT_EQ(m.Buttons, std::vector<QString>{"OK"});
            if (m.Caption == errore) {
                EXPECT_EQ(m.Icon, suiStop);
                EXPECT_TRUE(m.Text.startsWith("Impossibile codificare il file\r" +
                                              QString::fromStdString(Home() + "/Rotto.wav") + "\r"));
            } else {
                // One line per warning, each naming its input.
                EXPECT_EQ(m.Icon, suiWarning);
                const QStringList lines = m.Text.split('\r', Qt::SkipEmptyParts);
                ASSERT_EQ(lines.size(), 3) << m.Text.toStdString();
                for (int n : {2, 3}) {
                    const std::string input = Home() + (n == 2 ? "/sub/A.wav" : "/altra/A.wav");
                    EXPECT_TRUE(lines[n - 1].startsWith(QString::fromStdString("\"" + input + "\" è salvato come \"A (" +
                                                                               std::to_string(n) + ").ogg\"")));
                }
            }
        }
        EXPECT_EQ(f.Pagina->currentIndex(), 0);
        EXPECT_EQ(f.Lista->count(), 0);
    }
}

TEST_F(BatchRun, FilesDroppedDuringARunJoinItWithoutEnablingFine)
{
    const std::string a = MakeWave("Lungo.wav", 60), b = MakeWave("Dopo.wav", 0.3);
    TPrima& f = MakeForm();
    f.Processi = 2;
    ShowForm();
    Start({a});
    ASSERT_TRUE(WaitForProgress());
    EXPECT_FALSE(f.Salta->isEnabled());
    TVelmarDropFilesEvent drop({b});
    QCoreApplication::sendEvent(&f, &drop);
    EXPECT_EQ(f.Lista->count(), 2);
    EXPECT_TRUE(f.Salta->isEnabled()); // a next file exists now
    EXPECT_FALSE(f.Avanti->isEnabled());
    f.AvantiClick(); // even pressed, no second run starts
    EXPECT_TRUE(Messages.empty());
    // The free worker takes it while the shown file goes on.
    ASSERT_TRUE(WaitForEnded({1}));
    EXPECT_EQ(f.Lista->count(), 2);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(HasComment(DecodeOgg(Out("Lungo.ogg"))));
    EXPECT_TRUE(HasComment(DecodeOgg(Out("Dopo.ogg"))));
}

TEST_F(BatchRun, ClosingDuringARunAsksAndCancelsIt)
{
    const std::string a = MakeWave("Lungo.wav", 60), b = MakeWave("Dietro.wav", 60);
    TPrima& f = MakeForm();
    f.Processi = 2;
    ShowForm();
    Start({a, b});
    ASSERT_TRUE(WaitForProgress());
    Answer = 2;
    f.Chiudi->click();
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(f.InCorso());
    Answer = 1;
    f.Chiudi->click();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(Messages.size(), 2u);
    // As a cancel, even when the window goes at once.
    FForm.reset();
    const OggPages pages = ScanOggPages(Out("Lungo.ogg"));
    EXPECT_TRUE(pages.ok);
    EXPECT_TRUE(pages.lastIsEos);
    EXPECT_FALSE(HasComment(DecodeOgg(Out("Lungo.ogg"))));
    EXPECT_EQ(MusicaFiles(), std::set<std::string>{"Lungo.ogg"});
}

// A logout, Ctrl-C or a kill: the same close, confirmed without a question.
TEST_F(BatchRun, ASignalClosesTheWindowAsAConfirmedClose)
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        std::filesystem::remove_all(Musica());
        const std::string a = MakeWave("Lungo.wav", 60), b = MakeWave("Dietro.wav", 60);
        TPrima& f = MakeForm();
        f.Processi = 2;
        TSegnali segnali;
        QObject::connect(&segnali, &TSegnali::Arrivato, &f, [&f] { f.ChiudiSenzaChiedere(); });
        ShowForm();
        Start({a, b});
        ASSERT_TRUE(WaitForProgress());
        ::kill(::getpid(), signal);
        ASSERT_TRUE(WaitFor([&f] { return !f.isVisible(); }));
        EXPECT_EQ(segnali.Ricevuto(), signal);
        FForm.reset();
        EXPECT_TRUE(Messages.empty());
        EXPECT_FALSE(HasComment(DecodeOgg(Out("Lungo.ogg"))));
        EXPECT_EQ(MusicaFiles(), std::set<std::string>{"Lungo.ogg"}); // no temporary left
    }
}

TEST_F(BatchRun, ARunFromTheFileManagerClosesTheProgramAtItsEnd)
{
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "finished");
        std::filesystem::remove(Out("Dal menu.ogg")); // a stopped file would not replace it
        const std::string a = MakeWave("Dal menu.wav", cancel ? 20 : 0.5);
        // Several selected files (%F) all run before it closes.
        const std::string b = MakeWave("Secondo.wav", 0.5);
        TPrima& f = MakeForm(cancel ? std::vector<std::string>{a} : std::vector<std::string>{a, b});
        ShowForm();
        ASSERT_TRUE(f.ChiudiAllaFine);
        // Only navigating does not close it.
        f.Indietro->click();
        f.Avanti->click();
        EXPECT_TRUE(f.isVisible());
        f.Avanti->click();
        ASSERT_TRUE(f.InCorso());
        if (cancel) {
            ASSERT_TRUE(WaitForProgress());
            f.Ferma->click();
        }
        ASSERT_TRUE(WaitFor([&f] { return !f.isVisible(); }));
        EXPECT_EQ(HasComment(DecodeOgg(Out("Dal menu.ogg"))), !cancel);
        if (!cancel) {
            EXPECT_TRUE(HasComment(DecodeOgg(Out("Secondo.ogg"))));
        }
        EXPECT_TRUE(Messages.empty());
    }
}

// Only files encoded to their end are counted, and a cancelled run says so;
// a run with none says nothing. Each row runs Files, then presses Press
// once only Left entries remain with the shown one under way.
TEST_F(BatchRun, TheEndOfARunIsNotifiedWithTheFilesEncodedToTheEnd)
{
    BusPrivato bus(true);
    const std::string lungo = MakeWave("Lungo.wav", 30), b = MakeWave("B.wav", 0.3), c = MakeWave("C.wav", 0.3);
    TPrima& f = MakeForm();
    f.Notifica->SetBus(bus.Cliente());
    ShowForm();
    const struct {
        std::vector<std::string> Files;
        int Left;
        QPushButton* Press;
        const char* Told; // null: nothing
    } rows[] = {
        {{lungo, b, c}, 3, f.Salta, "Codifica completata: 2 file in ~/Documenti/Musica"},
        {{b, lungo}, 1, f.Ferma, "Codifica annullata: 1 file in ~/Documenti/Musica"},
        {{lungo}, 1, f.Ferma, nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.Files.size());
        bus.Notificatore.Richieste.clear();
        Start(r.Files);
        ASSERT_TRUE(WaitFor([&] { return f.Lista->count() == r.Left && f.Barra->value() >= 2; }));
        r.Press->click();
        ASSERT_TRUE(WaitForEnd());
        if (r.Told) {
            ASSERT_TRUE(WaitFor([&] { return bus.Notificatore.Richieste.size() == 1; }, 5000));
            EXPECT_EQ(bus.Notificatore.Richieste[0].value(3).toString(), r.Told);
        } else {
            Pump(200);
            EXPECT_TRUE(bus.Notificatore.Richieste.empty());
        }
    }
}

TEST_F(BatchRun, TheTimesShowTheElapsedAndTheProjectedTotal)
{
    TPrima& f = MakeForm();
    double now = 1000.0;
    f.Stima->SetClock([&now] { return now; });
    f.Stima->SetEnabled(true);
    f.Barra->setValue(25);
    now += 60.0 / 86400;
    f.Stima->Tick();
    EXPECT_EQ(f.TraLab->text(), "Tempo trascorso: 00:01:00");
    EXPECT_EQ(f.TotLab->text(), "Tempo stimato: 00:04:00");
    f.Stima->SetEnabled(false);

    // The next file starts without the last one's times.
    f.AggiungiVoce(MakeWave("Breve.wav", 0.2));
    f.Go();
    EXPECT_EQ(f.TraLab->text(), "Tempo trascorso:");
    EXPECT_EQ(f.TotLab->text(), "Tempo stimato:");
    ASSERT_TRUE(WaitForEnd());
}

TEST(FormatoOre, RoundsToTheSecondAndDoesNotWrapAtADay)
{
    const std::pair<double, const char*> rows[] = {
        {0, "00:00:00"},         {0.97, "00:00:01"},   {1, "00:00:01"},        {59.4, "00:00:59"},
        {3661, "01:01:01"},      {86399, "23:59:59"},  {25 * 3600, "25:00:00"}, {-5, "00:00:00"},
    };
    for (const auto& [seconds, text] : rows)
        EXPECT_EQ(FormatoOre(seconds / 86400), text) << seconds;
}

TEST_F(BatchRun, OutputNamesReplaceTheExtension)
{
    TPrima& f = MakeForm();
    const std::pair<std::string, std::string> rows[] = {
        {"/a/Brano 1.wav", "Brano 1.ogg"}, {"/a/Brano.WAV", "Brano.ogg"}, {"/a/Brano.wave", "Brano.ogg"},
        {"/a/Brano", "Brano.ogg"},         {"/a.b/Brano", "Brano.ogg"},   {"/a/Uno.due.wav", "Uno.due.ogg"},
        {"Brano.wav", "Brano.ogg"},
    };
    for (const auto& [input, name] : rows)
        EXPECT_EQ(f.NomeUscita(input), Musica() + "/" + name) << input;
}

} // namespace
