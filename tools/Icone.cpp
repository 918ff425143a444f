// Draws the program's icon for an install: hicolor PNGs at the sizes the
// menus use and a scalable SVG, all from the window's own icon code.
// Usage: fennick-icone HICOLOR_DIR NAME   (writes HICOLOR_DIR/<size>/apps/NAME.*)
#include "app/Disegni.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "Uso: fennick-icone CARTELLA_HICOLOR NOME\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    auto folder = [&](const QString& Size) {
        const QString dir = root + u'/' + Size + QStringLiteral("/apps");
        return QDir().mkpath(dir) ? dir + u'/' + name : QString();
    };

    for (int size : {16, 32, 48, 64, 128, 256}) {
        QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        velmar::DisegnaIcona(p, size);
        p.end();
        const QString file = folder(QStringLiteral("%1x%1").arg(size));
        if (file.isEmpty() || !img.save(file + QStringLiteral(".png"))) {
            std::fprintf(stderr, "fennick-icone: impossibile scrivere l'icona %dx%d\n", size, size);
            return 1;
        }
    }

    const QString svg = folder(QStringLiteral("scalable"));
    QSvgGenerator gen;
    gen.setFileName(svg + QStringLiteral(".svg"));
    gen.setSize(QSize(32, 32));
    gen.setViewBox(QRect(0, 0, 32, 32));
    gen.setTitle(QStringLiteral("Velmar Fennick"));
    QPainter p;
    if (svg.isEmpty() || !p.begin(&gen)) {
        std::fprintf(stderr, "fennick-icone: impossibile scrivere l'icona SVG\n");
        return 1;
    }
    velmar::DisegnaIcona(p, 32);
    p.end();
    return 0;
}
