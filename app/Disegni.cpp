#include "app/Disegni.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace velmar {

namespace {

const QColor Blu(0x1D, 0x3E, 0x7A);
const QColor Azzurro(0x2F, 0x8F, 0xC0);
const QColor Celeste(0xA9, 0xD8, 0xF0);
const QColor Arancio(0xF2, 0x9A, 0x1F);

QPixmap Vuota(int W, int H)
{
    QPixmap p(W, H);
    p.fill(Qt::transparent);
    return p;
}

// A sound wave along the rectangle's horizontal middle, fading at both ends.
QPainterPath Onda(const QRectF& R, double Cicli)
{
    QPainterPath path;
    const int n = 120;
    for (int i = 0; i <= n; ++i) {
        const double t = double(i) / n;
        const double env = std::sin(M_PI * t);
        const double y = R.center().y() - env * R.height() / 2 * std::sin(2 * M_PI * Cicli * t);
        const QPointF pt(R.left() + t * R.width(), y);
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    return path;
}

void Nota(QPainter& P, const QPointF& Testa, double Scala, const QColor& Colore)
{
    P.save();
    P.setPen(Qt::NoPen);
    P.setBrush(Colore);
    P.translate(Testa);
    P.scale(Scala, Scala);
    P.rotate(-20);
    P.drawEllipse(QRectF(-5, -3.5, 10, 7));
    P.rotate(20);
    P.drawRect(QRectF(3.2, -20, 1.8, 19));
    QPainterPath coda;
    coda.moveTo(5, -20);
    coda.cubicTo(10, -16, 12, -12, 9, -6);
    coda.cubicTo(10, -11, 8, -14, 5, -15);
    P.drawPath(coda);
    P.restore();
}

void SfondoIcona(QPainter& P, const QRectF& R, const QColor& A, const QColor& B)
{
    QLinearGradient g(R.topLeft(), R.bottomRight());
    g.setColorAt(0, A);
    g.setColorAt(1, B);
    P.setPen(QPen(B.darker(140), 1));
    P.setBrush(g);
    P.drawRoundedRect(R, R.width() / 5, R.width() / 5);
}

void IconaBenvenuto(QPainter& P)
{
    SfondoIcona(P, QRectF(1.5, 1.5, 29, 29), Azzurro, Blu);
    Nota(P, QPointF(12, 23), 0.9, Qt::white);
    P.setPen(QPen(Celeste, 1.6));
    P.setBrush(Qt::NoBrush);
    P.drawArc(QRectF(17, 7, 8, 12), -60 * 16, 120 * 16);
    P.drawArc(QRectF(16, 4, 12, 18), -60 * 16, 120 * 16);
}

void IconaQualita(QPainter& P)
{
    SfondoIcona(P, QRectF(1.5, 1.5, 29, 29), QColor(0xF4, 0xF4, 0xF4), QColor(0xB8, 0xC4, 0xD4));
    const double cursori[3] = {20, 11, 16};
    for (int i = 0; i < 3; ++i) {
        const double x = 9 + i * 7;
        P.setPen(QPen(QColor(0x55, 0x5F, 0x70), 2));
        P.drawLine(QPointF(x, 7), QPointF(x, 25));
        P.setPen(QPen(Blu, 1));
        P.setBrush(i == 1 ? Arancio : Azzurro);
        P.drawRoundedRect(QRectF(x - 3.5, cursori[i] - 2.5, 7, 5), 1.5, 1.5);
    }
}

void IconaLista(QPainter& P)
{
    P.setPen(QPen(QColor(0x70, 0x78, 0x88), 1));
    P.setBrush(Qt::white);
    P.drawRect(QRectF(5.5, 2.5, 19, 26));
    P.setPen(QPen(Azzurro, 1.5));
    for (int i = 0; i < 5; ++i) {
        const double y = 8 + i * 4;
        P.drawLine(QPointF(9, y), QPointF(21, y));
    }
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(0x2E, 0xA0, 0x44));
    P.drawEllipse(QRectF(17, 17, 13, 13));
    P.setPen(QPen(Qt::white, 2.2));
    P.drawLine(QPointF(23.5, 19.5), QPointF(23.5, 27.5));
    P.drawLine(QPointF(19.5, 23.5), QPointF(27.5, 23.5));
}

void IconaCodifica(QPainter& P)
{
    SfondoIcona(P, QRectF(1.5, 1.5, 29, 29), Celeste, Azzurro);
    P.setBrush(Qt::NoBrush);
    P.setPen(QPen(Blu, 1.6));
    P.drawPath(Onda(QRectF(4, 8, 24, 10), 3));
    P.setPen(QPen(Arancio, 3, Qt::SolidLine, Qt::RoundCap));
    P.drawArc(QRectF(8, 14, 16, 14), 30 * 16, 300 * 16);
    P.setPen(Qt::NoPen);
    P.setBrush(Arancio);
    QPolygonF punta;
    punta << QPointF(21, 14.5) << QPointF(27, 16) << QPointF(22.5, 20.5);
    P.drawPolygon(punta);
}

} // namespace

QPixmap DisegnaBanner()
{
    QPixmap p(52, 306);
    QPainter P(&p);
    P.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 306);
    g.setColorAt(0, Blu);
    g.setColorAt(0.6, Azzurro);
    g.setColorAt(1, Celeste);
    P.fillRect(p.rect(), g);

    // Waves running down the strip, the program's way from sound to file.
    P.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        P.save();
        P.translate(26 + (i - 1) * 9, 0);
        P.rotate(90);
        P.setPen(QPen(QColor(255, 255, 255, 70 - i * 18), 1.4));
        P.drawPath(Onda(QRectF(150, -8, 150, 16), 5 + i));
        P.restore();
    }
    Nota(P, QPointF(22, 292), 0.8, QColor(255, 255, 255, 200));

    QFont f("Tahoma");
    f.setPixelSize(17);
    f.setBold(true);
    P.setFont(f);
    P.save();
    P.translate(33, 140);
    P.rotate(-90);
    P.setPen(QColor(0, 0, 0, 90));
    P.drawText(QPointF(-119, 1), "Velmar Fennick");
    P.setPen(Qt::white);
    P.drawText(QPointF(-120, 0), "Velmar Fennick");
    P.restore();

    P.setPen(QColor(255, 255, 255, 110));
    P.drawLine(QPointF(51.5, 0), QPointF(51.5, 306));
    return p;
}

QPixmap DisegnaIconaPagina(int Pagina)
{
    QPixmap p = Vuota(32, 32);
    QPainter P(&p);
    P.setRenderHint(QPainter::Antialiasing);
    switch (Pagina) {
    case 1: IconaQualita(P); break;
    case 2: IconaLista(P); break;
    case 3: IconaCodifica(P); break;
    default: IconaBenvenuto(P); break;
    }
    return p;
}

QImage DisegnaApertura()
{
    QImage img(300, 215, QImage::Format_RGB888);
    img.fill(Qt::white);
    QPainter P(&img);

    // The outline is drawn without antialiasing: a blended edge would leave
    // almost-white pixels around the cut-out window.
    QPainterPath forma;
    forma.addRoundedRect(QRectF(4, 4, 292, 207), 22, 22);
    QLinearGradient g(0, 4, 0, 211);
    g.setColorAt(0, Blu);
    g.setColorAt(0.55, Azzurro);
    g.setColorAt(1, Celeste);
    P.setPen(Qt::NoPen);
    P.setBrush(g);
    P.drawPath(forma);

    P.setRenderHint(QPainter::Antialiasing);
    P.setClipPath(forma);
    P.setBrush(Qt::NoBrush);
    for (int i = 0; i < 4; ++i) {
        P.setPen(QPen(QColor(255, 255, 255, 60 + i * 25), 2));
        P.drawPath(Onda(QRectF(-10, 120 + i * 6, 320, 40 - i * 8), 3.5 + i * 0.5));
    }
    QRadialGradient luce(QPointF(70, 30), 160);
    luce.setColorAt(0, QColor(255, 255, 255, 70));
    luce.setColorAt(1, QColor(255, 255, 255, 0));
    P.setBrush(luce);
    P.setPen(Qt::NoPen);
    P.drawRect(img.rect());

    Nota(P, QPointF(42, 82), 1.9, Arancio);
    QFont f("Tahoma");
    f.setBold(true);
    f.setPixelSize(30);
    // The title keeps inside the shape whatever face stands in for Tahoma.
    while (f.pixelSize() > 12 && QFontMetrics(f).horizontalAdvance("Velmar Fennick") > 210)
        f.setPixelSize(f.pixelSize() - 1);
    P.setFont(f);
    P.setPen(QColor(0, 0, 0, 80));
    P.drawText(QPointF(74, 76), "Velmar Fennick");
    P.setPen(Qt::white);
    P.drawText(QPointF(72, 74), "Velmar Fennick");
    f.setBold(false);
    f.setPixelSize(13);
    P.setFont(f);
    P.drawText(QPointF(74, 96), "Da Audio Wave a Ogg Vorbis");
    f.setPixelSize(11);
    P.setFont(f);
    P.setPen(QColor(0x10, 0x28, 0x50));
    P.drawText(QRectF(20, 180, 260, 16), Qt::AlignRight | Qt::AlignVCenter, "Velmar Systems, Inc.  -  Versione 1.0");
    return img;
}

QIcon DisegnaIconaFinestra()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap p = Vuota(size, size);
        QPainter P(&p);
        DisegnaIcona(P, size);
        P.end();
        icon.addPixmap(p);
    }
    return icon;
}

void DisegnaIcona(QPainter& P, double Lato)
{
    P.save();
    P.setRenderHint(QPainter::Antialiasing);
    P.scale(Lato / 32.0, Lato / 32.0);
    IconaBenvenuto(P);
    P.restore();
}

QList<QPixmap> DisegnaImmagini2()
{
    QList<QPixmap> list;
    for (int i = 0; i < 5; ++i) {
        QPixmap p = Vuota(16, 16);
        QPainter P(&p);
        P.setRenderHint(QPainter::Antialiasing);
        switch (i) {
        case 0:
            P.scale(0.5, 0.5);
            IconaBenvenuto(P);
            break;
        case 1:
            Nota(P, QPointF(6, 12.5), 0.55, Blu);
            break;
        case 2:
            P.setPen(QPen(Blu, 1));
            P.setBrush(QColor(0xFF, 0xF6, 0xD8));
            P.drawRect(QRectF(1.5, 3.5, 13, 9));
            P.drawPolyline(QPolygonF() << QPointF(1.5, 3.5) << QPointF(8, 9) << QPointF(14.5, 3.5));
            break;
        case 3:
            P.setPen(QPen(Blu, 1));
            P.setBrush(Celeste);
            P.drawPolygon(QPolygonF() << QPointF(8, 1.5) << QPointF(14.5, 7.5) << QPointF(12.5, 7.5)
                                      << QPointF(12.5, 14.5) << QPointF(3.5, 14.5) << QPointF(3.5, 7.5)
                                      << QPointF(1.5, 7.5));
            P.setBrush(Arancio);
            P.drawRect(QRectF(6.5, 9.5, 3, 5));
            break;
        default: {
            P.setPen(Qt::NoPen);
            P.setBrush(Azzurro);
            P.drawEllipse(QRectF(1, 1, 14, 14));
            P.setBrush(Qt::white);
            P.drawEllipse(QRectF(7, 3.5, 2.2, 2.2));
            P.drawRect(QRectF(7, 7, 2.2, 6));
            break;
        }
        }
        P.end();
        list << p;
    }
    return list;
}

} // namespace velmar
