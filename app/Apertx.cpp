#include "app/Apertx.h"

#include "app/Disegni.h"
#include "app/Finestra.h"

#include "decor/VelmarRotateLabel.h"

#include <QApplication>
#include <QBitmap>
#include <QCloseEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPointer>
#include <QStyleFactory>
#include <QTimer>
#include <QTranslator>

namespace velmar {

TApertura::TApertura(QWidget* AParent) : QWidget(AParent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("Apertura"));
    setWindowTitle(QStringLiteral("Apertura"));
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    setFont(f);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    setFixedSize(300, 215);
    SetTransparentColor(0xFFFFFFFF);
    SetSkin(DisegnaApertura());
    CentraSulloSchermo(this);
    new TTrascina(this);
}

void TApertura::SetSkin(const QImage& Picture)
{
    FSkin = Picture;
    CutToPicture();
}

void TApertura::SetTransparentColor(QRgb Color)
{
    FTransparentColor = Color;
    CutToPicture();
}

void TApertura::CutToPicture()
{
    if (FSkin.isNull())
        return;
    setFixedSize(FSkin.size());
    const QImage rgb = FSkin.convertToFormat(QImage::Format_RGB32);
    setMask(QBitmap::fromImage(rgb.createMaskFromColor(FTransparentColor, Qt::MaskInColor)));
    update();
}

void TApertura::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (FSkin.isNull()) {
        p.setPen(Qt::black);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        return;
    }
    p.drawImage(0, 0, FSkin);
}

// The splash goes when its time is up, not before.
void TApertura::closeEvent(QCloseEvent* Event)
{
    Event->ignore();
}

TApertura* MostraApertura(QWidget* Main, int DurationMs)
{
    auto* splash = new TApertura;
    splash->show();
    splash->repaint();
    QPointer<TApertura> guard(splash);
    QPointer<QWidget> main(Main);
    QTimer::singleShot(DurationMs, [guard, main] {
        // Destroyed, not closed: closing the only window would end the program.
        delete guard.data();
        if (main)
            main->show();
    });
    return splash;
}

void PreparaApplicazione()
{
    QApplication::setApplicationName(QStringLiteral("Velmar Fennick"));
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(style);
    // Qt's own texts (dialogs, context menus) in Italian, like the program's.
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* name : {"qtbase_it", "qt_it"}) {
        auto* t = new QTranslator(QCoreApplication::instance());
        if (t->load(QString::fromLatin1(name), dir))
            QCoreApplication::installTranslator(t);
        else
            delete t;
    }
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    EnsureTahomaFont();
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    QApplication::setFont(font);
    QApplication::setWindowIcon(DisegnaIconaFinestra());
}

} // namespace velmar
