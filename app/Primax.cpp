#include "app/Primax.h"

#include "app/Codifica.h"
#include "app/Disegni.h"
#include "app/Finestra.h"
#include "app/MessageDialog.h"
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

namespace {

const QColor Faccia(0xE7, 0xE7, 0xE7);
const QColor Bordo(0x7F, 0x7F, 0x7F);
const int AltezzaTitolo = 23;
const char* const NomeVoce = "velmar-fennick-converti.desktop";
const char* const VoceDiSistema = "velmar-fennick.desktop";
const char* const NomeComando = "Converti in Ogg Vorbis con Velmar Fennick";
// "Avanti"'s captions; "&" marks the Alt accelerator.
const QString TestoAvanti = QStringLiteral("&Avanti > ");
const QString TestoFine = QStringLiteral("&Fine");
const QString CaptionErrore = QStringLiteral("Errore - Velmar Fennick");

const char* const Frequenze[] = {"48.000 Hz", "44.100 Hz", "32.000 Hz", "24.000 Hz",
                                 "22.050 Hz", "16.000 Hz", "11.025 Hz", "8.000 Hz"};
const int Campioni[] = {48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000};

QFont Tahoma(int Pixel, bool Grassetto = false)
{
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(Pixel);
    f.setBold(Grassetto);
    return f;
}

bool EsisteFile(const std::string& Path)
{
    std::error_code ec;
    return !Path.empty() && std::filesystem::is_regular_file(Path, ec);
}

QString Testo(const std::string& Path) { return QFile::decodeName(QByteArray::fromStdString(Path)); }

// An entry's place in the run's batch, in the entry's data; none when its
// file was missing as the run started.
constexpr int RuoloIndice = Qt::UserRole + 1;

// The skinned frame's stand-in: a 1-pixel border, the face colour and a
// title bar with the window menu's button, the caption and a close button.
class TForma : public QWidget {
public:
    TForma(QWidget* AParent, const QIcon& Icona) : QWidget(AParent)
    {
        setAutoFillBackground(false);
        Menu = new QToolButton(this);
        Menu->setIcon(Icona);
        Menu->setIconSize(QSize(16, 16));
        Menu->setAutoRaise(true);
        Menu->setCursor(Qt::PointingHandCursor);
        Menu->setGeometry(4, 3, 18, 18);
        Menu->setToolTip(QStringLiteral("Menu"));
        Menu->setFocusPolicy(Qt::NoFocus);
        Chiudi = new QToolButton(this);
        Chiudi->setAutoRaise(true);
        Chiudi->setText(QStringLiteral("\u00D7"));
        Chiudi->setFont(Tahoma(15, true));
        Chiudi->setCursor(Qt::PointingHandCursor);
        Chiudi->setToolTip(QStringLiteral("Chiudi"));
        Chiudi->setFocusPolicy(Qt::NoFocus);
    }

    QString Titolo;
    QToolButton* Menu;
    QToolButton* Chiudi;

protected:
    void resizeEvent(QResizeEvent*) override { Chiudi->setGeometry(width() - 23, 3, 18, 18); }

    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Faccia);
        QLinearGradient g(0, 0, 0, AltezzaTitolo);
        g.setColorAt(0, QColor(0xFA, 0xFA, 0xFA));
        g.setColorAt(1, QColor(0xD2, 0xD2, 0xD2));
        p.fillRect(QRect(0, 0, width(), AltezzaTitolo), g);
        p.setPen(QColor(0xB0, 0xB0, 0xB0));
        p.drawLine(0, AltezzaTitolo - 1, width(), AltezzaTitolo - 1);
        p.setPen(Bordo);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        p.setFont(Tahoma(11, true));
        p.setPen(QColor(0x20, 0x20, 0x20));
        p.drawText(QRect(24, 0, width() - 48, AltezzaTitolo), Qt::AlignCenter, Titolo);
    }
};

QLabel* Etichetta(QWidget* P, const QString& T, int X, int Y, bool Grassetto = false)
{
    auto* l = new QLabel(T, P);
    l->setTextFormat(Qt::PlainText);
    if (Grassetto)
        l->setFont(Tahoma(11, true));
    l->move(X, Y);
    l->adjustSize();
    return l;
}

QPushButton* Bottone(QWidget* P, const QString& T, const QRect& R)
{
    auto* b = new QPushButton(T, P);
    b->setGeometry(R);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

void MostraInformazioni(QWidget* Parent)
{
    QDialog box(Parent);
    box.setWindowTitle(QStringLiteral("Informazioni su Velmar Fennick"));
    auto* picture = new QLabel(&box);
    picture->setPixmap(QPixmap::fromImage(DisegnaApertura()));
    auto* text = new QLabel(QStringLiteral("Velmar Fennick 1.0\n"
                                           "Converte i file Audio Wave in Ogg Vorbis.\n\n"
                                           "Codifica Ogg Vorbis: libogg e libvorbis (Xiph.Org Foundation).\n"
                                           "\u00A9 Velmar Systems, Inc."),
                            &box);
    text->setAlignment(Qt::AlignCenter);
    auto* ok = new QPushButton(QStringLiteral("OK"), &box);
    ok->setCursor(Qt::PointingHandCursor);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &box, &QDialog::accept);
    auto* layout = new QVBoxLayout(&box);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(picture, 0, Qt::AlignCenter);
    layout->addWidget(text);
    layout->addWidget(ok, 0, Qt::AlignCenter);
    box.exec();
}

} // namespace

bool Installato(const QString& Folder)
{
    const QString dati = QFileInfo(Folder + QLatin1String(DatiDaProgrammi)).canonicalFilePath();
    if (dati.isEmpty() || !QFileInfo::exists(dati + QStringLiteral("/applications/") + QLatin1String(VoceDiSistema)))
        return false;
    QStringList letti = QFile::decodeName(qgetenv("XDG_DATA_DIRS")).split(u':', Qt::SkipEmptyParts);
    if (letti.isEmpty())
        letti = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    letti.prepend(Testo(XdgDataHome()));
    for (const QString& d : letti)
        if (d.startsWith(u'/') && QFileInfo(d).canonicalFilePath() == dati)
            return true;
    return false;
}

QString RigaExec(const QString& Folder)
{
    // The quoting rules of the Exec key first, then the string escapes of
    // the file format; "%" would start a field code.
    QString quoted;
    for (QChar c : Folder + QStringLiteral("fennick")) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    QString out;
    for (QChar c : quoted) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'%')
            out += QStringLiteral("%%");
        else
            out += c;
    }
    return QLatin1Char('"') + out + QStringLiteral("\" %f");
}

QString FormatoOre(double TheTime)
{
    // To the nearest second: the timer may tick a little early.
    const long long secondi = std::max(0LL, std::llround(TheTime * 86400.0));
    return QStringLiteral("%1:%2:%3")
        .arg(secondi / 3600, 2, 10, QLatin1Char('0'))
        .arg(secondi / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(secondi % 60, 2, 10, QLatin1Char('0'));
}

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

void TPrima::CreaFinestra()
{
    setWindowTitle(QStringLiteral("Velmar Fennick"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint);
    setWindowIcon(DisegnaIconaFinestra());
    setFixedSize(454, 349);
    setFont(Tahoma(11));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Faccia);
    pal.setColor(QPalette::Button, Faccia);
    setPalette(pal);
    setAutoFillBackground(true);

    auto* forma = new TForma(this, DisegnaIconaFinestra());
    forma->setGeometry(1, 0, 452, 348);
    forma->Titolo = windowTitle();
    Forma = forma;
    connect(forma->Chiudi, &QToolButton::clicked, this, [this] { ChiudiClick(); });
    new TTrascina(Forma, [](const QPoint& At) { return At.y() < AltezzaTitolo; });

    Banner = new QLabel(Forma);
    Banner->setGeometry(0, AltezzaTitolo, 52, 306);
    Banner->setPixmap(DisegnaBanner());
    new TTrascina(Banner);

    Linea = new TVelmarLine(Forma);
    Linea->setGeometry(64, 275, 372, 10);
    Linea->SetPen(QPen(QColor(0xA0, 0xA0, 0xA0), 1));

    Pagina = new QStackedWidget(Forma);
    Pagina->setGeometry(64, 37, 369, 225);
    const char* const didascalie[] = {"Pri", "Seco", "Ter", "Quart"};
    for (int i = 0; i < 4; ++i) {
        auto* page = new QWidget;
        page->setObjectName(QString::fromLatin1(didascalie[i]));
        Icone[i] = new QLabel(page);
        Icone[i]->setPixmap(DisegnaIconaPagina(i));
        Icone[i]->setGeometry(i == 0 ? 16 : 8, i == 0 ? 40 : 8, 32, 32);
        Pagina->addWidget(page);
    }
    CreaPagina0(Pagina->widget(0));
    CreaPagina1(Pagina->widget(1));
    CreaPagina2(Pagina->widget(2));
    CreaPagina3(Pagina->widget(3));

    Indietro = Bottone(Forma, QStringLiteral("< &Indietro"), QRect(176, 288, 80, 27));
    Indietro->setEnabled(false);
    Avanti = Bottone(Forma, QStringLiteral("&Avanti >"), QRect(258, 288, 80, 27));
    Avanti->setDefault(true);
    Chiudi = Bottone(Forma, QStringLiteral("&Chiudi"), QRect(352, 288, 80, 27));
    connect(Indietro, &QPushButton::clicked, this, [this] { IndietroClick(); });
    connect(Avanti, &QPushButton::clicked, this, [this] { AvantiClick(); });
    connect(Chiudi, &QPushButton::clicked, this, [this] { ChiudiClick(); });

    Stato = new TVelmarStatusBarImage(Forma);
    Stato->setGeometry(0, 329, 452, 19);
    Stato->SetSizeGrip(false);
    Stato->SetColor(Faccia);
    Stato->SetImmagini(Immagini2);
    TVelmarStatusPanel* conteggio = Stato->Panels()->Add();
    conteggio->SetWidth(250);
    conteggio->SetBevel(pbNone);
    TVelmarStatusPanel* avviso = Stato->Panels()->Add();
    avviso->SetWidth(50);
    avviso->SetImageIndex(1);
    avviso->SetText(QStringLiteral("Velmar Systems - Freeware"));

    Home = new TVelmarWebLabel(this);
    Home->SetIndirizzo(QString::fromLatin1(TVelmarWebLabel::DefaultAddress));
    Home->SetModo(Ingrandita);
    Home->move(0, height() + 8);
    Home->hide();
    Mail = new TVelmarMailLabel(this);
    Mail->SetIndirizzo(QString::fromLatin1(TVelmarMailLabel::DefaultAddress));
    Mail->move(0, height() + 24);
    Mail->hide();
}

void TPrima::CreaPagina0(QWidget* P)
{
    Titolo = new TVelmarRotateLabel(P);
    Titolo->SetAngolo(0);
    Titolo->SetStile(tsSollevato);
    Titolo->setFont(Tahoma(19, true));
    Titolo->SetFontColor(QColor(0x1D, 0x3E, 0x7A));
    Titolo->setText(QStringLiteral("Benvenuto in Velmar Fennick!"));
    Titolo->move(16, 6);

    Label1 = Etichetta(P, QString(), 56, 40); // its text names the output folder: MostraCartella
}

// The welcome text names the real output folder, home as "~", shortened in
// the middle to the page's width.
void TPrima::MostraCartella()
{
    const QFontMetrics metrics(Label1->font());
    const QString fine = QStringLiteral(". ");
    const int room = Pagina->width() - Label1->x() - 8 - metrics.horizontalAdvance(fine);
    const QStringList righe = {
        QStringLiteral("Con Velmar Fennick puoi trasformare i tuoi file Audio Wave"),
        QStringLiteral("nel nuovo formato OggVorbis in 3 piccoli passi."),
        QString(),
        QStringLiteral("1) Impostazione della qualit\u00E0 dei file."),
        QStringLiteral("2) La scelta dei file da codificare."),
        QStringLiteral("3) Avvio della codifica."),
        QString(),
        QStringLiteral("Premi Avanti per continuare."),
        QString(),
        QStringLiteral("NOTA: I file verranno creati nella cartella "),
        metrics.elidedText(PercorsoBreve(CartellaMusica), Qt::ElideMiddle, room) + fine,
        QStringLiteral("Se la cartella non esiste verr\u00E0 creata  automaticamente dal"),
        QStringLiteral("programma."),
    };
    Label1->setText(righe.join(QLatin1Char('\n')));
    Label1->adjustSize();
}

void TPrima::CreaPagina1(QWidget* P)
{
    Label2 = Etichetta(P, QStringLiteral("1\u00B0 passo - La qualit\u00E0 della codifica audio"), 48, 14, true);

    QualitaOgg = new QGroupBox(QStringLiteral(" Qualit\u00E0 Ogg Vorbis "), P);
    QualitaOgg->setGeometry(48, 38, 297, 72);
    BarraOgg = new QSlider(Qt::Horizontal, QualitaOgg);
    BarraOgg->setGeometry(10, 18, 277, 26);
    BarraOgg->setRange(1, 9);
    BarraOgg->setValue(4);
    BarraOgg->setPageStep(2);
    BarraOgg->setSingleStep(1);
    BarraOgg->setTickPosition(QSlider::TicksBelow);
    BarraOgg->setTickInterval(1);
    BarraOgg->setCursor(Qt::PointingHandCursor);
    connect(BarraOgg, &QSlider::valueChanged, this, [this] { Qualita(); });
    Etichetta(QualitaOgg, QStringLiteral("min"), 12, 48);
    QLabel* max = Etichetta(QualitaOgg, QStringLiteral("max"), 0, 48);
    max->move(285 - max->width(), 48);

    SampleOgg = new QGroupBox(QStringLiteral(" SampleRate (Velocit\u00E0 del campione audio) "), P);
    SampleOgg->setGeometry(48, 116, 297, 52);
    SampleBox = new QComboBox(SampleOgg);
    SampleBox->setGeometry(10, 20, 277, 22);
    for (const char* f : Frequenze)
        SampleBox->addItem(QString::fromLatin1(f));
    SampleBox->setCurrentIndex(1);
    SampleBox->setEditable(false);
    SampleBox->setCursor(Qt::PointingHandCursor);
    // Only the user's choice is a change: a selection made by the program
    // leaves the converter alone.
    connect(SampleBox, &QComboBox::activated, this, [this] { QualitaSample(); });

    Default = Bottone(P, QStringLiteral("Imposta &predefinite"), QRect(48, 180, 113, 25));
    connect(Default, &QPushButton::clicked, this, [this] { DefaultClick(); });
    Label5 = Etichetta(P, QStringLiteral("Premi Avanti per continuare."), 176, 186);
}

void TPrima::CreaPagina2(QWidget* P)
{
    Label4 = Etichetta(P, QStringLiteral("2\u00B0 passo - La lista dei file da codificare"), 48, 14, true);
    Lista = new QListWidget(P);
    Lista->setGeometry(48, 40, 305, 109);
    Lista->setUniformItemSizes(true);
    Lista->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Lista->setTextElideMode(Qt::ElideMiddle);
    Lista->viewport()->setCursor(Qt::PointingHandCursor);
    Lista->setContextMenuPolicy(Qt::CustomContextMenu);
    Aggiungi = Bottone(P, QStringLiteral("A&ggiungi files"), QRect(240, 176, 113, 25));
    connect(Aggiungi, &QPushButton::clicked, this, [this] { AggiungiClick(); });
    Label3 = Etichetta(P, QStringLiteral("Dopo aver creato la lista premi Fine\nper avviare la codifica."), 48, 164);
}

void TPrima::CreaPagina3(QWidget* P)
{
    Label6 = Etichetta(P, QStringLiteral("3\u00B0 passo - Codifica dei files in corso..."), 48, 14, true);
    Label7 = Etichetta(P, QStringLiteral("Attendi la fine della codifica oppure premi\nAnnulla operazione per abortire."), 48,
                       40);
    Porco = new TVelmarPathLabel(P);
    Porco->setFont(Tahoma(11, true));
    Porco->setGeometry(48, 88, 297, 13);
    Barra = new QProgressBar(P);
    Barra->setGeometry(48, 112, 297, 12);
    Barra->setRange(0, 100);
    Barra->setValue(0);
    Barra->setTextVisible(true);
    Barra->setFont(Tahoma(9));
    TraLab = Etichetta(P, QStringLiteral("Tempo trascorso:"), 48, 144);
    TotLab = Etichetta(P, QStringLiteral("Tempo stimato:"), 48, 160);
    TraLab->setFixedWidth(170);
    TotLab->setFixedWidth(170);
    Salta = Bottone(P, QStringLiteral("&Salta questo file"), QRect(224, 144, 113, 25));
    Ferma = Bottone(P, QStringLiteral("&Annulla operazione"), QRect(224, 176, 113, 25));
    connect(Salta, &QPushButton::clicked, this, [this] { SaltaClick(); });
    connect(Ferma, &QPushButton::clicked, this, [this] { FermaClick(); });
}

void TPrima::CreaMenu()
{
    pop = new QMenu(this);
    Informazioni = pop->addAction(QIcon(Immagini2[4]), QStringLiteral("Informazioni su Velmar Fennick"));
    pop->addSeparator();
    Him = pop->addAction(QIcon(Immagini2[3]), QStringLiteral("Velmar Systems, Inc. Home Page"));
    Heer = pop->addAction(QIcon(Immagini2[2]), QStringLiteral("Supporto tecnico"));
    pop->addSeparator();
    Chiudi1 = pop->addAction(QStringLiteral("Chiudi"));
    Chiudi1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    pop->setDefaultAction(Chiudi1);
    addAction(Chiudi1); // the short-cut works with the menu closed
    connect(Informazioni, &QAction::triggered, this, [this] { InformazioniClick(); });
    connect(Him, &QAction::triggered, this, [this] { HimClick(); });
    connect(Heer, &QAction::triggered, this, [this] { HeerClick(); });
    connect(Chiudi1, &QAction::triggered, this, [this] { ChiudiClick(); });
    auto* forma = static_cast<TForma*>(Forma);
    connect(forma->Menu, &QToolButton::clicked, this,
            [this, forma] { pop->popup(forma->mapToGlobal(QPoint(forma->Menu->x(), AltezzaTitolo))); });

    Popup = new QMenu(this);
    Aggiungi1 = Popup->addAction(QStringLiteral("Aggiungi"));
    Elimina1 = Popup->addAction(QStringLiteral("Elimina"));
    // Delete on the list, and shown beside the menu item.
    Elimina1->setShortcut(QKeySequence::Delete);
    Elimina1->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    Lista->addAction(Elimina1);
    Popup->addSeparator();
    Eliminatutti1 = Popup->addAction(QStringLiteral("&Elimina tutti"));
    connect(Aggiungi1, &QAction::triggered, this, [this] { AggiungiClick(); });
    connect(Elimina1, &QAction::triggered, this, [this] { Elimina1Click(); });
    connect(Eliminatutti1, &QAction::triggered, this, [this] { Eliminatutti1Click(); });
    connect(Lista, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& At) { Popup->popup(Lista->viewport()->mapToGlobal(At)); });
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
    Apri->SetFilter(QStringLiteral("Audio Wave|*.wav"));
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

    Messaggio = new TMessageDialog(this);
    Messaggio->SetModalResult(1, 1);
    Messaggio->SetModalResult(2, 2);

    Notifica = new TVelmarNotifica(this);
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

void TPrima::showEvent(QShowEvent* Event)
{
    QWidget::showEvent(Event);
    if (!FMostrata && !Event->spontaneous()) {
        FMostrata = true;
        CentraSulloSchermo(this);
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
    CanClose = !InCorso() || Domanda(QStringLiteral("Annullare la codifica?"));
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

// ---- file list -----------------------------------------------------------------

std::string TPrima::Voce(int Index) const
{
    const QListWidgetItem* item = Lista->item(Index);
    return item ? item->data(Qt::UserRole).toByteArray().toStdString() : std::string();
}

void TPrima::AggiungiVoce(const std::string& Path)
{
    // The text is for the eye; the bytes travel in the item's data, so a
    // name that is not valid UTF-8 still reaches the reader unchanged.
    auto* item = new QListWidgetItem(Testo(Path));
    item->setData(Qt::UserRole, QByteArray::fromStdString(Path));
    item->setToolTip(item->text());
    Lista->addItem(item);
    Accoda(Lista->count() - 1); // during a run, it joins it
}

void TPrima::AggiungiClick()
{
    TStringList files;
    bool confirmed;
    if (FApriHook) {
        confirmed = FApriHook(files);
    } else {
        confirmed = Apri->Execute();
        files = Apri->Files();
    }
    if (confirmed) {
        for (auto it = files.rbegin(); it != files.rend(); ++it)
            AggiungiVoce(*it);
    }
    Avanti->setEnabled(Lista->count() >= 1);
    PulsantePredefinito();
    Contatore();
}

void TPrima::DropDropFiles()
{
    for (int i = 0; i < Drop->Count(); ++i) {
        const std::string path = Drop->Files(i);
        const std::string name = path.substr(path.find_last_of('/') + 1);
        const size_t dot = name.find_last_of('.');
        const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
        if (ext == ".wav" || ext == ".WAV")
            AggiungiVoce(path);
        else
            Avviso(CaptionErrore, suiStop,
                   QStringLiteral("Il formato del file non \u00E8 supportato da Velmar Fennick!"));
    }
    Abilito();
    Contatore();
}

void TPrima::Elimina1Click()
{
    for (QListWidgetItem* item : Lista->selectedItems())
        delete Lista->takeItem(Lista->row(item));
    PulsantePredefinito();
    Contatore();
}

void TPrima::Eliminatutti1Click()
{
    if (Lista->count() > 0 && !Domanda(QStringLiteral("Eliminare tutti i brani dalla lista?")))
        return;
    Lista->clear();
    PulsantePredefinito();
    Contatore();
}

// During a run "Fine" stays disabled: files dropped then join the running
// batch, and a second run on the busy encoder must not be offered; "Salta"
// follows, a further file now existing.
void TPrima::Abilito()
{
    if (InCorso()) {
        Quantifile();
        return;
    }
    Avanti->setEnabled(Lista->count() >= 1);
    PulsantePredefinito();
}

void TPrima::Contatore()
{
    const int n = Lista->count();
    QString text;
    if (n == 0)
        text = QStringLiteral("Nessun brano presente");
    else if (n == 1)
        text = QStringLiteral("1 brano presente");
    else
        text = QString::number(n) + QStringLiteral(" brani presenti");
    Stato->Panels()->Items(0)->SetText(text);
}

// ---- the run -------------------------------------------------------------------

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
    Annullato = false;
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
    AvvisoFineCodifica(FCompletati);
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

void TPrima::AvvisoFineCodifica(int NumeroFile)
{
    if (NumeroFile > 0)
        Notifica->Mostra(TestoFineCodifica(NumeroFile, PercorsoBreve(CartellaMusica)), Testo(CartellaMusica));
}

// ---- the file manager's command --------------------------------------------------

// The desktop entry that offers "Converti in Ogg Vorbis con Velmar Fennick"
// for WAVE files. Written whole to a temporary file and renamed over the
// old one; a failure leaves the old entry and is not reported. An
// installed program's system entry offers it already: a per-user entry
// would show the command twice, so an old one is removed.
void TPrima::Aggiornoregistro()
{
    const QString dir = Testo(XdgDataHome()) + QStringLiteral("/applications");
    const QString voce = dir + QLatin1Char('/') + QLatin1String(NomeVoce);
    if (Installato(FCartellaProgramma)) {
        QFile::remove(voce);
        return;
    }
    if (!ForceDirectories(QFile::encodeName(dir).toStdString()))
        return;
    QSaveFile file(voce);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "MimeType=audio/wav;audio/x-wav;audio/vnd.wave;\n"
                                        "Exec=%2\n"
                                        "NoDisplay=true\n")
                             .arg(QLatin1String(NomeComando), RigaExec(FCartellaProgramma));
    file.write(text.toUtf8());
    file.commit();
}

void TPrima::PerformFileOpen()
{
    Annullato = false;
    for (const std::string& f : FileDaAprire)
        AggiungiVoce(f);
    Vorbis->SetCompression(0.4f);
    MostraPagina(2);
    Passo = 2;
    Avanti->setText(TestoFine);
    Avanti->setEnabled(true);
    Indietro->setEnabled(true);
    Verifico();
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
