// The program's pictures, drawn at run time so that no image files ship
// with it: the banner strip, the page icons, the splash, the window icon
// and the small images of the status bar and of the window menu.
#pragma once

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>

class QPainter;

namespace velmar {

// The strip on the left of the wizard, 52 x 306.
QPixmap DisegnaBanner();

// The 32 x 32 icon of page Pagina (0 welcome, 1 settings, 2 list, 3 run);
// any other index gives the welcome icon.
QPixmap DisegnaIconaPagina(int Pagina);

// The splash picture, 300 x 215, 24-bit. Pure white (0xFFFFFF) is its
// transparent colour: those pixels fall outside the splash's window.
QImage DisegnaApertura();

// The application icon, at 16, 32, 48 and 64 pixels.
QIcon DisegnaIconaFinestra();

// The application icon into the square of Lato pixels at P's origin; the
// installed icons are drawn with it too.
void DisegnaIcona(QPainter& P, double Lato);

// The 16 x 16 images of the image list Immagini2, by index:
// 0 window, 1 status-bar notice, 2 mail, 3 home page, 4 information.
QList<QPixmap> DisegnaImmagini2();

} // namespace velmar
