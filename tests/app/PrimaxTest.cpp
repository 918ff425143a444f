// The wizard's steps, settings, file list and start-up, driven through the
// real window with its message box and open dialog scripted.
#include "AppFixture.h"

#include "app/Codifica.h"
#include "sources/VelmarConverters.h"
#include "decor/VelmarLine.h"
#include "decor/VelmarMailLabel.h"
#include "decor/VelmarRotateLabel.h"
#include "decor/VelmarWebLabel.h"
#include "support/VelmarDropFiles.h"
#include "support/VelmarFileDialogEx.h"
#include "support/VelmarPathLabel.h"
#include "support/VelmarStatusBarImage.h"
#include "vorbis/VelmarVorbis.h"

#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QUrl>
#include <QGroupBox>
#include <QProgressBar>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <functional>
#include <set>

using namespace velmar;
using namespace testing_support;

namespace {

QString StatusText(TPrima& F)
{
    return F.Stato->Panels()->Items(0)->Text();
}

std::vector<std::string> Entries(TPrima& F)
{
    std::vector<std::string> out;
    for (int i = 0; i < F.Lista->count(); ++i)
        out.push_back(F.Voce(i));
    return out;
}

void Drop(TPrima& F, const TStringList& Paths)
{
    TVelmarDropFilesEvent e(Paths);
    QCoreApplication::sendEvent(&F, &e);
}

class Wizard : public AppTest {};

// Stands in for the browser and the mail program.
class Opener : public QObject {
    Q_OBJECT
public:
    Opener()
    {
        for (const char* scheme : {"https", "http", "mailto"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~Opener() override
    {
        for (const char* scheme : {"https", "http", "mailto"})
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> Opened;
public slots:
    void open(const QUrl& Url) { Opened << Url; }
};

TEST_F(Wizard, StartsOnTheWelcomePageWithTheStartSettings)
{
    TPrima& f = MakeForm();
    // Shown before any activation (no window manager activates it).
    EXPECT_EQ(StatusText(f), "Nessun brano presente");
    ShowForm();
    EXPECT_EQ(f.size(), QSize(454, 349));
    EXPECT_EQ(f.windowTitle(), "Velmar Fennick");
    EXPECT_EQ(f.frameGeometry().center(), f.screen()->availableGeometry().center());
    EXPECT_EQ(QApplication::focusWidget(), f.Avanti);
    EXPECT_EQ(f.Pagina->currentIndex(), 0);
    EXPECT_EQ(f.Passo, 0);
    EXPECT_FALSE(f.Indietro->isEnabled());
    EXPECT_TRUE(f.Avanti->isEnabled());
    EXPECT_EQ(f.Avanti->text(), "&Avanti >");
    EXPECT_TRUE(f.Avanti->isDefault());
    EXPECT_EQ(StatusText(f), "Nessun brano presente");
    EXPECT_EQ(f.BarraOgg->value(), 4);
    EXPECT_EQ(f.SampleBox->currentText(), "44.100 Hz");
    EXPECT_FLOAT_EQ(f.Vorbis->Compression(), 0.4f);
    EXPECT_EQ(f.Rate->OutSampleRate(), 44100);
    EXPECT_TRUE(f.Rate->AltaQualita());
    EXPECT_FALSE(f.Vorbis->SuspendWhenIdle());
    EXPECT_FALSE(f.Drop->Enabled());
    EXPECT_FALSE(f.ChiudiAllaFine);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(Wizard, MakesTheOutputFolderWithItsParents)
{
    struct Case {
        std::string UserDirs;
        std::string Expected; // under the home folder
        QString Named;        // on the welcome page
    };
    const std::string deep = "/Una cartella molto lunga/con dentro/altre cartelle dai nomi lunghi/Documenti";
    const Case cases[] = {
        {"XDG_DOCUMENTS_DIR=\"$HOME/a/b/Documenti\"", "/a/b/Documenti/Musica", "~/a/b/Documenti/Musica. "},
        // No documents folder: the home folder, never the root of the file system.
        {"XDG_DOCUMENTS_DIR=\"\"", "/Musica", "~/Musica. "},
        {"# nothing", "/Musica", "~/Musica. "},
        // Too long for the page: shortened in the middle, both ends kept.
        {"XDG_DOCUMENTS_DIR=\"$HOME" + deep + "\"", deep + "/Musica", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.UserDirs);
        SetDocuments(c.UserDirs);
        TPrima& f = MakeForm();
        EXPECT_EQ(f.CartellaMusica, Home() + c.Expected);
        EXPECT_TRUE(std::filesystem::is_directory(Home() + c.Expected));
        const QStringList lines = f.Label1->text().split('\n');
        const qsizetype at = lines.indexOf("NOTA: I file verranno creati nella cartella ") + 1;
        ASSERT_GT(at, 0);
        ASSERT_LT(at, lines.size());
        const QString named = lines[at];
        if (!c.Named.isEmpty()) {
            EXPECT_EQ(named, c.Named);
            continue;
        }
        EXPECT_TRUE(named.startsWith("~/Una")) << named.toStdString();
        EXPECT_TRUE(named.endsWith("Documenti/Musica. ")) << named.toStdString();
        EXPECT_TRUE(named.contains(QChar(0x2026)));
        EXPECT_LE(f.Label1->geometry().right(), f.Pagina->width());
    }
}

TEST_F(Wizard, KeepsAnExistingOutputFolderAsItIs)
{
    std::filesystem::create_directories(Musica());
    WriteBytes(Musica() + "/gia.ogg", {1, 2, 3});
    TPrima& f = MakeForm();
    EXPECT_EQ(f.CartellaMusica, Musica());
    EXPECT_EQ(ReadBytes(Musica() + "/gia.ogg"), (std::vector<uint8_t>{1, 2, 3}));
}

// Each row: a click, then the state Verifico gives.
TEST_F(Wizard, NavigatesThroughTheStepsWithTheButtonStatesOfEachStep)
{
    enum Click { Avanti, Indietro };
    struct Row {
        Click Do;
        int Passo;
        bool IndietroOn, AvantiOn;
        const char* Caption;
        bool AvantiDefault, AggiungiDefault, DropOn;
    };
    const Row rows[] = {
        {Avanti, 1, true, true, "&Avanti > ", true, false, false},
        {Avanti, 2, true, false, "&Fine", false, true, true},
        {Indietro, 1, true, true, "&Avanti > ", true, false, false},
        {Indietro, 0, false, true, "&Avanti > ", true, false, false},
        {Indietro, 0, false, true, "&Avanti > ", true, false, false}, // never below step 0
        {Avanti, 1, true, true, "&Avanti > ", true, false, false},
        {Avanti, 2, true, false, "&Fine", false, true, true},
    };
    TPrima& f = MakeForm();
    ShowForm();
    int n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(++n);
        (r.Do == Avanti ? f.Avanti : f.Indietro)->click();
        EXPECT_EQ(f.Passo, r.Passo);
        EXPECT_EQ(f.Pagina->currentIndex(), r.Passo);
        EXPECT_EQ(f.Indietro->isEnabled(), r.IndietroOn);
        EXPECT_EQ(f.Avanti->isEnabled(), r.AvantiOn);
        EXPECT_EQ(f.Avanti->text(), r.Caption);
        EXPECT_EQ(f.Avanti->isDefault(), r.AvantiDefault);
        EXPECT_EQ(f.Aggiungi->isDefault(), r.AggiungiDefault);
        EXPECT_FALSE(f.Indietro->isDefault());
        EXPECT_FALSE(f.Chiudi->isDefault());
        EXPECT_EQ(f.Drop->Enabled(), r.DropOn);
    }
    // "Fine" with entries is enabled on step 2; navigation never passes it.
    f.AggiungiVoce(Home() + "/a.wav");
    f.Verifico();
    EXPECT_TRUE(f.Avanti->isEnabled());
    EXPECT_TRUE(f.Avanti->isDefault()); // "Fine" once there is something to encode
    EXPECT_FALSE(f.Aggiungi->isDefault());
    f.Passo = 2;
    f.Avanti->setText("&Avanti > ");
    f.AvantiClick();
    EXPECT_EQ(f.Passo, 2);
}

TEST_F(Wizard, QualityPositionsSetTheCompression)
{
    TPrima& f = MakeForm();
    for (int position = 1; position <= 9; ++position) {
        f.BarraOgg->setValue(position);
        EXPECT_FLOAT_EQ(f.Vorbis->Compression(), position / 10.0f) << position;
    }
    // The bar's own range keeps any other position out.
    f.BarraOgg->setValue(12);
    EXPECT_EQ(f.BarraOgg->value(), 9);
    EXPECT_FLOAT_EQ(f.Vorbis->Compression(), 0.9f);
}

TEST_F(Wizard, SampleRateEntriesSetTheConverter)
{
    const struct {
        const char* Text;
        int Rate;
    } entries[] = {{"48.000 Hz", 48000}, {"44.100 Hz", 44100}, {"32.000 Hz", 32000}, {"24.000 Hz", 24000},
                   {"22.050 Hz", 22050}, {"16.000 Hz", 16000}, {"11.025 Hz", 11025}, {"8.000 Hz", 8000}};
    TPrima& f = MakeForm();
    ASSERT_EQ(f.SampleBox->count(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(f.SampleBox->itemText(i), entries[i].Text);
        f.SampleBox->setCurrentIndex(i);
        emit f.SampleBox->activated(i); // the user's choice
        EXPECT_EQ(f.Rate->OutSampleRate(), entries[i].Rate) << i;
    }
    // A selection made by the program is no change of the setting.
    f.SampleBox->setCurrentIndex(2);
    EXPECT_EQ(f.Rate->OutSampleRate(), 8000);
}

TEST_F(Wizard, DefaultsGiveQuality4And48000)
{
    TPrima& f = MakeForm();
    f.BarraOgg->setValue(8);
    f.SampleBox->setCurrentIndex(6);
    emit f.SampleBox->activated(6);
    f.Default->click();
    EXPECT_EQ(f.BarraOgg->value(), 4);
    EXPECT_FLOAT_EQ(f.Vorbis->Compression(), 0.4f);
    EXPECT_EQ(f.SampleBox->currentText(), "48.000 Hz");
    EXPECT_EQ(f.Rate->OutSampleRate(), 48000);
}

TEST_F(Wizard, ALaterActivationKeepsTheChosenSettings)
{
    TPrima& f = MakeForm();
    ShowForm();
    f.BarraOgg->setValue(7);
    f.SampleBox->setCurrentIndex(4);
    emit f.SampleBox->activated(4);
    f.FormActivate(); // as after a message box
    EXPECT_EQ(f.BarraOgg->value(), 7);
    EXPECT_FLOAT_EQ(f.Vorbis->Compression(), 0.7f);
    EXPECT_EQ(f.SampleBox->currentText(), "22.050 Hz");
    EXPECT_EQ(f.Rate->OutSampleRate(), 22050);
}

TEST_F(Wizard, FineWithAnEmptyListShowsTheMessageAndChangesNothing)
{
    TPrima& f = MakeForm();
    ShowForm();
    f.Avanti->click();
    f.Avanti->click();
    f.AggiungiVoce(Home() + "/a.wav");
    f.Verifico();
    f.Eliminatutti1->trigger(); // "Fine" stays enabled
    ASSERT_TRUE(f.Avanti->isEnabled());
    Messages.clear(); // the question of "Elimina tutti"
    f.Avanti->click();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Caption, "Errore - Velmar Fennick");
    EXPECT_EQ(Messages[0].Text, "Nessun brano presente nella lista.\r\rImpossibile procedere con la codifica.");
    EXPECT_EQ(Messages[0].Icon, suiStop);
    EXPECT_EQ(Messages[0].Buttons, std::vector<QString>{"OK"});
    EXPECT_EQ(f.Passo, 2);
    EXPECT_EQ(f.Pagina->currentIndex(), 2);
    EXPECT_EQ(f.Lista->count(), 0);
    EXPECT_EQ(f.findChild<TCodifica*>(), nullptr); // no run started
}

TEST_F(Wizard, CountTextFollowsTheList)
{
    const char* texts[] = {"Nessun brano presente", "1 brano presente", "2 brani presenti", "3 brani presenti"};
    TPrima& f = MakeForm();
    for (int n = 0; n < 4; ++n) {
        f.Contatore();
        EXPECT_EQ(StatusText(f), texts[n]);
        f.AggiungiVoce("/x/" + std::to_string(n) + ".wav");
    }
}

TEST_F(Wizard, TheDialogsSelectionIsAddedLastFirst)
{
    TPrima& f = MakeForm();
    ShowForm();
    f.Avanti->click();
    f.Avanti->click();
    DialogFiles = {"/m/A.wav", "/m/B.wav", "/m/C.wav"};
    f.Aggiungi->click();
    EXPECT_EQ(Entries(f), (std::vector<std::string>{"/m/C.wav", "/m/B.wav", "/m/A.wav"}));
    EXPECT_EQ(StatusText(f), "3 brani presenti");
    EXPECT_TRUE(f.Avanti->isEnabled());
    EXPECT_TRUE(f.Avanti->isDefault());
    EXPECT_FALSE(f.Aggiungi->isDefault());

    // Cancelled: nothing added; the same file again gives a second entry.
    DialogConfirms = false;
    f.Aggiungi1->trigger();
    EXPECT_EQ(f.Lista->count(), 3);
    DialogConfirms = true;
    DialogFiles = {"/m/A.wav"};
    f.Aggiungi1->trigger();
    EXPECT_EQ(f.Lista->count(), 4);
    EXPECT_EQ(f.Voce(3), "/m/A.wav");
}

TEST_F(Wizard, ACancelledDialogOnAnEmptyListLeavesFineDisabled)
{
    TPrima& f = MakeForm();
    ShowForm();
    f.Avanti->click();
    f.Avanti->click();
    DialogConfirms = false;
    f.Aggiungi->click();
    EXPECT_FALSE(f.Avanti->isEnabled());
    EXPECT_FALSE(f.Avanti->isDefault());
    EXPECT_TRUE(f.Aggiungi->isDefault());
    EXPECT_EQ(StatusText(f), "Nessun brano presente");
}

TEST_F(Wizard, ADropAddsAudioFilesAndRefusesTheOthersOneMessageEach)
{
    TPrima& f = MakeForm();
    ShowForm();
    f.Avanti->click();
    f.Avanti->click();
    Drop(f, {"/d/x.wav", "/d/y.mp3", "/d/z.WAV", "/d/a.FLAC", "/d/b.aif", "/d/c.Aiff", "/d/d.aifc", "/d/e.flac.ogg"});
    EXPECT_EQ(Entries(f),
              (std::vector<std::string>{"/d/x.wav", "/d/z.WAV", "/d/a.FLAC", "/d/b.aif", "/d/c.Aiff", "/d/d.aifc"}));
    ASSERT_EQ(Messages.size(), 2u);
    for (const auto& m : Messages) {
        EXPECT_EQ(m.Caption, "Errore - Velmar Fennick");
        EXPECT_EQ(m.Text, QString::fromUtf8("Il formato del file non è supportato da Velmar Fennick!"));
        EXPECT_EQ(m.Icon, suiStop);
    }
    EXPECT_TRUE(f.Avanti->isEnabled());
    EXPECT_EQ(StatusText(f), "6 brani presenti");

    // A WAVE file's extension is compared as it is written; a folder has none.
    Messages.clear();
    Drop(f, {"/d/mixed.Wav", "/d/cartella", "/d.wav/senza", "/d/ok.wav"});
    EXPECT_EQ(Messages.size(), 3u);
    EXPECT_EQ(f.Voce(6), "/d/ok.wav");
    EXPECT_EQ(f.Lista->count(), 7);
}

TEST_F(Wizard, DropsOnTheFirstTwoStepsAreIgnored)
{
    TPrima& f = MakeForm();
    ShowForm();
    Drop(f, {"/d/x.wav"});
    f.Avanti->click();
    Drop(f, {"/d/y.wav"});
    EXPECT_EQ(f.Lista->count(), 0);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(Wizard, DeletingRemovesTheSelectedEntriesOnlyAndEmptyingAsksFirst)
{
    TPrima& f = MakeForm();
    for (const char* p : {"/a.wav", "/b.wav", "/c.wav", "/d.wav"})
        f.AggiungiVoce(p);
    f.Lista->setCurrentRow(-1);
    f.Lista->clearSelection();
    f.Elimina1->trigger();
    EXPECT_EQ(f.Lista->count(), 4);
    f.Lista->item(1)->setSelected(true);
    f.Lista->item(3)->setSelected(true);
    f.Elimina1->trigger();
    EXPECT_EQ(Entries(f), (std::vector<std::string>{"/a.wav", "/c.wav"}));
    EXPECT_EQ(StatusText(f), "2 brani presenti");
    EXPECT_TRUE(Messages.empty());

    Answer = 2; // "No"
    f.Eliminatutti1->trigger();
    EXPECT_EQ(f.Lista->count(), 2);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Icon, suiWarning);
    EXPECT_EQ(Messages[0].Buttons, (std::vector<QString>{QString::fromUtf8("Sì"), "No"}));
    Answer = 1;
    f.Eliminatutti1->trigger();
    EXPECT_EQ(f.Lista->count(), 0);
    EXPECT_EQ(StatusText(f), "Nessun brano presente");
    // An empty list has nothing to ask about.
    f.Eliminatutti1->trigger();
    EXPECT_EQ(Messages.size(), 2u);
}

TEST_F(Wizard, ClosingAsksOnlyDuringARun)
{
    TPrima& f = MakeForm();
    for (int page = 0; page < 3; ++page) {
        f.Pagina->setCurrentIndex(page);
        bool can = false;
        f.FormCloseQuery(can);
        EXPECT_TRUE(can) << page;
    }
    EXPECT_TRUE(Messages.empty());

    f.Pagina->setCurrentIndex(3);
    for (int answer : {2, 1}) {
        Answer = answer;
        bool can = answer == 2;
        f.FormCloseQuery(can);
        EXPECT_EQ(can, answer == 1);
    }
    ASSERT_EQ(Messages.size(), 2u);
    EXPECT_EQ(Messages[0].Caption, "Velmar Fennick");
    EXPECT_EQ(Messages[0].Text, "Annullare la codifica?");
    EXPECT_EQ(Messages[0].Icon, suiWarning);
    EXPECT_EQ(Messages[0].Buttons, (std::vector<QString>{QString::fromUtf8("Sì"), "No"}));
}

TEST_F(Wizard, ShowsTheTextsOfItsPagesAndMenus)
{
    TPrima& f = MakeForm();
    const std::pair<QString, QString> texts[] = {
        {f.Label2->text(), QString::fromUtf8("1° passo - La qualità della codifica audio")},
        {f.Label4->text(), QString::fromUtf8("2° passo - La lista dei file da codificare")},
        {f.Label6->text(), QString::fromUtf8("3° passo - Codifica dei files in corso...")},
        {f.Label3->text(), "Dopo aver creato la lista premi Fine\nper avviare la codifica."},
        {f.Label7->text(), "Attendi la fine della codifica oppure premi\nAnnulla operazione per abortire."},
        {f.Label5->text(), "Premi Avanti per continuare."},
        {f.QualitaOgg->title(), QString::fromUtf8(" Qualità Ogg Vorbis ")},
        {f.SampleOgg->title(), QString::fromUtf8(" SampleRate (Velocità del campione audio) ")},
        {f.TraLab->text(), "Tempo trascorso:"},
        {f.TotLab->text(), "Tempo stimato:"},
        {f.Informazioni->text(), "Informazioni su Velmar Fennick"},
        {f.Him->text(), "Velmar Systems, Inc. Home Page"},
        {f.Heer->text(), "Supporto tecnico"},
        {f.Chiudi1->text(), "Chiudi"},
        {f.Aggiungi1->text(), "Aggiungi"},
        {f.Elimina1->text(), "Elimina"},
        {f.Eliminatutti1->text(), "&Elimina tutti"},
        {f.Apri->windowTitle(), "Aggiungi files da codificare - Velmar Fennick"},
    };
    int n = 0;
    for (const auto& [shown, expected] : texts)
        EXPECT_EQ(shown, expected) << "row " << n++;
    EXPECT_EQ(f.Titolo->text(), "Benvenuto in Velmar Fennick!");
    EXPECT_EQ(f.pop->defaultAction(), f.Chiudi1);
    EXPECT_EQ(f.Chiudi1->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
}

TEST_F(Wizard, ControlsSitWhereTheLayoutPutsThem)
{
    TPrima& f = MakeForm();
    const std::pair<QWidget*, QRect> places[] = {
        {f.Forma, {1, 0, 452, 348}},      {f.Banner, {0, 23, 52, 306}},     {f.Linea, {64, 275, 372, 10}},
        {f.Pagina, {64, 37, 369, 225}},   {f.Indietro, {176, 288, 80, 27}}, {f.Avanti, {258, 288, 80, 27}},
        {f.Chiudi, {352, 288, 80, 27}},   {f.Stato, {0, 329, 452, 19}},     {f.Lista, {48, 40, 305, 109}},
        {f.Aggiungi, {240, 176, 113, 25}}, {f.Porco, {48, 88, 297, 13}},    {f.Barra, {48, 112, 297, 12}},
        {f.Salta, {224, 144, 113, 25}},   {f.Ferma, {224, 176, 113, 25}},   {f.Titolo, {16, 8, 307, 23}},
    };
    for (const auto& [w, r] : places)
        EXPECT_EQ(w->geometry(), r) << w->metaObject()->className();
    EXPECT_FALSE(f.Home->isVisibleTo(&f));
    EXPECT_FALSE(f.Mail->isVisibleTo(&f));
}

// Each row: a press of the left button on Handle at At, a drag of (30, 20)
// and the release. Offscreen, as with no window manager, the window system
// cannot move the window: it follows the pointer itself.
TEST_F(Wizard, DraggingTheTitleBarOrTheBannerMovesTheWindow)
{
    TPrima& f = MakeForm();
    ShowForm();
    const struct {
        QWidget* Handle;
        QPoint At;
        bool Moves;
    } rows[] = {
        {f.Forma, {200, 10}, true},   // the title bar
        {f.Banner, {20, 150}, true},  // the banner
        {f.Forma, {150, 300}, false}, // the frame below the title bar
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.At.y());
        const QPoint start = f.pos();
        const QPoint from = r.Handle->mapToGlobal(r.At), to = from + QPoint(30, 20);
        // One at a time: the events of one pointer share their point.
        const auto send = [&](QEvent::Type Type, const QPoint& Global, Qt::MouseButton Button, Qt::MouseButtons Held) {
            QMouseEvent e(Type, r.Handle->mapFromGlobal(Global), Global, Button, Held, Qt::NoModifier);
            QCoreApplication::sendEvent(r.Handle, &e);
        };
        send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
        Pump(10); // the window system reports the new place
        EXPECT_EQ(f.pos(), start + (r.Moves ? QPoint(30, 20) : QPoint()));
    }
}

// The keyboard as a person uses it: each row types a key into the widget
// that has the focus (after Before) and checks what it did.
TEST_F(Wizard, TheKeyboardDrivesTheWizard)
{
    TPrima& f = MakeForm();
    ShowForm();
    DialogFiles = {"/m/manca1.wav"};
    const struct {
        const char* What;
        int Key;
        Qt::KeyboardModifiers Mods;
        std::function<void()> Before;
        std::function<bool()> Done;
    } rows[] = {
        {"Enter on step 0 is Avanti", Qt::Key_Return, Qt::NoModifier, {}, [&] { return f.Passo == 1; }},
        {"Alt+I is Indietro", Qt::Key_I, Qt::AltModifier, {}, [&] { return f.Passo == 0; }},
        {"Alt+A is Avanti", Qt::Key_A, Qt::AltModifier, {}, [&] { return f.Passo == 1; }},
        {"Alt+P is Imposta predefinite", Qt::Key_P, Qt::AltModifier, {},
         [&] { return f.SampleBox->currentIndex() == 0; }},
        {"Alt+A again", Qt::Key_A, Qt::AltModifier, {}, [&] { return f.Passo == 2; }},
        {"Enter with an empty list is Aggiungi files", Qt::Key_Return, Qt::NoModifier, {},
         [&] { return f.Lista->count() == 1; }},
        {"Alt+G is Aggiungi files", Qt::Key_G, Qt::AltModifier, {}, [&] { return f.Lista->count() == 2; }},
        {"Delete removes the selected entry", Qt::Key_Delete, Qt::NoModifier,
         [&] {
             f.Lista->setFocus();
             f.Lista->setCurrentRow(0);
         },
         [&] { return f.Lista->count() == 1; }},
        // The run that Fine starts drops the missing files and ends at once.
        {"after a drop Enter is Fine", Qt::Key_Return, Qt::NoModifier, [&] { Drop(f, {"/m/manca2.wav"}); },
         [&] { return f.Passo == 0 && f.Lista->count() == 0; }},
        {"Escape during a run asks", Qt::Key_Escape, Qt::NoModifier,
         [&] {
             f.Pagina->setCurrentIndex(3);
             Answer = 2;
         },
         [&] { return Messages.size() == 1 && f.isVisible(); }},
        {"Escape is Chiudi", Qt::Key_Escape, Qt::NoModifier, [&] { f.Pagina->setCurrentIndex(0); },
         [&] { return !f.isVisible(); }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.What);
        if (r.Before)
            r.Before();
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, static_cast<Qt::Key>(r.Key), r.Mods);
        EXPECT_TRUE(WaitFor(r.Done, 2000)); // an accelerator clicks after a short animation
    }
}

// Every button a page shows has an Alt accelerator of its own, and Tab
// never stops on the title bar's buttons.
TEST_F(Wizard, AcceleratorsAreUniqueOnEveryPageAndTabSkipsTheTitleBar)
{
    TPrima& f = MakeForm();
    ShowForm();
    for (int page = 0; page < 4; ++page) {
        SCOPED_TRACE(page);
        f.Pagina->setCurrentIndex(page);
        f.Avanti->setText(page < 2 ? "&Avanti > " : "&Fine"); // as Verifico leaves it
        std::set<QString> seen;
        for (QPushButton* b : f.findChildren<QPushButton*>()) {
            if (!b->isVisible())
                continue;
            const QString key = QKeySequence::mnemonic(b->text()).toString();
            EXPECT_FALSE(key.isEmpty()) << b->text().toStdString();
            EXPECT_TRUE(seen.insert(key).second) << key.toStdString();
        }
    }
    f.Pagina->setCurrentIndex(0);
    f.Avanti->setFocus();
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(qobject_cast<QToolButton*>(QApplication::focusWidget()), nullptr) << i;
    }
}

TEST_F(Wizard, TheMenuOpensTheHomePageAndTheSupportMail)
{
    TPrima& f = MakeForm();
    Opener opener;
    f.Him->trigger();
    f.Heer->trigger();
    ASSERT_EQ(opener.Opened.size(), 2);
    EXPECT_EQ(opener.Opened[0].scheme(), "https");
    EXPECT_EQ(opener.Opened[1].scheme(), "mailto");
    EXPECT_EQ(f.Home->Modo(), Ingrandita);
}

TEST_F(Wizard, FilesOnTheCommandLineOpenOnTheListStep)
{
    const std::string spaced = MakeWave("Brano 1.wav", 0.1);
    const std::string first = MakeWave("Brano", 0.1); // the split path's first part names a file too
    const std::string other = MakeWave("altro.wav", 0.1);
    struct Row {
        std::vector<std::string> params;
        std::vector<std::string> entries;
        const char* status;
    };
    const Row rows[] = {
        // A path split at its blank comes back whole.
        {{Home() + "/Brano", "1.wav"}, {spaced}, "1 brano presente"},
        // A file manager's %F: every existing file, whole, in the order given.
        {{other, spaced, Home() + "/manca.wav", first}, {other, spaced, first}, "3 brani presenti"},
    };
    for (const Row& r : rows) {
        TPrima& f = MakeForm(r.params);
        ShowForm();
        EXPECT_TRUE(f.ChiudiAllaFine);
        EXPECT_EQ(f.Passo, 2);
        EXPECT_EQ(f.Pagina->currentIndex(), 2);
        EXPECT_EQ(Entries(f), r.entries);
        EXPECT_EQ(f.Avanti->text(), "&Fine");
        EXPECT_TRUE(f.Avanti->isDefault()); // Enter starts the run
        EXPECT_TRUE(f.Avanti->isEnabled());
        EXPECT_TRUE(f.Indietro->isEnabled());
        EXPECT_EQ(StatusText(f), r.status);
        EXPECT_FLOAT_EQ(f.Vorbis->Compression(), 0.4f);
    }
}

TEST_F(Wizard, ACommandLineWithoutAnExistingFileIsIgnored)
{
    const std::string folder = Home() + "/cartella";
    std::filesystem::create_directories(folder);
    for (const std::vector<std::string>& params :
         {std::vector<std::string>{Home() + "/manca.wav"}, std::vector<std::string>{folder}}) {
        TPrima& f = MakeForm(params);
        ShowForm();
        EXPECT_FALSE(f.ChiudiAllaFine);
        EXPECT_EQ(f.Pagina->currentIndex(), 0);
        EXPECT_EQ(f.Lista->count(), 0);
    }
}

} // namespace

#include "PrimaxTest.moc"
