// The desktop notification that tells the user a run is over and where
// its files are.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <optional>

class QEventLoopLocker;

namespace velmar {

// TVelmarNotifica shows notifications through the freedesktop notification
// service (org.freedesktop.Notifications, the session bus unless SetBus
// names another) and opens a folder in the file manager when the user
// clicks one (its "default" action, through QDesktopServices).
//
// Mostra sends the request and returns at once: false when the bus is not
// connected, and nothing is shown. A bus where no notification service
// runs answers with an error, which is dropped: nothing is shown and
// nothing reported. The service is asked to close the notification after
// Durata ms.
//
// While one of its notifications can still be clicked (until the service
// closes it, it is clicked, or Durata + 5 s have passed, whichever comes
// first) the object holds the application's event loop, so that a program
// whose last window has closed meanwhile still opens the folder.
//
// Lifecycle: owned by its Qt parent; destroying it lets the notifications
// go unanswered. Thread: GUI thread only.
class TVelmarNotifica : public QObject {
    Q_OBJECT
public:
    static constexpr int Durata = 10000;

    explicit TVelmarNotifica(QObject* AParent = nullptr);
    ~TVelmarNotifica() override;

    void SetBus(const QDBusConnection& Bus);
    // Summary Testo; a click opens Cartella (a local path).
    bool Mostra(const QString& Testo, const QString& Cartella);
    // Notifications shown whose click is still awaited.
    int InAttesa() const { return static_cast<int>(FAttese.size()); }

private slots:
    void AzioneInvocata(uint Id, const QString& Azione);
    void NotificaChiusa(uint Id, uint Motivo);

private:
    struct Attesa {
        QString Cartella;
        std::shared_ptr<QEventLoopLocker> Ciclo;
    };

    std::optional<QDBusConnection> FBus;
    std::map<uint, Attesa> FAttese;
};

// "Codifica completata: N file in Cartella", or "Codifica annullata: ..."
// for a run the user cancelled after N files.
QString TestoFineCodifica(int NumeroFile, const QString& Cartella, bool Annullata);

} // namespace velmar
