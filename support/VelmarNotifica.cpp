#include "support/VelmarNotifica.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QEventLoopLocker>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

namespace velmar {

namespace {

const QString Servizio = QStringLiteral("org.freedesktop.Notifications");
const QString Percorso = QStringLiteral("/org/freedesktop/Notifications");

void Collega(QDBusConnection& Bus, QObject* Destinatario, bool Attaccare)
{
    const auto fai = [&](const char* Segnale, const char* Slot) {
        if (Attaccare)
            Bus.connect(Servizio, Percorso, Servizio, QLatin1String(Segnale), Destinatario, Slot);
        else
            Bus.disconnect(Servizio, Percorso, Servizio, QLatin1String(Segnale), Destinatario, Slot);
    };
    fai("ActionInvoked", SLOT(AzioneInvocata(uint, QString)));
    fai("NotificationClosed", SLOT(NotificaChiusa(uint, uint)));
}

} // namespace

TVelmarNotifica::TVelmarNotifica(QObject* AParent) : QObject(AParent) {}

TVelmarNotifica::~TVelmarNotifica()
{
    if (FBus)
        Collega(*FBus, this, false);
}

void TVelmarNotifica::SetBus(const QDBusConnection& Bus)
{
    if (FBus)
        Collega(*FBus, this, false);
    FAttese.clear();
    FBus = Bus;
    if (FBus->isConnected())
        Collega(*FBus, this, true);
}

bool TVelmarNotifica::Mostra(const QString& Testo, const QString& Cartella)
{
    if (!FBus)
        SetBus(QDBusConnection::sessionBus());
    if (!FBus->isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(Servizio, Percorso, Servizio, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("category"), QStringLiteral("transfer.complete")}};
    call << QStringLiteral("Velmar Fennick") << uint(0) << QStringLiteral("audio-x-generic") << Testo
         << QStringLiteral("Fai clic per aprire la cartella.")
         << QStringList{QStringLiteral("default"), QStringLiteral("Apri la cartella")} << hints << int(Durata);
    // Held from the request on: the window may close before the answer.
    auto ciclo = std::make_shared<QEventLoopLocker>();
    auto* watcher = new QDBusPendingCallWatcher(FBus->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, Cartella, ciclo](QDBusPendingCallWatcher* W) {
        W->deleteLater();
        const QDBusPendingReply<uint> reply = *W;
        if (reply.isError())
            return; // no service: nothing shown
        const uint id = reply.value();
        FAttese[id] = Attesa{Cartella, ciclo};
        QTimer::singleShot(Durata + 5000, this, [this, id] { FAttese.erase(id); });
    });
    return true;
}

void TVelmarNotifica::AzioneInvocata(uint Id, const QString& Azione)
{
    const auto it = FAttese.find(Id);
    if (it == FAttese.end() || Azione != QStringLiteral("default"))
        return;
    const QString cartella = it->second.Cartella;
    FAttese.erase(it);
    QDesktopServices::openUrl(QUrl::fromLocalFile(cartella));
}

void TVelmarNotifica::NotificaChiusa(uint Id, uint)
{
    FAttese.erase(Id);
}

QString TestoFineCodifica(int NumeroFile, const QString& Cartella, bool Annullata)
{
    return (Annullata ? QStringLiteral("Codifica annullata: %1 file in %2")
                      : QStringLiteral("Codifica completata: %1 file in %2"))
        .arg(NumeroFile)
        .arg(Cartella);
}

} // namespace velmar
