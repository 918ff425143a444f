#include "app/Pagine.h"

#include "app/Disegni.h"
#include "app/Finestra.h"
#include "app/Primax.h"
#include "decor/VelmarLine.h"
#include "decor/VelmarMailLabel.h"
#include "decor/VelmarRotateLabel.h"
#include "decor/VelmarWebLabel.h"
#include "support/VelmarFolder.h"
#include "support/VelmarPathLabel.h"
#include "support/VelmarStatusBarImage.h"

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace velmar {

QFont Tahoma(int Pixel, bool Grassetto)
{
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(Pixel);
    f.setBold(Grassetto);
    return f;
}

TForma::TForma(QWidget* AParent, const QIcon& Icona) : QWidget(AParent)
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

void TForma::resizeEvent(QResizeEvent*)
{
    Chiudi->setGeometry(width() - 23, 3, 18, 18);
}

void TForma::paintEvent(QPaintEvent*)
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

QLabel* Etichetta(QWidget* P, const QString& T, int X, int Y, bool Grassetto)
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
    QDialog box(Parent ? Parent->window() : nullptr, StileDialogo);
    box.setModal(true);
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
    CentraSullaFinestra(&box);
    box.exec();
}

// ---- the window and its pages ----------------------------------------------------

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
    Titolo->SetFontColor(Qt::black);
    Titolo->SetAutoSize(false);
    Titolo->setText(QStringLiteral("Benvenuto in Velmar Fennick!"));
    Titolo->setGeometry(16, 8, 307, 23);

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

} // namespace velmar
