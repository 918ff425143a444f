#include "app/Primax.h"

#include "app/Codifica.h"
#include "app/Disegni.h"
#include "app/Finestra.h"
#include "app/ListaFile.h"
#include "app/MessageDialog.h"
#include "app/Pagine.h"
#include "app/VoceDesktop.h"
#include "decor/VelmarLine.h"
#include "decor/VelmarMailLabel.h"
#include "decor/VelmarRotateLabel.h"
#include "decor/VelmarWebLabel.h"
#include "platform/Version.h"
#include "platform/XdgDirs.h"
#include "sources/VelmarConverters.h"
#include "sources/VelmarWave.h"
#include "support/VelmarDropFiles.h"
#include "support/VelmarEstimatedTimer.h"
#include "support/VelmarFileDialogEx.h"
#include "support/VelmarFolder.h"
#include "support/VelmarNotifica.h"
#include "support/VelmarPathLabel.h"
#include "support/VelmarStatusBarImage.h"
#include "vorbis/VelmarOggVorbis.h"
#include "vorbis/VelmarVorbis.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSlider>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

namespace velmar {

// ---- construction --------------------------------------------------------------

TPrima::TPrima(const std::vector<std::string>& Parametri, QWidget* AParent)
    : QWidget(AParent), FParametri(Parametri), FCartellaProgramma(QCoreApplication::applicationDirPath() + u'/')
{
    setObjectName(QStringLiteral("Prima"));
    EnsureTahomaFont();
    Immagini2 = DisegnaImmagini2();
    CreaFinestra();
    CreaMenu();
    CreaComponenti();
    FormCreate();
}

TPrima::~TPrima()
{
    FChiusa = true;
    // As a cancel. The run, a child, waits for its workers as it goes;
    // they have been told to stop, so the wait is short.
    if (FCodifica) {
        FermaClick();
        FCodifica->Lascia();
        FCodifica = nullptr;
    }
}

void TPrima::CreaComponenti()
{
    Wave = TComponent::Create<TVelmarWaveIn>(&FComponenti);
    Wave->SetName("Wave");
    Wave->SetLoop(false);
    Rate = TComponent::Create<TVelmarRateConverter>(&FComponenti);
    Rate->SetName("Rate");
    Rate->SetInput(Wave);
    Rate->SetOutSampleRate(44100);
    Rate->SetAltaQualita(true);
    Vorbis = TComponent::Create<TVelmarVorbisOut>(&FComponenti);
    Vorbis->SetName("Vorbis");
    Vorbis->SetInput(Rate);
    Vorbis->SetSuspendWhenIdle(false);
    Vorbis->SetSerial(0);
    Vorbis->SetCompression(0.4f);
    Oggo = TComponent::Create<TVelmarOggVorbis>(&FComponenti);
    Oggo->SetName("Oggo");
    for (int i = 0; i < FComponenti.ComponentCount(); ++i)
        FComponenti.Components(i)->Loaded();

    Stima = new TVelmarEstimatedTimer(this);
    Stima->SetInterval(1000);
    Stima->SetEnabled(false);
    Stima->SetOnGetCurrentCount([this](QObject*, int& Count) { StimaGetCurrentCount(Count); });
    Stima->SetOnGetTotalCount([this](QObject*, int& Count) { StimaGetTotalCount(Count); });
    Stima->SetOnDisplayEstTime([this](QObject*, TDateTime T) { StimaDisplayEstTime(T); });
    Stima->SetOnDisplayElapsedTime([this](QObject*, TDateTime T) { StimaDisplayElapsedTime(T); });

    Persona = new TVelmarFolder(this);
    Persona->Loaded();

    Drop = new TVelmarFormDropFiles(this);
    Drop->SetEnabled(false);
    Drop->SetForegroundOnDrop(false);
    Drop->SetOnDropFiles([this](QObject*) { DropDropFiles(); });

    Apri = new TVelmarDialogEx(this);
    Apri->SetFilter(QStringLiteral("Tutti i file audio supportati|*.wav;*.flac;*.aif;*.aiff;*.aifc|Audio Wave|*.wav"));
    Apri->SetHideReadOnly(true);
    Apri->setFileMode(QFileDialog::ExistingFiles);
    Apri->setSizeGripEnabled(true);
    Apri->setWindowTitle(QStringLiteral("Aggiungi files da codificare - Velmar Fennick"));
    Apri->SetTestoOK(QStringLiteral("Aggiungi"));
    Apri->SetTestoAnnulla(QStringLiteral("Annulla"));
    Apri->SetTestoDrive(QStringLiteral("Cerca in:"));
    Apri->SetTestoNome(QStringLiteral("Nome del file:"));
    Apri->SetTestoTipo(QStringLiteral("Tipo di file:"));
    Apri->SetTestoSolalettura(QStringLiteral("Apri in sola lettura"));
    Apri->SetTestoAiuto(QStringLiteral("&Aiuto"));
    Apri->SetShowPlacesBar(true);
    // The one thing the program keeps between sessions.
    Apri->SetMemoria(Testo(XdgConfigHome()) + QStringLiteral("/velmar-fennick/velmar-fennick.conf"));

    Messaggio = new TMessageDialog(this);
    Messaggio->SetModalResult(1, 1);
    Messaggio->SetModalResult(2, 2);

    Notifica = new TVelmarNotifica(this);
}

// ---- start-up -----------------------------------------------------------------

void TPrima::FormCreate()
{
    std::string personale = Persona->Personale();
    if (personale.empty())
        personale = HomeDir();
    CartellaMusica = personale + "/Musica";
    ForceDirectories(CartellaMusica);
    MostraCartella();
    Annullato = false;
    Passo = 0;
    MostraPagina(0);
    // Without a window manager the window may never be activated.
    Contatore();
    LeggoRigaComando(FParametri);
}

void TPrima::LeggoRigaComando(const std::vector<std::string>& Parametri)
{
    RigaComando.clear();
    for (const std::string& p : Parametri)
        RigaComando += " " + p;
    FileComando = RigaComando.empty() ? std::string() : RigaComando.substr(1);
}

void TPrima::FormShow()
{
    // The joined name first: it mends a path split at its blanks.
    FileDaAprire.clear();
    if (EsisteFile(FileComando)) {
        FileDaAprire.push_back(FileComando);
    } else {
        for (const std::string& p : FParametri)
            if (EsisteFile(p))
                FileDaAprire.push_back(p);
    }
    ChiudiAllaFine = !FileDaAprire.empty();
    if (ChiudiAllaFine)
        PerformFileOpen();
}

void TPrima::FormActivate()
{
    Contatore();
    static_cast<TForma*>(Forma)->Titolo = QStringLiteral("Velmar Fennick");
    Forma->update();
    // Later activations (after a message box, say) keep what the user chose.
    if (FAttivata)
        return;
    FAttivata = true;
    SampleBox->setCurrentIndex(1);
    BarraOgg->setValue(4);
}

void TPrima::setVisible(bool Visible)
{
    // Placed before the window system makes the window: a window moved once
    // it exists but before it is mapped learns its place from a window
    // manager only while the manager is still framing it, and may take
    // itself for being at 0,0 until it is first moved (menus, boxes and
    // the drag then land off by the window's place).
    if (Visible && !FPosta) {
        FPosta = true;
        CentraSulloSchermo(this);
    }
    QWidget::setVisible(Visible);
}

void TPrima::showEvent(QShowEvent* Event)
{
    QWidget::showEvent(Event);
    if (!FMostrata && !Event->spontaneous()) {
        FMostrata = true;
        Avanti->setFocus();
        FormShow();
    }
}

bool TPrima::event(QEvent* Event)
{
    if (Event->type() == QEvent::WindowActivate)
        FormActivate();
    return QWidget::event(Event);
}

// ---- navigation and settings ---------------------------------------------------

void TPrima::MostraPagina(int Index)
{
    Pagina->setCurrentIndex(Index);
}

bool TPrima::InCorso() const
{
    return Pagina->currentIndex() == 3;
}

void TPrima::AvantiClick()
{
    if (InCorso())
        return;
    if (Avanti->text() != TestoFine) {
        if (Passo < 2)
            ++Passo;
        MostraPagina(Passo);
        Verifico();
        return;
    }
    if (Lista->count() >= 1) {
        FCompletati = 0;
        Go();
        return;
    }
    Avviso(CaptionErrore, suiStop,
           QStringLiteral("Nessun brano presente nella lista.\r\rImpossibile procedere con la codifica."));
}

void TPrima::IndietroClick()
{
    if (InCorso())
        return;
    if (Passo > 0)
        --Passo;
    MostraPagina(Passo);
    Verifico();
}

void TPrima::Verifico()
{
    switch (Passo) {
    case 0:
    case 1:
        Indietro->setEnabled(Passo == 1);
        Avanti->setEnabled(true);
        Avanti->setText(TestoAvanti);
        Avanti->setDefault(true);
        Indietro->setDefault(false);
        Chiudi->setDefault(false);
        Aggiungi->setDefault(false);
        Drop->SetEnabled(false);
        break;
    case 2:
        Indietro->setEnabled(true);
        Avanti->setEnabled(Lista->count() >= 1);
        Avanti->setText(TestoFine);
        PulsantePredefinito();
        Drop->SetEnabled(true);
        break;
    default:
        break;
    }
}

// Step 2: Enter presses "Fine" once there is something to encode.
void TPrima::PulsantePredefinito()
{
    const bool fine = Avanti->isEnabled() && Lista->count() >= 1;
    Avanti->setDefault(fine);
    Aggiungi->setDefault(!fine);
    Indietro->setDefault(false);
    Chiudi->setDefault(false);
}

void TPrima::Qualita()
{
    const int position = BarraOgg->value();
    if (position >= 1 && position <= 9)
        Vorbis->SetCompression(static_cast<float>(position) / 10.0f);
}

void TPrima::QualitaSample()
{
    const int entry = SampleBox->currentIndex();
    if (entry >= 0 && entry < 8)
        Rate->SetOutSampleRate(Campioni[entry]);
}

void TPrima::DefaultClick()
{
    BarraOgg->setValue(4);
    SampleBox->setCurrentIndex(0);
    Qualita();
    QualitaSample();
}

void TPrima::InformazioniClick()
{
    MostraInformazioni(this);
}

// A plain window has no default button of its own: Enter presses the one
// marked default, as the wizard's steps set it; Escape is "Chiudi".
void TPrima::keyPressEvent(QKeyEvent* Event)
{
    if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier) {
        ChiudiClick();
        return;
    }
    if (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) {
        for (QPushButton* b : {Avanti, Aggiungi, Indietro, Chiudi}) {
            if (b->isDefault() && b->isEnabled() && b->isVisible()) {
                b->click();
                return;
            }
        }
    }
    QWidget::keyPressEvent(Event);
}

void TPrima::ChiudiClick()
{
    close();
}

void TPrima::Avviso(const QString& Caption, int Icon, const QString& Text)
{
    Messaggio->SetButtonCount(1);
    Messaggio->SetButton1Caption(QStringLiteral("OK"));
    Messaggio->SetIconType(static_cast<TMessageIcon>(Icon));
    Messaggio->SetCaption(Caption);
    Messaggio->SetText(Text);
    Messaggio->ShowModal();
}

// A yes-or-no question; true for "S\u00EC".
bool TPrima::Domanda(const QString& Text)
{
    Messaggio->SetButtonCount(2);
    Messaggio->SetButton1Caption(QStringLiteral("S\u00EC"));
    Messaggio->SetButton2Caption(QStringLiteral("No"));
    Messaggio->SetIconType(suiWarning);
    Messaggio->SetCaption(QStringLiteral("Velmar Fennick"));
    Messaggio->SetText(Text);
    return Messaggio->ShowModal() == 1;
}

void TPrima::FormCloseQuery(bool& CanClose)
{
    CanClose = FSenzaDomanda || !InCorso() || Domanda(QStringLiteral("Annullare la codifica?"));
}

void TPrima::ChiudiSenzaChiedere()
{
    FSenzaDomanda = true;
    // A box's own event loop must end before the window can go.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QDialog*>(w); box && box->isVisible())
            box->reject();
    QTimer::singleShot(0, this, [this] {
        close();
        QCoreApplication::quit(); // also when the window was never shown
    });
}

void TPrima::FormClose()
{
    FChiusa = true;
    if (InCorso())
        FermaClick();
    Stima->SetEnabled(false);
    Aggiornoregistro();
}

void TPrima::closeEvent(QCloseEvent* Event)
{
    if (FChiusa) {
        Event->accept();
        return;
    }
    bool canClose = true;
    FormCloseQuery(canClose);
    if (!canClose || FChiusa) {
        // FChiusa: a close done meanwhile (the end of a run) already ran FormClose.
        if (canClose)
            Event->accept();
        else
            Event->ignore();
        return;
    }
    FormClose();
    Event->accept();
}

// ---- the file manager's command and the links --------------------------------------

void TPrima::Aggiornoregistro()
{
    AggiornaVoceDesktop(FCartellaProgramma);
}

void TPrima::HimClick()
{
    Home->Click();
}

void TPrima::HeerClick()
{
    Mail->Click();
}

} // namespace velmar
