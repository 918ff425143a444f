// How the wizard looks: its face colour, its fonts, the frame that stands in
// for the skinned one, and the small builders its pages share. TPrima's
// window, pages and menus are built in Pagine.cpp (CreaFinestra,
// CreaPagina0 to CreaPagina3, CreaMenu, MostraCartella).
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;

namespace velmar {

inline const QColor Faccia(0xE7, 0xE7, 0xE7);
inline const QColor Bordo(0x7F, 0x7F, 0x7F);
inline constexpr int AltezzaTitolo = 23;
// "Avanti"'s captions; "&" marks the Alt accelerator.
inline const QString TestoAvanti = QStringLiteral("&Avanti > ");
inline const QString TestoFine = QStringLiteral("&Fine");
inline const QString CaptionErrore = QStringLiteral("Errore - Velmar Fennick");

// Step 1's sample rates, as the list shows them and in hertz.
inline constexpr const char* Frequenze[] = {"48.000 Hz", "44.100 Hz", "32.000 Hz", "24.000 Hz",
                                            "22.050 Hz", "16.000 Hz", "11.025 Hz", "8.000 Hz"};
inline constexpr int Campioni[] = {48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000};

// The design's Tahoma at Pixel pixels (EnsureTahomaFont maps it to a face
// the system has).
QFont Tahoma(int Pixel, bool Grassetto = false);

// The skinned frame's stand-in: a 1-pixel border, the face colour and a
// title bar with the window menu's button, the caption and a close button.
class TForma : public QWidget {
public:
    TForma(QWidget* AParent, const QIcon& Icona);

    QString Titolo;
    QToolButton* Menu;
    QToolButton* Chiudi;

protected:
    void resizeEvent(QResizeEvent*) override;
    void paintEvent(QPaintEvent*) override;
};

// A plain-text label at X,Y, sized to its text.
QLabel* Etichetta(QWidget* P, const QString& T, int X, int Y, bool Grassetto = false);
// A push button with the pointing hand, at R.
QPushButton* Bottone(QWidget* P, const QString& T, const QRect& R);
// The "Informazioni su Velmar Fennick" box, modal over Parent.
void MostraInformazioni(QWidget* Parent);

} // namespace velmar
