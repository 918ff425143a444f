// The desktop notification against a stand-in notification service on a
// bus of the test's own.
#include "support/VelmarNotifica.h"

#include "BusPrivato.h"
#include "QtTestApp.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

#include <functional>

using namespace velmar;
using namespace testing_support;

namespace {

// Stands in for the file manager.
class FileManager : public QObject {
    Q_OBJECT
public:
    FileManager() { QDesktopServices::setUrlHandler("file", this, "open"); }
    ~FileManager() override { QDesktopServices::unsetUrlHandler("file"); }
    QList<QUrl> Opened;
public slots:
    void open(const QUrl& Url) { Opened << Url; }
};

bool WaitFor(const std::function<bool()>& Done, int Ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!Done() && t.elapsed() < Ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return Done();
}

TEST(VelmarNotifica, AClickOpensTheFolderAClosedOneNothing)
{
    QtTestApp();
    BusPrivato bus(true);
    ASSERT_TRUE(bus.Cliente().isConnected());
    FileManager files;
    TVelmarNotifica n;
    n.SetBus(bus.Cliente());

    ASSERT_TRUE(n.Mostra("Codifica completata: 2 file in ~/Musica", "/tmp/una cartella/Musica"));
    ASSERT_TRUE(WaitFor([&] { return n.InAttesa() == 1; }));
    const QList<QVariant> asked = bus.Notificatore.Richieste.at(0);
    ASSERT_EQ(asked.size(), 8); // the arguments of Notify
    EXPECT_EQ(asked[0].toString(), "Velmar Fennick");
    EXPECT_EQ(asked[3].toString(), "Codifica completata: 2 file in ~/Musica");
    EXPECT_TRUE(asked[5].toStringList().contains("default"));
    EXPECT_GT(asked[7].toInt(), 0);

    bus.Segnale("ActionInvoked", 1, QString("default"));
    ASSERT_TRUE(WaitFor([&] { return !files.Opened.isEmpty(); }));
    EXPECT_EQ(files.Opened, QList<QUrl>{QUrl::fromLocalFile("/tmp/una cartella/Musica")});
    EXPECT_EQ(n.InAttesa(), 0);

    // Closed by the desktop: nothing is awaited any more, a late click opens nothing.
    ASSERT_TRUE(n.Mostra("altro", "/tmp/altro"));
    ASSERT_TRUE(WaitFor([&] { return n.InAttesa() == 1; }));
    bus.Segnale("NotificationClosed", 2, QVariant::fromValue(uint(1)));
    ASSERT_TRUE(WaitFor([&] { return n.InAttesa() == 0; }));
    bus.Segnale("ActionInvoked", 2, QString("default"));
    WaitFor([] { return false; }, 200);
    EXPECT_EQ(files.Opened.size(), 1);
}

TEST(VelmarNotifica, WithoutAServiceOrABusNothingIsShown)
{
    QtTestApp();
    BusPrivato bus(false);
    ASSERT_TRUE(bus.Cliente().isConnected());
    TVelmarNotifica n;
    n.SetBus(bus.Cliente());
    EXPECT_TRUE(n.Mostra("x", "/tmp"));
    WaitFor([] { return false; }, 300); // the bus's refusal comes back
    EXPECT_EQ(n.InAttesa(), 0);

    n.SetBus(QDBusConnection("nessun bus"));
    EXPECT_FALSE(n.Mostra("x", "/tmp"));
}

} // namespace

#include "VelmarNotificaTest.moc"
