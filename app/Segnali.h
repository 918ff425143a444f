// SIGINT, SIGTERM and SIGHUP for the wizard: a logout, Ctrl-C in the
// terminal that started it or a kill close the window as a confirmed
// "Chiudi" would, so a run in progress is cancelled and cleaned up instead
// of leaving its temporary files behind.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace velmar {

// Lifecycle: one at a time, made on the GUI thread once the application
// exists; it installs handlers for the three signals (one ignored when the
// program started stays ignored) and restores the earlier ones when it goes.
// The handlers only write a byte to a socket; Arrivato(Signal) is emitted
// on the GUI thread for the first signal. A second signal ends the process
// at once, by that signal.
// Thread: GUI thread only (the handlers run on any thread).
class TSegnali : public QObject {
    Q_OBJECT
public:
    explicit TSegnali(QObject* AParent = nullptr);
    ~TSegnali() override;

    // The first signal received, or 0.
    int Ricevuto() const;

    // Ends the process by Signal as if it had not been caught, so the
    // session or the shell sees how it ended.
    [[noreturn]] static void TerminaCon(int Signal);

signals:
    void Arrivato(int Signal);

private:
    QSocketNotifier* FNotifier = nullptr;
};

} // namespace velmar
