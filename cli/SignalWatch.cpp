#include "cli/SignalWatch.h"

#include <cerrno>
#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace velmar::cli {

TSignalWatch::TSignalWatch(std::function<void(int Signal)> OnSignal) : FOnSignal(std::move(OnSignal))
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction now {};
        if (::sigaction(s, nullptr, &now) == 0 && now.sa_handler != SIG_IGN)
            sigaddset(&set, s);
    }
    pthread_sigmask(SIG_BLOCK, &set, &FOldMask);
    FSignalFd = ::signalfd(-1, &set, SFD_CLOEXEC);
    FWakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (FSignalFd >= 0 && FWakeFd >= 0) {
        FThread = std::thread([this] { Watch(); });
        return;
    }
    // No watch: the signals act as they would without it.
    pthread_sigmask(SIG_SETMASK, &FOldMask, nullptr);
}

TSignalWatch::~TSignalWatch()
{
    if (FThread.joinable()) {
        const uint64_t one = 1;
        while (::write(FWakeFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        FThread.join();
        pthread_sigmask(SIG_SETMASK, &FOldMask, nullptr);
    }
    if (FSignalFd >= 0)
        ::close(FSignalFd);
    if (FWakeFd >= 0)
        ::close(FWakeFd);
}

void TSignalWatch::Watch()
{
    for (;;) {
        pollfd fds[2] = {{FSignalFd, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        signalfd_siginfo info;
        if (::read(FSignalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            FOnSignal(static_cast<int>(info.ssi_signo));
    }
}

} // namespace velmar::cli
