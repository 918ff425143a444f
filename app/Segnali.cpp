#include "app/Segnali.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

namespace velmar {

namespace {

const int Segnali[] = {SIGINT, SIGTERM, SIGHUP};

int Coppia[2] = {-1, -1}; // the handlers write into [1]
volatile sig_atomic_t Primo = 0;
struct sigaction Precedenti[3];
bool Installati[3] = {};

void Gestore(int Signal)
{
    if (Primo != 0) {
        // The clean-up of the first is not waited for.
        std::signal(Signal, SIG_DFL);
        std::raise(Signal);
        return;
    }
    Primo = Signal;
    const int saved = errno;
    const char byte = 1;
    (void)!::write(Coppia[1], &byte, 1);
    errno = saved;
}

} // namespace

TSegnali::TSegnali(QObject* AParent) : QObject(AParent)
{
    Primo = 0;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, Coppia) != 0)
        return;
    FNotifier = new QSocketNotifier(Coppia[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(Coppia[0], bytes, sizeof bytes) > 0) {
        }
        emit Arrivato(Primo);
    });
    for (int i = 0; i < 3; ++i) {
        struct sigaction now {};
        if (::sigaction(Segnali[i], nullptr, &now) != 0 || now.sa_handler == SIG_IGN)
            continue;
        struct sigaction nuovo {};
        nuovo.sa_handler = Gestore;
        sigemptyset(&nuovo.sa_mask);
        nuovo.sa_flags = SA_RESTART;
        Installati[i] = ::sigaction(Segnali[i], &nuovo, &Precedenti[i]) == 0;
    }
}

TSegnali::~TSegnali()
{
    for (int i = 0; i < 3; ++i)
        if (std::exchange(Installati[i], false))
            ::sigaction(Segnali[i], &Precedenti[i], nullptr);
    delete FNotifier;
    for (int& fd : Coppia)
        if (fd >= 0)
            ::close(std::exchange(fd, -1));
}

int TSegnali::Ricevuto() const
{
    return Primo;
}

void TSegnali::TerminaCon(int Signal)
{
    std::signal(Signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, Signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(Signal);
    std::_Exit(128 + Signal);
}

} // namespace velmar
