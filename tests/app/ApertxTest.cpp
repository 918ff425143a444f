// The splash and its place in the start-up, and the message box as a
// person sees it (no answer hook).
#include "AppFixture.h"

#include "app/Apertx.h"
#include "app/Disegni.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

using namespace velmar;
using namespace testing_support;

namespace {

class Avvio : public AppTest {};

TEST_F(Avvio, TheSplashComesBetweenTheFormsCreationAndItsShowing)
{
    TPrima& f = MakeForm();
    // The output folder is there before the splash.
    EXPECT_TRUE(FileExists(Musica()));
    QPointer<TApertura> splash = MostraApertura(&f, 300);
    ASSERT_TRUE(splash);
    EXPECT_TRUE(splash->isVisible());
    EXPECT_FALSE(f.isVisible());
    Pump(150);
    EXPECT_TRUE(splash);
    EXPECT_FALSE(f.isVisible());
    ASSERT_TRUE(WaitFor([&] { return f.isVisible(); }, 3000));
    EXPECT_FALSE(splash); // destroyed
    EXPECT_FALSE(QApplication::closingDown());
}

TEST_F(Avvio, TheSplashIsItsPictureWithTheWhiteCutAway)
{
    TApertura splash;
    EXPECT_EQ(splash.size(), QSize(300, 215));
    EXPECT_EQ(splash.Skin().size(), QSize(300, 215));
    EXPECT_EQ(splash.objectName(), "Apertura");
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    const QRegion mask = splash.mask();
    const QImage& picture = splash.Skin();
    for (const QPoint& p : {QPoint(0, 0), QPoint(299, 214), QPoint(150, 100), QPoint(10, 200)}) {
        const bool white = (picture.pixel(p) & 0xFFFFFF) == 0xFFFFFF;
        EXPECT_EQ(mask.contains(p), !white) << p.x() << "," << p.y();
    }
    EXPECT_FALSE(mask.contains(QPoint(0, 0)));
    EXPECT_TRUE(mask.contains(QPoint(150, 100)));
    // The shape is whole: no row of it has a hole (white letters once had).
    for (int y = 0; y < picture.height(); ++y) {
        int runs = 0;
        for (int x = 0; x < picture.width(); ++x)
            runs += mask.contains(QPoint(x, y)) && !mask.contains(QPoint(x - 1, y));
        EXPECT_LE(runs, 1) << "row " << y;
    }

    // Another picture resizes the window to it.
    QImage small(120, 80, QImage::Format_RGB32);
    small.fill(Qt::blue);
    splash.SetSkin(small);
    EXPECT_EQ(splash.size(), QSize(120, 80));
}

TEST(Disegni, ThePicturesHaveTheirSizesAndAreNotBlank)
{
    QtTestApp();
    EXPECT_EQ(DisegnaBanner().size(), QSize(52, 306));
    for (int i = 0; i < 4; ++i) {
        const QImage icon = DisegnaIconaPagina(i).toImage();
        EXPECT_EQ(icon.size(), QSize(32, 32));
        EXPECT_GT(qAlpha(icon.pixel(16, 16)), 0) << i;
    }
    EXPECT_NE(DisegnaIconaPagina(1).toImage(), DisegnaIconaPagina(2).toImage());
    const QList<QPixmap> images = DisegnaImmagini2();
    ASSERT_EQ(images.size(), 5);
    for (const QPixmap& p : images)
        EXPECT_EQ(p.size(), QSize(16, 16));
    EXPECT_FALSE(DisegnaIconaFinestra().isNull());
}

// Presses button Button of the next modal box once it is up, after
// noting what it shows.
void AnswerBox(int Button, QString& Shown, QString& Title, int* Width = nullptr)
{
    QTimer::singleShot(50, [Button, &Shown, &Title, Width] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        Title = box->windowTitle();
        if (Width)
            *Width = box->width();
        for (QLabel* l : box->findChildren<QLabel*>())
            if (!l->text().isEmpty())
                Shown = l->text();
        const QList<QPushButton*> buttons = box->findChildren<QPushButton*>();
        ASSERT_GE(buttons.size(), Button);
        buttons[Button - 1]->click();
    });
}

TEST(MessageDialog, ShowsItsSetUpAndReturnsTheModalResultOfTheButtonPressed)
{
    QtTestApp();
    QWidget owner;
    owner.show();
    TMessageDialog box(&owner);
    box.SetButtonCount(2);
    box.SetButton1Caption(QString::fromUtf8("Sì"));
    box.SetButton2Caption("No");
    box.SetModalResult(2, 7);
    box.SetIconType(suiWarning);
    box.SetCaption("Velmar Fennick");
    box.SetText("Prima riga\r\rdopo\r\nfine");
    for (int button : {1, 2}) {
        QString shown, title;
        AnswerBox(button, shown, title);
        EXPECT_EQ(box.ShowModal(), button == 1 ? 1 : 7);
        EXPECT_EQ(shown, "Prima riga\n\ndopo\nfine");
        EXPECT_EQ(title, "Velmar Fennick");
    }
    // Escape counts as the last button.
    QTimer::singleShot(50, [] {
        if (QWidget* w = QApplication::activeModalWidget())
            static_cast<QDialog*>(w)->reject();
    });
    EXPECT_EQ(box.ShowModal(), 7);

    // A long caption and a short text: the box is wide enough for the
    // caption in bold beside a title bar's buttons.
    box.SetButtonCount(1);
    box.SetCaption("Errore - Velmar Fennick - un titolo lungo");
    box.SetText("Breve.");
    QString shown, title;
    int width = 0;
    AnswerBox(1, shown, title, &width);
    box.ShowModal();
    QFont bold = QApplication::font();
    bold.setBold(true);
    EXPECT_GE(width, QFontMetrics(bold).horizontalAdvance(box.Caption()) + 3 * 20);
}

TEST(MessageDialog, TheHookAnswersInsteadOfAPerson)
{
    QtTestApp();
    TMessageDialog box(nullptr);
    box.SetButtonCount(5);
    EXPECT_EQ(box.ButtonCount(), 3);
    box.SetButtonCount(2);
    int calls = 0;
    box.SetAnswerHook([&calls](const TMessageDialog& B) {
        ++calls;
        return B.ButtonCount() + 4; // out of range: the last button
    });
    EXPECT_EQ(box.ShowModal(), 2);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
