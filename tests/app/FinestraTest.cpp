// The window under a real window manager: Xvfb with openbox, the pointer
// driven by xdotool. The test starts them and runs itself again inside, on
// Qt's X11 platform (the rest of this program runs offscreen).
#include "AppFixture.h"

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

#include <poll.h>
#include <unistd.h>

#include <filesystem>

using namespace velmar;
using namespace testing_support;

namespace {

const char* const Dentro = "VELMAR_TEST_SOTTO_WM";

class Finestra : public AppTest {
protected:
    // Runs xdotool with Args; true when it did.
    static bool Puntatore(const QStringList& Args)
    {
        QProcess p;
        p.start(QStringLiteral("xdotool"), Args);
        return p.waitForFinished(5000) && p.exitCode() == 0;
    }
    static QStringList A(QPoint P) { return {QString::number(P.x()), QString::number(P.y())}; }

    // Whether the screen shows W where W believes it is: most of its pixels
    // match its own drawing.
    static bool SulloSchermo(QWidget* W)
    {
        const QImage own = W->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QPoint at = W->mapToGlobal(QPoint(0, 0));
        const QImage shown = QGuiApplication::primaryScreen()
                                 ->grabWindow(0, at.x(), at.y(), own.width(), own.height())
                                 .toImage()
                                 .convertToFormat(QImage::Format_RGB32);
        if (shown.size() != own.size())
            return false;
        long same = 0;
        for (int y = 0; y < own.height(); y += 2)
            for (int x = 0; x < own.width(); x += 2)
                same += own.pixel(x, y) == shown.pixel(x, y);
        return same * 4 > 9L * own.width() * own.height() / 10;
    }

    void SottoIlWindowManager();
};

// Start-up under the manager, several times: the window's place is known
// from its first show or never (until moved), by chance.
void Finestra::SottoIlWindowManager()
{
    for (int volta = 0; volta < 5; ++volta) {
        SCOPED_TRACE(volta);
        TPrima& f = MakeForm();
        ShowForm();
        EXPECT_TRUE(WaitFor([&] { return SulloSchermo(&f); }, 3000)) << "believed at " << f.mapToGlobal(QPoint()).x()
                                                                      << "," << f.mapToGlobal(QPoint()).y();
    }
    TPrima& f = *FForm;

    // The list's menu at the pointer, from a real right click.
    f.Avanti->click();
    f.Avanti->click();
    const QPoint click = f.Lista->viewport()->mapToGlobal(QPoint(40, 30));
    ASSERT_TRUE(Puntatore(QStringList{"mousemove"} + A(click) + QStringList{"click", "3"}));
    ASSERT_TRUE(WaitFor([&] { return f.Popup->isVisible(); }, 3000));
    EXPECT_LE((f.Popup->geometry().topLeft() - click).manhattanLength(), 2);
    f.Popup->close();

    // The boxes: dialogs of the window, centred over it.
    f.AggiungiVoce(Home() + "/x.wav");
    f.Messaggio->SetAnswerHook({});
    const std::pair<const char*, std::function<void()>> boxes[] = {
        {"Informazioni", [&] { f.InformazioniClick(); }},
        {"Elimina tutti", [&] { f.Eliminatutti1Click(); }},
    };
    for (const auto& [what, open] : boxes) {
        SCOPED_TRACE(what);
        bool seen = false;
        QTimer::singleShot(0, [&] {
            QDialog* box = nullptr;
            WaitFor([&] { return (box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) && SulloSchermo(box); }, 3000);
            seen = box;
            if (!box)
                return;
            EXPECT_TRUE(SulloSchermo(box));
            EXPECT_LE((box->geometry().center() - f.geometry().center()).manhattanLength(), 2);
            EXPECT_EQ(box->windowHandle()->transientParent(), f.windowHandle());
            EXPECT_TRUE(box->isModal());
            EXPECT_FALSE(box->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
            EXPECT_EQ(box->minimumSize(), box->maximumSize());
            box->reject();
        });
        open();
        EXPECT_TRUE(seen);
    }
    EXPECT_EQ(f.Lista->count(), 1); // "No"

    // The first drag of the title bar moves the window by the drag, no more.
    const QPoint start = f.pos(), grip = f.mapToGlobal(QPoint(200, 10));
    ASSERT_TRUE(Puntatore(QStringList{"mousemove"} + A(grip) + QStringList{"mousedown", "1"}));
    Pump(50);
    // The manager moves the window as the pointer goes; the last place counts.
    for (const QPoint step : {QPoint(5, 3), QPoint(75, 45), QPoint(150, 90)}) {
        ASSERT_TRUE(Puntatore(QStringList{"mousemove"} + A(grip + step)));
        WaitFor([&] { return f.pos() == start + step; }, 2000);
    }
    ASSERT_TRUE(Puntatore({"mouseup", "1"}));
    EXPECT_TRUE(WaitFor([&] { return f.pos() == start + QPoint(150, 90) && SulloSchermo(&f); }, 3000))
        << "moved by " << (f.pos() - start).x() << "," << (f.pos() - start).y();
}

// A process the test started, ended when the test is.
struct Figlio {
    QProcess P;
    ~Figlio()
    {
        if (P.state() != QProcess::NotRunning) {
            P.terminate();
            if (!P.waitForFinished(3000))
                P.kill();
            P.waitForFinished(1000);
        }
    }
};

TEST_F(Finestra, UnderAWindowManagerMenusBoxesAndTheFirstDragLandWhereThePointerSays)
{
    if (qEnvironmentVariableIsSet(Dentro)) {
        SottoIlWindowManager();
        return;
    }
    for (const char* tool : {"Xvfb", "openbox", "xdotool"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed (Debian packages xvfb, openbox, xdotool: packages.txt [test])";

    // Xvfb picks a free display and names it on the pipe once it serves.
    int pipeFd[2];
    ASSERT_EQ(pipe(pipeFd), 0);
    Figlio xvfb;
    xvfb.P.start(QStringLiteral("Xvfb"), {"-displayfd", QString::number(pipeFd[1]), "-screen", "0", "1280x1024x24",
                                          "-nolisten", "tcp"});
    close(pipeFd[1]);
    std::string display;
    pollfd in{pipeFd[0], POLLIN, 0};
    char c;
    while (poll(&in, 1, 10000) > 0 && read(pipeFd[0], &c, 1) == 1 && c != '\n')
        display += c;
    close(pipeFd[0]);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(":" + display));
    const std::string pronto = Home() + "/openbox-pronto";
    Figlio openbox;
    openbox.P.setProcessEnvironment(env);
    openbox.P.start(QStringLiteral("openbox"),
                    {"--sm-disable", "--startup", QString::fromStdString("touch '" + pronto + "'")});
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(pronto); }, 10000)) << "openbox did not start";

    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert(Dentro, "1");
    Figlio dentro;
    dentro.P.setProcessEnvironment(env);
    dentro.P.setProcessChannelMode(QProcess::MergedChannels);
    dentro.P.start(QCoreApplication::applicationFilePath(),
                   {"--gtest_filter=Finestra.UnderAWindowManagerMenusBoxesAndTheFirstDragLandWhereThePointerSays"});
    ASSERT_TRUE(dentro.P.waitForFinished(60000));
    const QByteArray out = dentro.P.readAll();
    EXPECT_EQ(dentro.P.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
}

} // namespace
