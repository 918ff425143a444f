#include "cli/SignalWatch.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace velmar::cli {

namespace {

std::atomic<int> PipeFd{-1};

// Async-signal-safe: one write to an eventfd.
void OnPipe(int)
{
    const int saved = errno;
    const uint64_t one = 1;
    const int fd = PipeFd.load();
    if (fd >= 0)
        (void)!::write(fd, &one, sizeof one);
    errno = saved;
}

bool Ignored(int Signal)
{
    struct sigaction now {};
    return ::sigaction(Signal, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
}

} // namespace

TSignalWatch::TSignalWatch(std::function<void(int Signal)> OnSignal) : FOnSignal(std::move(OnSignal))
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        if (!Ignored(s))
            sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &FOldMask);
    FSignalFd = ::signalfd(-1, &set, SFD_CLOEXEC);
    FWakeFd = ::eventfd(0, EFD_CLOEXEC);
    FPipeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FSignalFd >= 0 && FWakeFd >= 0 && FPipeFd >= 0) {
        if (!Ignored(SIGPIPE)) {
            PipeFd = FPipeFd;
            struct sigaction pipe {};
            pipe.sa_handler = OnPipe;
            sigemptyset(&pipe.sa_mask);
            pipe.sa_flags = SA_RESTART;
            FPipeCaught = ::sigaction(SIGPIPE, &pipe, &FOldPipe) == 0;
        }
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
        if (FPipeCaught)
            ::sigaction(SIGPIPE, &FOldPipe, nullptr);
        PipeFd = -1;
        pthread_sigmask(SIG_SETMASK, &FOldMask, nullptr);
    }
    for (int fd : {FSignalFd, FWakeFd, FPipeFd})
        if (fd >= 0)
            ::close(fd);
}

void TSignalWatch::EndBy(int Signal)
{
    ::signal(Signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, Signal);
    ::raise(Signal); // pending while blocked, delivered as the mask opens
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::_Exit(128 + Signal); // a signal whose default is not to end
}

void TSignalWatch::Watch()
{
    int seen = 0;
    for (;;) {
        pollfd fds[3] = {{FSignalFd, POLLIN, 0}, {FPipeFd, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[2].revents)
            return;
        int signal = 0;
        if (fds[0].revents) {
            signalfd_siginfo info;
            if (::read(FSignalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                signal = static_cast<int>(info.ssi_signo);
        } else if (fds[1].revents) {
            uint64_t count;
            if (::read(FPipeFd, &count, sizeof count) == static_cast<ssize_t>(sizeof count))
                signal = SIGPIPE;
        }
        if (signal == 0)
            continue;
        // A second request does not wait for the clean-up of the first.
        if (++seen > 1)
            EndBy(signal);
        FOnSignal(signal);
    }
}

} // namespace velmar::cli
