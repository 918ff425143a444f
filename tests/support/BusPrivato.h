// A D-Bus daemon of the test's own, and on it, when asked, a stand-in for
// the desktop's notification service that records each request and can
// report a click or a close as a desktop would. Included by tests/support
// and tests/app.
#pragma once

#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QVariant>

#include <fstream>
#include <vector>

namespace testing_support {

class FintoNotificatore : public QDBusVirtualObject {
public:
    // The arguments of each Notify, in order; its id is its number (from 1).
    std::vector<QList<QVariant>> Richieste;

    bool handleMessage(const QDBusMessage& Message, const QDBusConnection& Connection) override
    {
        if (Message.member() != QLatin1String("Notify"))
            return false;
        Richieste.push_back(Message.arguments());
        Connection.send(Message.createReply(QVariant::fromValue(uint(Richieste.size()))));
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
};

class BusPrivato {
public:
    // No service files: nothing is started on demand, only what the test puts there.
    explicit BusPrivato(bool ConNotificatore)
    {
        static int count = 0;
        const QString n = QString::number(++count);
        FCliente = QStringLiteral("cliente-") + n;
        FServizio = QStringLiteral("servizio-") + n;
        const std::string conf = FDir.File("bus.conf");
        // The session bus's own policy: anyone may send, receive and own a name.
        std::ofstream(conf) << "<busconfig><type>session</type><listen>unix:tmpdir=" << FDir.Path()
                            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                               "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                               "<allow own=\"*\"/></policy></busconfig>\n";
        FDaemon.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                       QStringLiteral("--config-file=") + QString::fromStdString(conf)});
        if (!FDaemon.waitForReadyRead(5000))
            return;
        const QString address = QString::fromUtf8(FDaemon.readLine()).trimmed();
        QDBusConnection::connectToBus(address, FCliente);
        QDBusConnection service = QDBusConnection::connectToBus(address, FServizio);
        if (ConNotificatore) {
            service.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &Notificatore);
            service.registerService(QStringLiteral("org.freedesktop.Notifications"));
        }
    }
    ~BusPrivato()
    {
        QDBusConnection::disconnectFromBus(FCliente);
        QDBusConnection::disconnectFromBus(FServizio);
        FDaemon.kill();
        FDaemon.waitForFinished(5000);
    }

    // The connection the program under test talks on.
    QDBusConnection Cliente() const { return QDBusConnection(FCliente); }

    // The service reports, as a desktop does when its notification Id is
    // clicked ("ActionInvoked", Id, "default") or closed ("NotificationClosed", Id, reason).
    void Segnale(const char* Name, uint Id, const QVariant& Detail)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QLatin1String(Name));
        signal << Id << Detail;
        QDBusConnection(FServizio).send(signal);
    }

    FintoNotificatore Notificatore;

private:
    TempDir FDir;
    QProcess FDaemon;
    QString FCliente, FServizio;
};

} // namespace testing_support
